#include "app/shell/FolderShortcuts.h"

#include <system_error>

#include "app/convert/OutputNaming.h"
#include "core/text/TextRules.h"
#include "platform/NoReplaceRename.h"
#include "platform/SpecialFolders.h"

namespace ozm {

namespace fs = std::filesystem;

namespace {

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string DoubleAmpersands(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out += c;
        if (c == '&') out += '&';
    }
    return out;
}

std::string Home() { return HomeFolder().string(); }

}  // namespace

void ChooseFavouriteFolder(FolderChooserRole& chooser, std::string& favouriteFolder) {
    const bool known = !favouriteFolder.empty();
    std::string start = known ? favouriteFolder : UserDirPath(UserDir::Documents).string();
    if (!IsFolder(start)) start = Home();
    const std::string picked = chooser.ChooseFolder(
        std::string(known ? kFavouritePromptKnown : kFavouritePromptNew), start);
    if (!picked.empty()) favouriteFolder = picked;
}

std::string ChooseSourceFolderDialog(FolderChooserRole& chooser, const std::string& folder) {
    return chooser.ChooseFolder(folder, IsFolder(folder) ? folder : Home());
}

std::string ChooseTargetFolderDialog(FolderChooserRole& chooser, const std::string& folder) {
    return chooser.ChooseFolder(IsFolder(folder) ? folder : Home(), Home());
}

std::vector<HistoryEntry> HistoryMenuEntries(const RecentFolders& recent) {
    std::vector<HistoryEntry> entries(kMaxRecentFolders);
    const std::vector<std::string>& items = recent.Items();
    for (std::size_t i = 0; i < entries.size() && i < items.size(); ++i) {
        if (TrimControl(items[i]).empty()) continue;
        entries[i].caption = "&" + std::to_string(i + 1) + " " + DoubleAmpersands(items[i]);
        entries[i].folder = items[i];
        entries[i].visible = true;
    }
    return entries;
}

std::optional<std::string> RenameTarget(const std::string& typedName) {
    if (typedName.empty() || typedName == "." || typedName == ".." ||
        typedName.find('/') != std::string::npos || typedName.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    if (typedName.find('.') == std::string::npos) return typedName + ".jpg";
    return typedName;
}

FolderShortcuts::FolderShortcuts(SettingsModel& model, FolderLists& lists, FolderActionsHost& host,
                                 const Drives& drives, Trash& trash, ShellOpen& shell,
                                 fs::path programFolder)
    : model_(model),
      lists_(lists),
      host_(host),
      drives_(drives),
      trash_(trash),
      shell_(shell),
      programFolder_(std::move(programFolder)) {}

void FolderShortcuts::GoTo(ListSide side, const fs::path& folder) {
    const std::string text = WithSlash(folder.string());
    if (side == ListSide::Source)
        lists_.SetSourceFolder(text);
    else
        lists_.SetTargetFolder(text);
}

void FolderShortcuts::BtnDeskTopClick(ListSide side) {
    GoTo(side, known_ ? known_->desktop : UserDirPath(UserDir::Desktop));
}

void FolderShortcuts::BtnMyDocumentsClick(ListSide side) {
    GoTo(side, known_ ? known_->documents : UserDirPath(UserDir::Documents));
}

void FolderShortcuts::BtnMyPicturesClick(ListSide side) {
    GoTo(side, known_ ? known_->pictures : UserDirPath(UserDir::Pictures));
}

void FolderShortcuts::BtnUDiskClick(ListSide side) {
    removableDrive_ = drives_.FirstRemovableVolume().string();
    if (removableDrive_.empty()) {
        host_.ShowMessage(std::string(kInsertRemovableMessage));
        return;
    }
    GoTo(side, removableDrive_);
}

void FolderShortcuts::BtnMyFavClick(ListSide side) {
    if (model_.favouriteFolder.empty()) ChooseFavouriteFolder(host_, model_.favouriteFolder);
    if (model_.favouriteFolder.empty()) return;
    GoTo(side, model_.favouriteFolder);
}

void FolderShortcuts::BtnAddFavClick(ListSide side) {
    ChooseFavouriteFolder(host_, model_.favouriteFolder);
    if (model_.favouriteFolder.empty()) return;
    GoTo(side, model_.favouriteFolder);
}

void FolderShortcuts::BtnSelectDirClick(ListSide side) {
    const std::string& text = Side(side).editText;
    const std::string picked = side == ListSide::Source ? ChooseSourceFolderDialog(host_, text)
                                                        : ChooseTargetFolderDialog(host_, text);
    if (!picked.empty()) GoTo(side, picked);
}

void FolderShortcuts::MnHistory1Click(ListSide side, const std::string& folder) {
    if (TrimControl(folder).empty()) return;
    GoTo(side, folder);
}

std::optional<std::string> FolderShortcuts::CheckedFolder(ListSide side, const std::string& text) {
    // Only whole paths: a relative text would act in whatever the working folder is.
    if (TrimControl(text).empty() || text.front() != '/') {
        host_.ShowMessage(std::string(kInvalidFolderMessage));
        Side(side).editText = WithSlash(Home());
        host_.FocusPathBox(side);
        return std::nullopt;
    }
    const fs::path drive = drives_.DriveOf(text);
    if (!drives_.DriveExists(drive)) {
        std::string message(kDriveMissingMessage);
        message.replace(message.find("%s"), 2, drive.string());
        host_.ShowMessage(message);
        host_.FocusPathBox(side);
        return std::nullopt;
    }
    std::string folder = text;
    NormalizeFolderPath(folder);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        host_.ShowMessage(std::string(kInvalidFolderMessage));
        Side(side).editText = WithSlash(Home());
        host_.FocusPathBox(side);
        return std::nullopt;
    }
    return folder;
}

