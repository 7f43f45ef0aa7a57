#pragma once
// The rotation group of the main window (the list of quarter turns and the degree and
// hundredths entries) and the angle presets of the quick-conversion menu. Every path ends in
// RotateDegrees and RotateHundredths of the settings model, which the rotation step reads
// for every file, and stores them at once.

#include <array>
#include <cstdint>
#include <string_view>

#include "app/convert/ProfileFile.h"
#include "app/convert/ResizeControls.h"
#include "app/convert/SettingsModel.h"
#include "app/convert/WindowFeedback.h"

namespace ozm {

// Items of LbRoateType, in order, and the angle each sets.
inline constexpr std::array<std::string_view, 4> kRotateListItems = {"不旋转", "旋转90度",
                                                                     "旋转180度", "旋转270度"};
inline constexpr std::array<std::int32_t, 4> kRotateListDegrees = {0, 90, 180, 270};

struct RotatePreset {
    std::int32_t degrees;             // the entry's tag
    std::string_view caption;         // in MnRotate ("设置旋转角度")
    std::string_view convertCaption;  // in RotateandConvert1 ("设置旋转角度并转换")
    bool separator;                   // a separator line holds this position
};

// Positions of both angle submenus.
inline constexpr std::array<RotatePreset, 9> kRotatePresets = {{
    {0, "不旋转", "不旋转", false},
    {90, "90°", "90°", false},
    {180, "180°", "180°", false},
    {270, "270°", "270°", false},
    {0, "-", "-", true},
    {45, "45°", "45°", false},
    {135, "135°", "135°", false},
    {225, "225°", "225°", false},
    {315, "315°", "315 °", false},
}};

class RotationSettings {
  public:
    RotationSettings(SettingsModel& model, ProfileFile& profile, WindowFeedback& feedback)
        : model_(model), profile_(profile), feedback_(feedback) {}

    // An item of LbRoateType chosen (-1: the selection went away).
    void LbRoateTypeClick(int index);

    // Leaving EdtRoateRate1: a whole number 1..359 becomes RotateDegrees; any other whole
    // number turns the entry into "0" and the angle into 0; a text that is no number changes
    // nothing. Leaving EdtRoateRate2: 1 or more becomes RotateHundredths, 0 or less gives "0".
    void EdtRoateRate1Exit();
    void EdtRoateRate2Exit();

    // An angle preset picked in MnRotate or RotateandConvert1. The list keeps its selection.
    AfterPresetPick PickRotatePreset(std::int32_t degrees, bool convertOnPick);

    // Start-up: the list's stored selection, then the stored angle, which the entries show and
    // the preset submenus check.
    void RestoreListIndex(std::int32_t stored);
    void RestoreAngle(std::int32_t degrees, std::int32_t hundredths);

  private:
    void SetAngle(std::int32_t degrees, std::int32_t hundredths);
    void StoreAngle(WriteReport& report);

    SettingsModel& model_;
    ProfileFile& profile_;
    WindowFeedback& feedback_;
};

}  // namespace ozm
