#pragma once
// Files dropped from the file manager onto the main window: copied into the current source
// folder and added to the source list. Nothing the user had is lost on the way: a file of
// the source folder dropped onto its own folder is left alone, a different file of the same
// name goes to the trash before the copy takes its name, and the copy is written under a
// temporary name and renamed into place only when complete.

#include <filesystem>
#include <vector>

#include "app/convert/FileListModel.h"
#include "platform/Trash.h"

namespace ozm {

enum class DropOutcome {
    Copied,        // copied in (a different file of that name went to the trash first)
    AlreadyThere,  // the folder's own file: nothing copied
    Unsupported,   // no supported image extension
    Failed,        // not a readable file, the old one could not be trashed, or the copy failed
};

struct DroppedFile {
    std::filesystem::path path;
    DropOutcome outcome = DropOutcome::Failed;
    bool listed = false;  // the name was appended to the list
};

// Handles the dropped paths in their order into `sourceFolder` (an existing folder): each
// supported file is copied in, and its name is appended to `list` when no entry has exactly
// that name. One file's failure does not end the drop.
std::vector<DroppedFile> DropFilesIntoFolder(const std::vector<std::filesystem::path>& paths,
                                             const std::filesystem::path& sourceFolder,
                                             FileListModel& list, Trash& trash);

}  // namespace ozm
