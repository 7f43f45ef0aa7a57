#pragma once
// The freedesktop trash: what stands in for the recycle bin.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/Drives.h"

namespace ozm {

class Trash {
  public:
    virtual ~Trash() = default;
    // Moves a file (or folder) into the trash with its .trashinfo record. False, leaving the
    // file where it was, when it cannot be trashed.
    virtual bool MoveToTrash(const std::filesystem::path& path) = 0;
};

// The home trash $XDG_DATA_HOME/Trash for files on the home's file system; on other file
// systems $topdir/.Trash/$UID (when .Trash is a sticky folder, not a link) or
// $topdir/.Trash-$UID. The data home is read when the object is made. Which volume a file
// lies on comes from the mount table ($topdir is its mount point), so a bind mount counts as
// a volume of its own, as rename(2) sees it. Files are only renamed, never copied: a file
// whose trash cannot be made stays where it is.
class FreedesktopTrash : public Trash {
  public:
    FreedesktopTrash();
    explicit FreedesktopTrash(std::filesystem::path dataHome);
    FreedesktopTrash(std::filesystem::path dataHome, std::shared_ptr<const Drives> drives);
    bool MoveToTrash(const std::filesystem::path& path) override;

  private:
    std::filesystem::path dataHome_;
    std::shared_ptr<const Drives> drives_;
};

// The text of a .trashinfo record: `path` percent-encoded byte by byte (all but unreserved
// characters and "/"), `deletionDate` as YYYY-MM-DDThh:mm:ss in local time.
std::string TrashInfoText(const std::string& path, const std::string& deletionDate);

}  // namespace ozm
