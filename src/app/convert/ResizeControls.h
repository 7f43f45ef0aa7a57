#pragma once
// The resize controls of the main window and the zoom presets of the quick-conversion menu:
// what each event does to the settings model and which keys it stores at once.

#include <array>
#include <cstdint>
#include <string_view>

#include "app/convert/ProfileFile.h"
#include "app/convert/SettingsModel.h"
#include "app/convert/WindowFeedback.h"

namespace ozm {

// Texts the edits take in keep-aspect mode (each where the system puts it).
inline constexpr std::string_view kAutoText = "Auto";
inline constexpr std::string_view kAutoFromWidthText = "根据宽度自动调整";
inline constexpr std::string_view kAutoAdjustText = "自动调整";
inline constexpr std::string_view kEnterNumberMessage = "Please enter a number";

struct ZoomPreset {
    std::int32_t percent;
    std::string_view caption;  // "&" marks the accelerator
};

// The presets of MnZoom ("设置缩放比例") and ResizeandConvert1 ("设置缩放比例并转换"), in
// menu order; both submenus list them at the same positions.
inline constexpr std::array<ZoomPreset, 19> kZoomPresets = {{
    {5, "5%"},     {10, "&10%"},  {15, "15%"},   {20, "&20%"},  {35, "&35%"},
    {40, "40%"},   {50, "50%"},   {60, "60%"},   {75, "75%"},   {85, "85%"},
    {90, "90%"},   {95, "95%"},   {100, "100%"}, {105, "105%"}, {110, "110%"},
    {120, "120%"}, {150, "150%"}, {200, "200%"}, {300, "300%"},
}};

// What the quick-conversion menu does after a preset was picked.
enum class AfterPresetPick {
    ReopenMenu,       // picked from the preset submenu
    StartConversion,  // picked from the "... 并转换" submenu (ConvertOnPick)
};

class ResizeControls {
  public:
    ResizeControls(SettingsModel& model, ProfileFile& profile, WindowFeedback& feedback)
        : model_(model), profile_(profile), feedback_(feedback) {}

    // rgZoomType: the user chose item 0 (none), 1 (size) or 2 (percentage). Choosing the
    // item already chosen does nothing.
    void ZoomTypeClick(int mode);

    // Leaving EdtWidth / EdtHeight: in keep-aspect mode the edit left last gives its side
    // ("1024"/"768" when it holds no number) and the other one shows an automatic text.
    void EdtWidthExit();
    void EdtHeightExit();

    // CbZoomAuto turned on or off.
    void CbZoomAutoClick(bool checked);

    // A key press in EdtZoomPei, before the key changes the text. False when the key must
    // be discarded: the text held no number, so the user was told and the text reset to "10".
    bool EdtZoomPeiKeyPress();
    void EdtZoomPeiExit();

    // A zoom preset picked in MnZoom or ResizeandConvert1.
    AfterPresetPick PickZoomPreset(std::int32_t percent, bool convertOnPick);

    // Start-up, in the order the settings are loaded. A stored KeepAspect or mode that
    // differs from the window's state has the effects of choosing it, but is not stored
    // again. The stored preset is checked in the menus and replaces the typed percentage.
    void RestoreKeepAspect(bool stored);
    void RestoreZoomType(int stored);
    void RestorePreset(std::int32_t stored);

  private:
    void ChooseZoomType(int mode, WriteReport& report);
    void ApplyZoomType(int mode, WriteReport* report);  // stores nothing when report is null
    void ApplyKeepAspect(bool checked);

    SettingsModel& model_;
    ProfileFile& profile_;
    WindowFeedback& feedback_;
};

}  // namespace ozm
