#pragma once
// The list of recently used folders, newest first, at most ten, and its file
// "HistoryPaths.txt" (one folder per line). Folders are kept as normalised texts ending in
// "/" and compared exactly: file names on this system are case-sensitive, so a folder is
// never lower-cased, and a name is kept byte for byte (no re-encoding, no trimming).

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/convert/ProfileFile.h"

namespace ozm {

inline constexpr std::size_t kMaxRecentFolders = 10;
inline constexpr std::string_view kHistoryFileName = "HistoryPaths.txt";

class RecentFolders {
  public:
    const std::vector<std::string>& Items() const { return items_; }

    // Normalises the folder (NormalizeFolderPath) and puts it in front, unless an entry that
    // normalises to the same text is already there (it is not moved then). The oldest entry
    // drops out beyond ten. A blank text, or one holding a line break, is not added. True when the
    // list changed.
    bool AddRecentFolder(std::string_view folder);

    // Replaces the list with the lines of the file: blank lines are skipped and only the
    // first ten kept. A missing or unreadable file leaves the list empty.
    void Load(const std::filesystem::path& file);

    // Replaces the file, under the lock it shares with other processes, with the list it
    // holds now plus the folders added to this object since Load, one folder per line; so
    // two processes that each add folders keep both. A file that is there but cannot be
    // loaded (unreadable, not a regular file, too large) is not replaced: the result is then
    // the write error.
    WriteResult Save(const std::filesystem::path& file) const;

  private:
    std::vector<std::string> items_;
    std::vector<std::string> added_;  // this object's additions since Load, oldest first
};

}  // namespace ozm
