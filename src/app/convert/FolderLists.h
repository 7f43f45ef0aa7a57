#pragma once
// The source and target lists of the main window: which files of a folder are listed and in
// what order, the refreshes, the two folder setters other parts call, and the previews of
// the lists' current entries.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/convert/ProfileFile.h"
#include "app/convert/SettingsModel.h"
#include "app/convert/WindowFeedback.h"

namespace ozm {

inline constexpr std::string_view kChoosePathMessage = "请选择一个路径";
inline constexpr std::string_view kSourceCaptionPrefix = "Source Folder:";
inline constexpr std::string_view kTargetCaptionPrefix = "Target Folder:";

// The sort key of a listed name: the number the first two characters of the name start
// with, read as an integer's beginning is read: one leading blank is skipped, "-" or "+" is
// a sign, "$" or "x" makes the next character a hexadecimal digit; 0 when no digit follows.
// So "7.jpg" is 7, "123.jpg" 12, "1a.jpg" 1, "xa.jpg" 10, "-5.jpg" -5, "photo.jpg" 0.
std::int32_t ListSortKey(std::string_view name);

// Sorts names by ListSortKey; names with equal keys by name, without regard to ASCII case
// first, so the order does not depend on how the file system enumerates the folder.
void SortByListKey(std::vector<std::string>& names);

// Bare names of the folder's regular files (hidden ones included; a symbolic link to a
// regular file counts; folders, FIFOs, sockets, devices and dangling links do not) that
// have a supported image extension, in list order. An unreadable folder gives what could be
// read.
std::vector<std::string> ListImageFiles(const std::filesystem::path& folder);

enum class ListSide { Source, Target };

class FolderLists {
  public:
    // `fallbackFolder` stands in when a folder cannot be made: the user's home folder.
    FolderLists(SettingsModel& model, ProfileFile& profile, WindowFeedback& feedback,
                std::string fallbackFolder);

    // Refills the source list from the text of EdtPath (normalised and written back); a
    // missing folder is created; stores "SourcePath". F5 in the source list, Enter in EdtPath.
    void RefreshSourceList();
    // Refills the target list from the text of EdtOutput; does not store the folder.
    void RefreshTargetList();

    // The folder choosers, the shortcuts, the recent-folder menu and the custom conversion.
    void SetSourceFolder(std::string_view folder);
    void SetTargetFolder(std::string_view folder);

    // After a click in the list, and once at start: sets the current image, the caption and
    // (source side) stores the current index. Returns the file to load into the preview when
    // the preview switch is on and the file exists; the window then loads it with
    // LoadPreviewPicture and shows PreviewSizeLabel.
    std::optional<std::string> ShowSourcePreview();
    std::optional<std::string> ShowTargetPreview();

    // CbPreviewSourceImg / CbTargetImgPreview clicked: shows or hides the panel, stores the
    // switch, and previews the current entry when the panel is now visible.
    std::optional<std::string> PreviewSwitchClick(ListSide side, bool checked);

    // Start-up: the restored switches; both panels are hidden whatever their state.
    void RestorePreviewSwitches(bool target, bool source);

  private:
    void SetFolder(ListSide side, std::string_view folder);
    std::optional<std::string> ShowPreview(ListSide side);
    // Creates the folder when missing. False when there is no folder there afterwards.
    static bool EnsureFolder(const std::string& folder);

    SettingsModel& model_;
    ProfileFile& profile_;
    WindowFeedback& feedback_;
    std::string fallbackFolder_;
};

}  // namespace ozm
