#include "app/convert/SettingsStore.h"

#include <algorithm>

#include "app/convert/FolderLists.h"
#include "app/convert/ResizeControls.h"
#include "app/convert/RotationSettings.h"
#include "core/text/TextRules.h"

namespace ozm {

namespace {

std::string FolderText(const std::filesystem::path& folder) {
    std::string text = folder.string();
    if (!text.empty() && text.back() != '/') text += '/';
    return text;
}

}  // namespace

SettingsStore::SettingsStore(std::filesystem::path programFolder)
    : folderText_(FolderText(programFolder)),
      profile_(std::filesystem::path(folderText_) / std::string(kSettingsFileName)) {}

std::filesystem::path SettingsStore::HistoryFile() const {
    return std::filesystem::path(folderText_) / std::string(kHistoryFileName);
}

std::string SettingsStore::ReadString(const SettingKey& key, std::string_view defaultValue) {
    return profile_.ReadString(key.section, key.name, defaultValue);
}

std::int32_t SettingsStore::ReadInteger(const SettingKey& key, std::int32_t defaultValue) {
    return profile_.ReadInteger(key.section, key.name, defaultValue);
}

bool SettingsStore::ReadBool(const SettingKey& key, bool defaultValue) {
    return profile_.ReadBool(key.section, key.name, defaultValue);
}

WriteResult SettingsStore::WriteString(const SettingKey& key, std::string_view value) {
    return profile_.WriteString(key.section, key.name, value);
}

WriteResult SettingsStore::WriteInteger(const SettingKey& key, std::int32_t value) {
    return profile_.WriteInteger(key.section, key.name, value);
}

WriteResult SettingsStore::WriteBool(const SettingKey& key, bool value) {
    return profile_.WriteBool(key.section, key.name, value);
}

void SettingsStore::LoadSettings(SettingsModel& model, WindowFeedback& feedback) {
    model.recentFolders.Load(HistoryFile());

    model.source.editText = ReadString(keys::SourcePath, DefaultSourcePath());
    model.target.editText = ReadString(keys::TargetPath, DefaultTargetPath());
    model.edtWidth = ReadString(keys::EdtWidth, defaults::EdtWidth);
    model.edtHeight = ReadString(keys::EdtHeight, defaults::EdtHeight);

    model.lastUsedFormat = ReadInteger(keys::LastUseImageTypeTag, defaults::LastUseImageTypeTag);
    model.jpegQuality = ReadInteger(keys::MnJPGQualityTag, defaults::MnJPGQualityTag);
    model.favouriteFolder = ReadString(keys::OZMMyFavPath, "");
    model.lastSourceFolder = ReadString(keys::OZMMyHisPath, "");

    for (std::size_t i = 0; i < kFormatBoxCount; ++i) {
        model.formatBoxes[i] = ReadBool(kFormatBoxes[i].key, kFormatBoxes[i].defaultValue);
    }
    ResizeControls resize(model, profile_, feedback);
    resize.RestoreKeepAspect(ReadBool(keys::ZoomAuto, defaults::ZoomAuto));

    resize.RestoreZoomType(ReadInteger(keys::ZoomType, defaults::ZoomType));
    RotationSettings rotation(model, profile_, feedback);
    rotation.RestoreListIndex(ReadInteger(keys::LbRoateType, defaults::LbRoateType));

    model.edtZoomPei = ReadString(keys::EdtZoomPei, defaults::EdtZoomPei);

    // An index the lists do not hold (they are still empty) is refused by the list itself.
    model.source.list.SetCurrentIndex(ReadInteger(keys::LbDocListInd, defaults::LbDocListInd));
    model.target.list.SetCurrentIndex(ReadInteger(keys::LbTargetInd, defaults::LbTargetInd));

    FolderLists lists(model, profile_, feedback, "");
    lists.RestorePreviewSwitches(ReadBool(keys::TargetImgPreview, defaults::TargetImgPreview),
                                 ReadBool(keys::PreviewSourceImg, defaults::PreviewSourceImg));

    // A hand-edited width must not push the lists off the window.
    model.toolBarWidth = std::clamp(ReadInteger(keys::SbToollBarWidth, defaults::SbToollBarWidth),
                                    kToolBarMinWidth, kToolBarMaxWidth);

    resize.RestorePreset(ReadInteger(keys::MnZoomNumTag, defaults::MnZoomNumTag));

    rotation.RestoreAngle(ReadInteger(keys::EdtRoateRate1, defaults::EdtRoateRate1),
                          ReadInteger(keys::EdtRoateRate2, defaults::EdtRoateRate2));

    model.autoShowTargetFolder =
        ReadBool(keys::AutoShowTargetFolder1, defaults::AutoShowTargetFolder1);
}

WriteResult SettingsStore::SaveSettings(const SettingsModel& model) {
    std::vector<ProfileValue> values;
    auto text = [&](const SettingKey& key, std::string value) {
        values.push_back({key.section, key.name, std::move(value)});
    };
    auto number = [&](const SettingKey& key, std::int32_t value) {
        text(key, std::to_string(value));
    };
    text(keys::SourcePath, model.source.editText);
    text(keys::TargetPath, model.target.editText);
    text(keys::OZMMyFavPath, model.favouriteFolder);
    text(keys::OZMMyHisPath, model.lastSourceFolder);
    number(keys::LastUseImageTypeTag, model.lastUsedFormat);
    if (ParseWholeNumber(model.edtWidth)) text(keys::EdtWidth, model.edtWidth);
    if (ParseWholeNumber(model.edtHeight)) text(keys::EdtHeight, model.edtHeight);
    for (std::size_t i = 0; i < kFormatBoxCount; ++i) {
        text(kFormatBoxes[i].key, model.formatBoxes[i] ? "1" : "0");
    }
    text(keys::EdtZoomPei, model.edtZoomPei);
    number(keys::LbDocListInd, model.source.list.CurrentIndex());
    number(keys::LbTargetInd, model.target.list.CurrentIndex());
    number(keys::MnZoomNumTag, model.zoomPreset);
    number(keys::SbToollBarWidth, model.toolBarWidth);
    // Only what this process changed is written, so a quick conversion's keys stored while
    // the window was open survive its closing.
    WriteResult result = profile_.WriteChangedValues(values);
    if (!result.Ok()) return result;
    return model.recentFolders.Save(HistoryFile());
}

WriteResult SettingsStore::SaveQuickSettings(const SettingsModel& model) {
    const std::vector<ProfileValue> values = {
        {keys::EdtZoomPei.section, keys::EdtZoomPei.name, model.edtZoomPei},
        {keys::LastUseImageTypeTag.section, keys::LastUseImageTypeTag.name,
         std::to_string(model.lastUsedFormat)},
        {keys::OZMMyFavPath.section, keys::OZMMyFavPath.name, model.favouriteFolder},
    };
    WriteResult result = profile_.WriteChangedValues(values);
    if (!result.Ok()) return result;
    return model.recentFolders.Save(HistoryFile());
}

void SettingsStore::FormatBoxClick(SettingsModel& model, FormatBox box, bool checked,
                                   WindowFeedback& feedback) {
    const auto index = static_cast<std::size_t>(box);
    model.formatBoxes[index] = checked;
    // The hidden boxes are stored only with the rest of the settings.
    if (kFormatBoxes[index].outputCode == 0) return;
    WriteReport report;
    report.Add(WriteBool(kFormatBoxes[index].key, checked));
    report.ShowTo(feedback);
}

}  // namespace ozm
