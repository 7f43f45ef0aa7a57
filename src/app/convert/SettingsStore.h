#pragma once
// The settings store: the settings file "defualt.ini" and the recent-folder file
// "HistoryPaths.txt" in the program folder, the loading of every setting into the main
// window's model when the window is created, and the saving of the rest when it is destroyed.
// Handlers elsewhere write their keys at once through Profile().

#include <filesystem>
#include <string>

#include "app/convert/ProfileFile.h"
#include "app/convert/SettingsKeys.h"
#include "app/convert/SettingsModel.h"
#include "app/convert/WindowFeedback.h"

namespace ozm {

class SettingsStore {
  public:
    // `programFolder`: see ProgramFolder(); the files live directly in it.
    explicit SettingsStore(std::filesystem::path programFolder);

    // The program folder as a folder text, ending in "/".
    const std::string& ProgramFolderText() const { return folderText_; }
    std::filesystem::path HistoryFile() const;
    ProfileFile& Profile() { return profile_; }

    std::string DefaultSourcePath() const {
        return folderText_ + std::string(defaults::SourceSubfolder);
    }
    std::string DefaultTargetPath() const {
        return folderText_ + std::string(defaults::TargetSubfolder);
    }

    // Typed access to single keys.
    std::string ReadString(const SettingKey& key, std::string_view defaultValue);
    std::int32_t ReadInteger(const SettingKey& key, std::int32_t defaultValue);
    bool ReadBool(const SettingKey& key, bool defaultValue);
    WriteResult WriteString(const SettingKey& key, std::string_view value);
    WriteResult WriteInteger(const SettingKey& key, std::int32_t value);
    WriteResult WriteBool(const SettingKey& key, bool value);

    // Fills the model when the main window is created: the recent folders, then every key
    // in a fixed order. Restoring the resize mode and KeepAspect has the effects of choosing
    // them (the edits' automatic texts, the visible group). The lists are still empty, so
    // their stored current indexes find no entry.
    void LoadSettings(SettingsModel& model, WindowFeedback& feedback);

    // Stores what the window has not stored at once, when it is destroyed: folders, the
    // width and height (only when they are whole numbers), the format boxes, the typed
    // percentage, the lists' current indexes, the zoom preset, the tool bar width, and last
    // the recent folders (merged with what another process saved meanwhile). Of the keys,
    // only those whose value differs from what this process read or wrote are written, in
    // one replacement of the file, so keys another process stored meanwhile are kept. A
    // failed write is returned (the recent folders are then not saved); the window does
    // not show it.
    WriteResult SaveSettings(const SettingsModel& model);

    // SaveSettings for a quick conversion whose main window never came on screen: its lists
    // and tool bar were never the user's, so only what the quick menu changes is stored (the
    // percentage, the last format, the favourite folder) and the recent folders merged.
    WriteResult SaveQuickSettings(const SettingsModel& model);

    // A click on one of the eight visible format tick boxes: stored at once.
    void FormatBoxClick(SettingsModel& model, FormatBox box, bool checked,
                        WindowFeedback& feedback);

  private:
    std::string folderText_;
    ProfileFile profile_;
};

}  // namespace ozm
