#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/RecordingFeedback.h"
#include "app/convert/ResizeControls.h"
#include "app/convert/SettingsStore.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;
using test::RecordingFeedback;
using test::ScratchDir;

void WriteText(const fs::path& path, const std::string& text) {
    test::WriteAll(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string ReadText(const fs::path& path) {
    const auto bytes = test::ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

SettingsModel Load(SettingsStore& store) {
    SettingsModel model;
    RecordingFeedback feedback;
    store.LoadSettings(model, feedback);
    EXPECT_TRUE(feedback.messages.empty());
    return model;
}

TEST(SettingsStore, FirstStartGivesEveryDefault) {
    ScratchDir dir;
    SettingsStore store(dir.Path());
    const SettingsModel m = Load(store);
    const std::string folder = dir.Path().string() + "/";
    EXPECT_EQ(store.ProgramFolderText(), folder);
    EXPECT_EQ(m.source.editText, folder + "source/");
    EXPECT_EQ(m.target.editText, folder + "target/");
    EXPECT_EQ(m.edtWidth, "1024");
    EXPECT_EQ(m.edtHeight, "768");
    EXPECT_EQ(m.lastUsedFormat, 1);
    EXPECT_EQ(m.jpegQuality, 75);
    EXPECT_EQ(m.favouriteFolder, "");
    EXPECT_EQ(m.lastSourceFolder, "");
    for (std::size_t i = 0; i < kFormatBoxCount; ++i) EXPECT_EQ(m.formatBoxes[i], i == 0) << i;
    // The boxes' keys in the order they are loaded and saved, with the codes they tick.
    std::string boxes;
    for (const FormatBoxInfo& box : kFormatBoxes) {
        boxes += std::string(box.key.name) + ":" + std::to_string(box.outputCode) + " ";
    }
    EXPECT_EQ(boxes,
              "CbJPG:1 CbPNG:2 CBBMP:3 CBJPEG:4 CBGIF:7 CBICO:0 CBEMF:6 CBWMF:5 CBPCX:0 CBTIFF:8 ");
    EXPECT_FALSE(m.keepAspect);
    EXPECT_EQ(m.resizeMode, 0);
    EXPECT_FALSE(m.sizeGroupVisible || m.percentGroupVisible);
    EXPECT_EQ(m.rotateListIndex, 0);
    EXPECT_EQ(m.edtZoomPei, "100");
    EXPECT_EQ(m.zoomPreset, 100);
    EXPECT_EQ(m.zoomMenuCheckedTag, 100);
    EXPECT_EQ(m.source.list.CurrentIndex(), -1);
    EXPECT_FALSE(m.source.previewSwitch || m.target.previewSwitch);
    EXPECT_FALSE(m.source.previewPanelVisible || m.target.previewPanelVisible);
    EXPECT_EQ(m.toolBarWidth, 157);
    EXPECT_EQ(m.rotateDegrees, 0);
    EXPECT_EQ(m.edtRotate1, "0");
    EXPECT_EQ(m.rotateMenuCheckedTag, 0);
    EXPECT_TRUE(m.autoShowTargetFolder);
    EXPECT_TRUE(m.recentFolders.Items().empty());
    EXPECT_EQ(store.ReadBool(keys::CbAutoClose, defaults::CbAutoClose), false);
    // Loading writes nothing.
    EXPECT_FALSE(fs::exists(dir / "defualt.ini"));

    const ConversionOptions options = m.Options();
    FormatTicks jpgOnly;
    jpgOnly.Tick(FormatCode::Jpg);
    EXPECT_EQ(options.formats, jpgOnly);
    EXPECT_EQ(options.width, 1024);
    EXPECT_EQ(options.percentage, 100);
}

TEST(SettingsStore, SavedSettingsReadBack) {
    ScratchDir dir;
    {
        SettingsStore store(dir.Path());
        SettingsModel m = Load(store);
        m.source.editText = "/pics/in/";
        m.target.editText = "/pics/out/";
        m.favouriteFolder = "/fav/";
        m.lastSourceFolder = "/pics/in/";
        m.lastUsedFormat = 7;
        m.edtWidth = "800";
        m.edtHeight = "abc";  // not a number: the stored 768 stays
        m.formatBoxes = {false, true, false, false, false, true, false, false, false, true};
        m.edtZoomPei = "33";
        m.zoomPreset = 50;
        m.toolBarWidth = 200;
        m.recentFolders.AddRecentFolder("/b");
        m.recentFolders.AddRecentFolder("/a/");
        ASSERT_TRUE(store.SaveSettings(m).Ok());
    }
    SettingsStore store(dir.Path());
    const SettingsModel m = Load(store);
    EXPECT_EQ(m.source.editText, "/pics/in/");
    EXPECT_EQ(m.target.editText, "/pics/out/");
    EXPECT_EQ(m.favouriteFolder, "/fav/");
    EXPECT_EQ(m.lastSourceFolder, "/pics/in/");
    EXPECT_EQ(m.lastUsedFormat, 7);
    EXPECT_EQ(m.edtWidth, "800");
    EXPECT_EQ(m.edtHeight, "768");
    EXPECT_EQ(m.formatBoxes, (std::array<bool, 10>{false, true, false, false, false, true, false,
                                                   false, false, true}));
    // The preset survives a restart, not the typed percentage.
    EXPECT_EQ(m.edtZoomPei, "50");
    EXPECT_EQ(m.zoomMenuCheckedTag, 50);
    EXPECT_EQ(m.toolBarWidth, 200);
    EXPECT_EQ(m.recentFolders.Items(), (std::vector<std::string>{"/a/", "/b/"}));
    EXPECT_EQ(store.ReadInteger(keys::LbDocListInd, 5), -1);
}

TEST(SettingsStore, HandWrittenFileExamples) {
    ScratchDir dir;
    WriteText(dir / "defualt.ini",
              "[DEFAULT]\n"
              "cbjpg=0\n"
              "CBTIFF=1\n"
              "ZoomAuto=1\n"
              "zoomtype=9\n"
              "edtwidth=640\n"
              "[imgconvert]\n"
              "SbToollBarWidth=$A0\n"
              "EdtRoateRate1=400\n"
              "EdtRoateRate2=abc\n"
              "LbRoateType=7\n");
    SettingsStore store(dir.Path());
    const std::string before = ReadText(dir / "defualt.ini");
    const SettingsModel m = Load(store);
    EXPECT_EQ(m.formatBoxes, (std::array<bool, 10>{false, false, false, false, false, false, false,
                                                   false, false, true}));
    EXPECT_EQ(m.toolBarWidth, 160);
    // KeepAspect restored on, with a width that is a number: the height shows the automatic text.
    EXPECT_TRUE(m.keepAspect);
    EXPECT_EQ(m.edtWidth, "640");
    EXPECT_EQ(m.edtHeight, "自动调整");
    // A mode beyond the radio items is the last item.
    EXPECT_EQ(m.resizeMode, 2);
    EXPECT_TRUE(m.percentGroupVisible);
    EXPECT_EQ(m.rotateDegrees, 400);
    EXPECT_EQ(m.edtRotate1, "400");
    EXPECT_EQ(m.rotateHundredths, 0);
    EXPECT_EQ(m.rotateListIndex, -1);
    EXPECT_EQ(m.Options().rotateDegrees, 400);
    EXPECT_EQ(ReadText(dir / "defualt.ini"), before);
}

TEST(SettingsStore, AToolBarWidthOutsideItsRangeIsClamped) {
    for (const auto& [stored, width] : {std::pair{"2147483647", 800}, {"-2147483648", 120},
                                        {"0x7FFFFFFF", 800}, {"5", 120}, {"300", 300}}) {
        ScratchDir dir;
        WriteText(dir / "defualt.ini", std::string("[ImgConvert]\nSbToollBarWidth=") + stored);
        SettingsStore store(dir.Path());
        EXPECT_EQ(Load(store).toolBarWidth, width) << stored;
    }
}

TEST(SettingsStore, UnwritableProgramFolder) {
    ScratchDir dir;
    WriteText(dir / "file", "x");
    SettingsStore store(dir / "file" / "sub");
    SettingsModel m = Load(store);
    EXPECT_EQ(m.jpegQuality, 75);
    const WriteResult saved = store.SaveSettings(m);
    EXPECT_EQ(saved.error, "Unable to write to " + (dir / "file" / "sub" / "defualt.ini").string());

    RecordingFeedback feedback;
    store.FormatBoxClick(m, FormatBoxFor(FormatCode::Png), true, feedback);
    EXPECT_TRUE(m.FormatBoxChecked(FormatBoxFor(FormatCode::Png)));
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0], saved.error);
    EXPECT_FALSE(m.recentFolders.Save(store.HistoryFile()).Ok());
}

TEST(SettingsStore, NamesKeepTheirBytes) {
    ScratchDir dir;
    // "D:\我的图片\" and "/home/u/源/" in GBK, and a Latin-1 name, with a blank line between:
    // the names are bytes and come back as they are.
    const std::string gbkFolder = "D:\\\xCE\xD2\xB5\xC4\xCD\xBC\xC6\xAC\\";
    WriteText(dir / "HistoryPaths.txt",
              gbkFolder + "\r\n\r\n/home/u/\xD4\xB4/\r\n/p/caf\xE9s/\r\n");
    WriteText(dir / "defualt.ini", "[default]\nSourcePath=/p/caf\xE9s/\n");
    SettingsStore store(dir.Path());
    SettingsModel m = Load(store);
    EXPECT_EQ(m.recentFolders.Items(),
              (std::vector<std::string>{gbkFolder, "/home/u/\xD4\xB4/", "/p/caf\xE9s/"}));
    EXPECT_EQ(m.source.editText, "/p/caf\xE9s/");
    m.target.editText = "/q/x \xFF/";
    ASSERT_TRUE(store.SaveSettings(m).Ok());
    EXPECT_EQ(ReadText(dir / "HistoryPaths.txt"),
              gbkFolder + "\n/home/u/\xD4\xB4/\n/p/caf\xE9s/\n");
    SettingsStore again(dir.Path());
    const SettingsModel back = Load(again);
    EXPECT_EQ(back.source.editText, "/p/caf\xE9s/");
    EXPECT_EQ(back.target.editText, "/q/x \xFF/");
}

TEST(SettingsStore, WindowAndQuickConversionKeepEachOthersChanges) {
    ScratchDir dir;
    SettingsStore windowStore(dir.Path());
    SettingsModel window = Load(windowStore);
    window.recentFolders.AddRecentFolder("/w1");

    // A quick conversion runs while the window is open, and ends first.
    {
        SettingsStore quickStore(dir.Path());
        SettingsModel quick = Load(quickStore);
        ASSERT_TRUE(quickStore.WriteInteger(keys::LastUseImageTypeTag, 5).Ok());
        ASSERT_TRUE(quickStore.WriteString(keys::OZMMyHisPath, "/q/").Ok());
        quick.recentFolders.AddRecentFolder("/q");
        quick.lastUsedFormat = 5;
        quick.lastSourceFolder = "/q/";
        ASSERT_TRUE(quickStore.SaveSettings(quick).Ok());
    }
    // The window closes with its own changes only.
    window.formatBoxes[static_cast<std::size_t>(FormatBoxFor(FormatCode::Png))] = true;
    window.edtWidth = "640";
    window.recentFolders.AddRecentFolder("/w2");
    ASSERT_TRUE(windowStore.SaveSettings(window).Ok());

    SettingsStore next(dir.Path());
    const SettingsModel m = Load(next);
    EXPECT_EQ(m.lastUsedFormat, 5);
    EXPECT_EQ(m.lastSourceFolder, "/q/");
    EXPECT_TRUE(m.FormatBoxChecked(FormatBoxFor(FormatCode::Png)));
    EXPECT_EQ(m.edtWidth, "640");
    EXPECT_EQ(m.recentFolders.Items(), (std::vector<std::string>{"/w2/", "/w1/", "/q/"}));
}

TEST(SettingsStore, HistoryThatCannotBeLoadedIsKept) {
    ScratchDir dir;
    // Larger than any history file this program writes: not loaded, so not replaced either.
    std::string big = "/kept/\n";
    big.resize(2 * 1024 * 1024, 'x');
    WriteText(dir / "HistoryPaths.txt", big);
    SettingsStore store(dir.Path());
    SettingsModel m = Load(store);
    EXPECT_TRUE(m.recentFolders.Items().empty());
    m.recentFolders.AddRecentFolder("/new");
    EXPECT_EQ(store.SaveSettings(m).error,
              "Unable to write to " + (dir / "HistoryPaths.txt").string());
    EXPECT_EQ(ReadText(dir / "HistoryPaths.txt"), big);
}

}  // namespace
}  // namespace ozm
