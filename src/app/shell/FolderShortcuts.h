#pragma once
// The folder buttons above the two lists (desktop, documents, pictures, removable volume,
// favourite folder, recent folders, folder chooser) and the file actions of the lists' menus
// (open, open the folder, delete to the trash, rename, open in the image editor). Plain C++:
// the window answers the host interface, the quick conversion shares the favourite choice.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/convert/FolderLists.h"
#include "app/convert/HostRoles.h"
#include "app/convert/RecentFolders.h"
#include "app/convert/SettingsModel.h"
#include "platform/Drives.h"
#include "platform/ShellOpen.h"
#include "platform/Trash.h"

namespace ozm {

inline constexpr std::string_view kFavouritePromptKnown = "Please choose your fav folder.";
inline constexpr std::string_view kFavouritePromptNew = "请选择您喜欢的文件夹.";
inline constexpr std::string_view kInsertRemovableMessage = "请插入可移动磁盘.";
// "%s" stands for the missing volume's folder.
inline constexpr std::string_view kDriveMissingMessage = "磁盘%s不存在，请重选择一个路径。";
inline constexpr std::string_view kInvalidFolderMessage = "请选择一个合法的文件夹名称";
inline constexpr std::string_view kConfirmDeleteMessage = "你确定要删除吗？";
inline constexpr std::string_view kConfirmDeleteTitle = "提醒";
inline constexpr std::string_view kSelectPathsMessage = "请选择一个或多个路径";

// Opens the folder chooser once for `favouriteFolder`: at the favourite with "Please choose
// your fav folder." when one is set, else at the documents folder with "请选择您喜欢的文件夹.";
// a start folder that does not exist is replaced by the home folder. A picked folder becomes
// the favourite; cancel keeps it. (Bringing the conversion page to the front is the window's
// business.)
void ChooseFavouriteFolder(FolderChooserRole& chooser, std::string& favouriteFolder);

// The source list's chooser: `folder` is the prompt, and the start folder when it exists,
// else the home folder. Empty when cancelled.
std::string ChooseSourceFolderDialog(FolderChooserRole& chooser, const std::string& folder);
// The target list's chooser: prompt `folder` and start at the home folder when it exists,
// else the home folder for both. Empty when cancelled.
std::string ChooseTargetFolderDialog(FolderChooserRole& chooser, const std::string& folder);

// One entry of the recent-folder pop-up: entry i shows "&<i+1> <folder>" ("&" in the folder
// doubled, so the desktop shows it as written) when the list has a non-blank folder there,
// else it is hidden. The folder itself travels with the entry: the caption is never parsed.
struct HistoryEntry {
    std::string caption;
    std::string folder;
    bool visible = false;
};
std::vector<HistoryEntry> HistoryMenuEntries(const RecentFolders& recent);

// ".jpg" appended to a name without an extension (no "." in it); nullopt for a name that
// cannot be a file name in the folder: empty, ".", "..", or holding "/" or a NUL.
std::optional<std::string> RenameTarget(const std::string& typedName);

// What the folder actions ask of the main window.
class FolderActionsHost : public virtual MessageRole, public virtual FolderChooserRole {
  public:
    // Yes/No question, Yes first; true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& title) = 0;
    virtual void FocusPathBox(ListSide side) = 0;
    virtual void FocusList(ListSide side) = 0;
    virtual void StepProgress() = 0;
    virtual void ResetProgress() = 0;
    // The conversion run's stop request (the convert button pressed during a run).
    virtual bool StopRequested() = 0;
    // The rename window, modal: the edited name, or `oldName` when it was closed.
    virtual std::string AskNewName(const std::string& oldName) = 0;
};

// The known folders the buttons go to; the system's by default, others in tests.
struct KnownFolders {
    std::filesystem::path desktop;
    std::filesystem::path documents;
    std::filesystem::path pictures;
};

class FolderShortcuts {
  public:
    FolderShortcuts(SettingsModel& model, FolderLists& lists, FolderActionsHost& host,
                    const Drives& drives, Trash& trash, ShellOpen& shell,
                    std::filesystem::path programFolder);

    // The folder buttons; `side` is the button's row (the target row's buttons have tag 2).
    void BtnDeskTopClick(ListSide side);
    void BtnMyDocumentsClick(ListSide side);
    void BtnMyPicturesClick(ListSide side);
    void BtnUDiskClick(ListSide side);
    void BtnMyFavClick(ListSide side);
    void BtnAddFavClick(ListSide side);
    // "Choose folder": the source or target chooser; a picked folder is gone to.
    void BtnSelectDirClick(ListSide side);
    // A recent-folder entry picked: its folder, on the side of the button that opened it.
    void MnHistory1Click(ListSide side, const std::string& folder);
    // The folder button and menu entry "open the containing folder".
    void BtnOpenDirClick(ListSide side);
    // The program's own folder (PmApp).
    void OpenApplicationPath1Click();

    // File actions of the list menus, Enter, Delete and double clicks.
    void OpenCurrentFile(ListSide side);
    void OpenCurrentInEditor(ListSide side);
    void DeleteSelected(ListSide side);
    void RenameCurrent();

    // The folder actions work in: the list's folder after the drive and folder checks, with
    // "/" at the end; nullopt after a message (the path box focused). For the source list the
    // folder the list was filled from, for the target the stored target folder.
    std::optional<std::string> CurrentFolder(ListSide side);

    // The mount point the removable-volume button found last; empty when none.
    const std::string& RemovableDrive() const { return removableDrive_; }
    void SetKnownFolders(KnownFolders folders) { known_ = std::move(folders); }

  private:
    void GoTo(ListSide side, const std::filesystem::path& folder);
    std::optional<std::string> CheckedFolder(ListSide side, const std::string& text);
    FolderSide& Side(ListSide side) {
        return side == ListSide::Source ? model_.source : model_.target;
    }

    SettingsModel& model_;
    FolderLists& lists_;
    FolderActionsHost& host_;
    const Drives& drives_;
    Trash& trash_;
    ShellOpen& shell_;
    std::filesystem::path programFolder_;
    std::optional<KnownFolders> known_;  // the system's, looked up at each click, when unset
    std::string removableDrive_;
};

}  // namespace ozm
