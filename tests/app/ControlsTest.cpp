#include <gtest/gtest.h>

#include "app/RecordingFeedback.h"
#include "app/convert/ResizeControls.h"
#include "app/convert/RotationSettings.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using test::RecordingFeedback;

class ControlsFixture : public ::testing::Test {
  protected:
    ControlsFixture()
        : profile(dir / "defualt.ini"),
          resize(model, profile, feedback),
          rotation(model, profile, feedback) {}
    std::int32_t Stored(const SettingKey& key) {
        return profile.ReadInteger(key.section, key.name, -99);
    }

    test::ScratchDir dir;
    SettingsModel model;
    ProfileFile profile;
    RecordingFeedback feedback;
    ResizeControls resize;
    RotationSettings rotation;
};

TEST_F(ControlsFixture, ResizeModeAndKeepAspect) {
    resize.ZoomTypeClick(2);
    EXPECT_TRUE(model.percentGroupVisible);
    EXPECT_FALSE(model.sizeGroupVisible);
    EXPECT_EQ(Stored(keys::ZoomType), 2);
    model.zoomPreset = 35;
    resize.ZoomTypeClick(2);  // already chosen: the preset stays
    EXPECT_EQ(model.zoomPreset, 35);
    resize.ZoomTypeClick(0);
    EXPECT_EQ(model.zoomPreset, 100);
    EXPECT_EQ(Stored(keys::MnZoomNumTag), 100);
    EXPECT_FALSE(model.percentGroupVisible || model.sizeGroupVisible);
    EXPECT_EQ(feedback.pageShown, 2);

    // Without KeepAspect leaving the edits changes nothing.
    model.edtWidth = "Auto";
    model.edtHeight = "x";
    resize.EdtWidthExit();
    EXPECT_EQ(model.edtWidth, "Auto");

    model.edtWidth = "800";
    model.edtHeight = "600";
    resize.CbZoomAutoClick(true);
    EXPECT_EQ(model.edtHeight, "自动调整");
    EXPECT_TRUE(profile.ReadBool("default", "ZoomAuto", false));
    model.edtWidth = "abc";
    resize.EdtWidthExit();
    EXPECT_EQ(model.edtWidth, "1024");
    EXPECT_EQ(model.edtHeight, "Auto");
    resize.EdtHeightExit();
    EXPECT_EQ(model.edtHeight, "768");
    EXPECT_EQ(model.edtWidth, "根据宽度自动调整");
    EXPECT_EQ(model.Options().width, std::nullopt);
    EXPECT_EQ(model.Options().height, 768);

    model.edtWidth = "x";
    model.edtHeight = "y";
    resize.CbZoomAutoClick(false);
    EXPECT_EQ(model.edtWidth, "");
    EXPECT_EQ(model.edtHeight, "");
    EXPECT_FALSE(profile.ReadBool("default", "ZoomAuto", true));
}

TEST_F(ControlsFixture, PercentageEntryAndPresets) {
    model.edtZoomPei = "$14";
    EXPECT_TRUE(resize.EdtZoomPeiKeyPress());
    EXPECT_EQ(model.Options().percentage, 20);
    model.edtZoomPei = "20 ";
    EXPECT_EQ(model.Options().percentage, std::nullopt);
    model.edtZoomPei = "";  // emptied with Backspace
    EXPECT_FALSE(resize.EdtZoomPeiKeyPress());
    EXPECT_EQ(feedback.messages, (std::vector<std::string>{"Please enter a number"}));
    EXPECT_EQ(model.edtZoomPei, "10");
    EXPECT_EQ(feedback.focused, (std::vector<FocusTarget>{FocusTarget::EdtZoomPei}));
    model.edtZoomPei = "33";
    resize.EdtZoomPeiExit();
    EXPECT_EQ(profile.ReadString("default", "EdtZoomPei", ""), "33");

    EXPECT_EQ(resize.PickZoomPreset(35, false), AfterPresetPick::ReopenMenu);
    EXPECT_EQ(model.resizeMode, 2);
    EXPECT_TRUE(model.percentGroupVisible);
    EXPECT_EQ(model.edtZoomPei, "35");
    EXPECT_EQ(model.zoomMenuCheckedTag, 35);
    EXPECT_EQ(Stored(keys::MnZoomNumTag), 35);
    EXPECT_EQ(Stored(keys::ZoomType), 2);
    EXPECT_EQ(resize.PickZoomPreset(200, true), AfterPresetPick::StartConversion);
    EXPECT_EQ(model.Options().percentage, 200);
}

TEST_F(ControlsFixture, RotationListEntriesAndPresets) {
    rotation.LbRoateTypeClick(2);
    EXPECT_EQ(model.edtRotate1, "180");
    EXPECT_EQ(model.edtRotate2, "0");
    EXPECT_EQ(model.Options().rotateDegrees, 180);
    EXPECT_EQ(Stored(keys::LbRoateType), 2);
    EXPECT_EQ(Stored(keys::EdtRoateRate1), 180);

    for (const char* outside : {"360", "-90", "0"}) {
        model.rotateDegrees = 45;
        model.edtRotate1 = outside;
        rotation.EdtRoateRate1Exit();
        EXPECT_EQ(model.edtRotate1, "0") << outside;
        EXPECT_EQ(model.rotateDegrees, 0) << outside;
    }
    model.edtRotate1 = "30";
    rotation.EdtRoateRate1Exit();
    model.edtRotate1 = "thirty";  // stays, the previous angle remains
    rotation.EdtRoateRate1Exit();
    EXPECT_EQ(model.edtRotate1, "thirty");
    EXPECT_EQ(model.rotateDegrees, 30);
    model.edtRotate2 = "250";
    rotation.EdtRoateRate2Exit();
    EXPECT_EQ(model.rotateHundredths, 250);
    EXPECT_EQ(Stored(keys::EdtRoateRate2), 250);
    model.edtRotate2 = "-5";
    rotation.EdtRoateRate2Exit();
    EXPECT_EQ(model.edtRotate2, "0");
    EXPECT_EQ(model.rotateListIndex, 2);  // typing leaves the list as it was

    EXPECT_EQ(rotation.PickRotatePreset(45, false), AfterPresetPick::ReopenMenu);
    EXPECT_EQ(model.edtRotate1, "45");
    EXPECT_EQ(model.rotateMenuCheckedTag, 45);
    EXPECT_EQ(model.rotateListIndex, 2);
    EXPECT_EQ(Stored(keys::EdtRoateRate1), 45);

    rotation.LbRoateTypeClick(-1);  // no item: the angle stays
    EXPECT_EQ(model.rotateDegrees, 45);
    EXPECT_EQ(Stored(keys::LbRoateType), -1);
    EXPECT_TRUE(feedback.messages.empty());
}

TEST(Controls, WriteFailureIsShownOnceAfterTheChange) {
    test::ScratchDir dir;
    test::WriteAll(dir / "file", {1});
    SettingsModel model;
    ProfileFile profile(dir / "file" / "defualt.ini");
    RecordingFeedback feedback;
    RotationSettings rotation(model, profile, feedback);
    rotation.LbRoateTypeClick(1);
    EXPECT_EQ(model.rotateDegrees, 90);
    EXPECT_EQ(feedback.messages,
              (std::vector<std::string>{"Unable to write to " +
                                        (dir / "file" / "defualt.ini").string()}));
}

}  // namespace
}  // namespace ozm