std::optional<std::string> FolderShortcuts::CurrentFolder(ListSide side) {
    // The folder the list was filled from, so every action on an entry acts on that entry's
    // own file; the path box only before the list was ever filled.
    const FolderSide& s = Side(side);
    return CheckedFolder(side, s.currentFolder.empty() ? s.editText : s.currentFolder);
}

void FolderShortcuts::BtnOpenDirClick(ListSide side) {
    if (const auto folder = CurrentFolder(side)) shell_.Open(*folder);
}

void FolderShortcuts::OpenApplicationPath1Click() {
    if (!programFolder_.empty()) shell_.Open(programFolder_);
}

void FolderShortcuts::OpenCurrentFile(ListSide side) {
    const std::string* entry = Side(side).list.CurrentEntry();
    if (entry == nullptr) return;
    const std::string name = *entry;
    if (const auto folder = CurrentFolder(side)) shell_.Open(*folder + name);
}

void FolderShortcuts::OpenCurrentInEditor(ListSide side) {
    FileListModel& list = Side(side).list;
    if (list.Count() == 0) return;
    if (list.CurrentEntry() == nullptr) list.SetCurrentIndex(0);
    const std::string name = *list.CurrentEntry();
    const auto folder = CurrentFolder(side);
    if (!folder) return;
    std::error_code ec;
    if (fs::is_regular_file(*folder + name, ec)) shell_.OpenInImageEditor(*folder + name);
}

void FolderShortcuts::DeleteSelected(ListSide side) {
    if (!host_.AskYesNo(std::string(kConfirmDeleteMessage), std::string(kConfirmDeleteTitle))) {
        return;
    }
    const FileListModel& list = Side(side).list;
    std::vector<std::string> names;
    for (const int index : list.SelectedIndexes()) {
        names.push_back(list.Entries()[static_cast<std::size_t>(index)]);
    }
    if (names.empty()) {
        host_.ShowMessage(std::string(kSelectPathsMessage));
        host_.FocusList(side);
        return;
    }
    const auto folder = CurrentFolder(side);
    if (!folder) return;
    host_.ResetProgress();
    for (const std::string& name : names) {
        host_.StepProgress();
        if (host_.StopRequested()) break;
        std::error_code ec;
        const fs::path file = *folder + name;
        if (fs::exists(fs::symlink_status(file, ec))) trash_.MoveToTrash(file);
    }
    host_.ResetProgress();
    if (side == ListSide::Source)
        lists_.RefreshSourceList();
    else
        lists_.RefreshTargetList();
}

void FolderShortcuts::RenameCurrent() {
    const std::string* entry = model_.source.list.CurrentEntry();
    if (entry == nullptr) return;
    const std::string oldName = *entry;
    const auto folder = CurrentFolder(ListSide::Source);
    if (!folder) return;
    const std::string typed = host_.AskNewName(oldName);
    if (typed != oldName) {
        // A name that cannot be a file name, or one already taken, leaves the file as it
        // was; neither is reported.
        if (const auto newName = RenameTarget(typed); newName && *newName != oldName) {
            std::error_code ec;
            RenameNoReplace(*folder + oldName, *folder + *newName, ec);
        }
    }
    lists_.RefreshSourceList();
}

}  // namespace ozm
