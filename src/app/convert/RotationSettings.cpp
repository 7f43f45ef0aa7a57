#include "app/convert/RotationSettings.h"

#include <string>

#include "core/text/TextRules.h"

namespace ozm {

void RotationSettings::SetAngle(std::int32_t degrees, std::int32_t hundredths) {
    model_.rotateDegrees = degrees;
    model_.rotateHundredths = hundredths;
    model_.edtRotate1 = std::to_string(degrees);
    model_.edtRotate2 = std::to_string(hundredths);
}

void RotationSettings::StoreAngle(WriteReport& report) {
    report.Add(profile_.WriteInteger(keys::EdtRoateRate1.section, keys::EdtRoateRate1.name,
                                     model_.rotateDegrees));
    report.Add(profile_.WriteInteger(keys::EdtRoateRate2.section, keys::EdtRoateRate2.name,
                                     model_.rotateHundredths));
}

void RotationSettings::LbRoateTypeClick(int index) {
    feedback_.ShowConversionPage();
    if (index < -1 || index >= static_cast<int>(kRotateListDegrees.size())) return;
    model_.rotateListIndex = index;
    if (index >= 0) SetAngle(kRotateListDegrees[static_cast<std::size_t>(index)], 0);
    WriteReport report;
    report.Add(profile_.WriteInteger(keys::LbRoateType.section, keys::LbRoateType.name, index));
    StoreAngle(report);
    report.ShowTo(feedback_);
}

void RotationSettings::EdtRoateRate1Exit() {
    if (const auto value = ParseWholeNumber(model_.edtRotate1)) {
        if (*value >= 1 && *value <= 359) {
            model_.rotateDegrees = *value;
        } else {
            model_.edtRotate1 = "0";
            model_.rotateDegrees = 0;
        }
    }
    WriteReport report;
    report.Add(profile_.WriteInteger(keys::EdtRoateRate1.section, keys::EdtRoateRate1.name,
                                     model_.rotateDegrees));
    report.ShowTo(feedback_);
}

void RotationSettings::EdtRoateRate2Exit() {
    if (const auto value = ParseWholeNumber(model_.edtRotate2)) {
        if (*value >= 1) {
            model_.rotateHundredths = *value;
        } else {
            model_.edtRotate2 = "0";
            model_.rotateHundredths = 0;
        }
    }
    WriteReport report;
    report.Add(profile_.WriteInteger(keys::EdtRoateRate2.section, keys::EdtRoateRate2.name,
                                     model_.rotateHundredths));
    report.ShowTo(feedback_);
}

AfterPresetPick RotationSettings::PickRotatePreset(std::int32_t degrees, bool convertOnPick) {
    SetAngle(degrees, 0);
    WriteReport report;
    StoreAngle(report);
    model_.rotateMenuCheckedTag = degrees;
    report.ShowTo(feedback_);
    return convertOnPick ? AfterPresetPick::StartConversion : AfterPresetPick::ReopenMenu;
}

void RotationSettings::RestoreListIndex(std::int32_t stored) {
    // A list box refuses an index beyond its items and then has no selection.
    model_.rotateListIndex =
        stored >= 0 && stored < static_cast<std::int32_t>(kRotateListItems.size()) ? stored : -1;
}

void RotationSettings::RestoreAngle(std::int32_t degrees, std::int32_t hundredths) {
    SetAngle(degrees, hundredths);
    model_.rotateMenuCheckedTag = degrees;
}

}  // namespace ozm
