#include "app/convert/ResizeControls.h"

#include <string>

#include "core/text/TextRules.h"

namespace ozm {

namespace {

WriteResult Store(ProfileFile& profile, const SettingKey& key, std::int32_t value) {
    return profile.WriteInteger(key.section, key.name, value);
}

}  // namespace

void ResizeControls::ApplyZoomType(int mode, WriteReport* report) {
    feedback_.ShowConversionPage();
    model_.resizeMode = mode;
    switch (mode) {
        case 0:
            model_.zoomPreset = 100;
            if (report != nullptr) report->Add(Store(profile_, keys::MnZoomNumTag, 100));
            model_.sizeGroupVisible = false;
            model_.percentGroupVisible = false;
            break;
        case 1:
            model_.sizeGroupVisible = true;
            model_.percentGroupVisible = false;
            break;
        case 2:
            model_.sizeGroupVisible = false;
            model_.percentGroupVisible = true;
            break;
        default:
            break;
    }
}

void ResizeControls::ChooseZoomType(int mode, WriteReport& report) {
    // Choosing the item that is already chosen changes nothing (a radio group reports no click).
    if (mode < 0 || mode > 2 || mode == model_.resizeMode) return;
    ApplyZoomType(mode, &report);
    report.Add(Store(profile_, keys::ZoomType, mode));
}

void ResizeControls::ZoomTypeClick(int mode) {
    WriteReport report;
    ChooseZoomType(mode, report);
    report.ShowTo(feedback_);
}

void ResizeControls::EdtWidthExit() {
    if (!model_.keepAspect) return;
    if (!ParseWholeNumber(model_.edtWidth)) model_.edtWidth = "1024";
    model_.edtHeight = kAutoText;
}

void ResizeControls::EdtHeightExit() {
    if (!model_.keepAspect) return;
    if (!ParseWholeNumber(model_.edtHeight)) model_.edtHeight = "768";
    model_.edtWidth = kAutoFromWidthText;
}

void ResizeControls::ApplyKeepAspect(bool checked) {
    model_.keepAspect = checked;
    feedback_.ShowConversionPage();
    if (ParseWholeNumber(model_.edtWidth)) {
        model_.edtHeight = kAutoAdjustText;
    } else if (ParseWholeNumber(model_.edtHeight)) {
        model_.edtWidth = kAutoAdjustText;
    } else {
        model_.edtWidth.clear();
        model_.edtHeight.clear();
    }
}

void ResizeControls::CbZoomAutoClick(bool checked) {
    ApplyKeepAspect(checked);
    WriteReport report;
    report.Add(profile_.WriteBool(keys::ZoomAuto.section, keys::ZoomAuto.name, checked));
    report.ShowTo(feedback_);
}

bool ResizeControls::EdtZoomPeiKeyPress() {
    if (ParseWholeNumber(model_.edtZoomPei)) return true;
    feedback_.ShowMessage(std::string(kEnterNumberMessage));
    model_.edtZoomPei = "10";
    feedback_.Focus(FocusTarget::EdtZoomPei);
    return false;
}

void ResizeControls::EdtZoomPeiExit() {
    WriteReport report;
    report.Add(
        profile_.WriteString(keys::EdtZoomPei.section, keys::EdtZoomPei.name, model_.edtZoomPei));
    report.ShowTo(feedback_);
}

AfterPresetPick ResizeControls::PickZoomPreset(std::int32_t percent, bool convertOnPick) {
    WriteReport report;
    ChooseZoomType(2, report);
    model_.zoomPreset = percent;
    model_.zoomMenuCheckedTag = percent;
    model_.edtZoomPei = std::to_string(percent);
    report.Add(Store(profile_, keys::MnZoomNumTag, percent));
    report.ShowTo(feedback_);
    return convertOnPick ? AfterPresetPick::StartConversion : AfterPresetPick::ReopenMenu;
}

void ResizeControls::RestoreKeepAspect(bool stored) {
    if (stored != model_.keepAspect) ApplyKeepAspect(stored);
}

void ResizeControls::RestoreZoomType(int stored) {
    // A radio group clamps an index beyond its items to the last one; -1 leaves none chosen.
    const int mode = stored < -1 ? -1 : (stored > 2 ? 2 : stored);
    if (mode == model_.resizeMode) return;
    if (mode == -1) {
        model_.resizeMode = -1;
        return;
    }
    ApplyZoomType(mode, nullptr);
}

void ResizeControls::RestorePreset(std::int32_t stored) {
    model_.zoomPreset = stored;
    model_.zoomMenuCheckedTag = stored;
    model_.edtZoomPei = std::to_string(stored);
}

}  // namespace ozm
