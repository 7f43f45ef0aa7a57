#pragma once
// The freedesktop trash: what stands in for the recycle bin.

#include <filesystem>

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
// $topdir/.Trash-$UID. The data home is read when the object is made.
class FreedesktopTrash : public Trash {
  public:
    FreedesktopTrash();
    explicit FreedesktopTrash(std::filesystem::path dataHome);
    bool MoveToTrash(const std::filesystem::path& path) override;

  private:
    std::filesystem::path dataHome_;
};

}  // namespace ozm
