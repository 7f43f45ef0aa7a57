#pragma once
// Whole-file reads and atomic replacement for the small files the program keeps beside
// itself (settings, recent folders). A reader never sees a half-written file: the new
// content goes to a temporary file in the same folder, which is then renamed over the old one.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace ozm {

enum class ReadStatus { Ok, Missing, Failed };

struct FileContent {
    ReadStatus status = ReadStatus::Missing;
    std::string bytes;
};

// Reads the whole file. Failed when it cannot be read, is not a regular file (a folder, a
// FIFO, a device: nothing but a regular file is ever opened, so a FIFO cannot block the
// caller), or is larger than maxBytes (so a stray huge file is never loaded into memory).
// Symbolic links are followed.
FileContent ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// The file a chain of symbolic links starting at `path` finally names (it need not exist);
// relative link texts count from the link's own folder. A path that is not a link comes back
// unchanged. Empty with `ec` set on a loop (more than 40 links) or an unreadable link.
std::filesystem::path ResolveFileLinks(const std::filesystem::path& path, std::error_code& ec);

// Writes `bytes` to a temporary file beside `path` (beside the final target when `path` is a
// symbolic link, which stays a link), flushes it to disk and renames it over the file. An
// existing file keeps its permission bits (and its owner, where the process may set it); a
// new one gets 0666 less the umask. Something that is there but not a regular file is not
// replaced. On failure (a full disk included) the old file is untouched, no temporary file
// is left, and `ec` says why.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           std::error_code& ec);

// An exclusive advisory lock (flock) on the lock file ".<name>.lock" beside `file`, held for
// one read-modify-write of the file so that two processes (the main window and a quick
// conversion) do not lose each other's changes. Links in `file` are resolved, so every name
// of the file shares one lock. The lock file stays: removing it would let a waiting process
// lock a file that is no longer the one others lock.
class FileLock {
  public:
    // Waits up to `timeoutMs` milliseconds for the lock. Locked() tells whether it was got;
    // when not, `ec` says why (a folder the lock file cannot be made in; a holder that does
    // not let go).
    FileLock(const std::filesystem::path& file, std::error_code& ec, int timeoutMs = 5000);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Locked() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// The lock file FileLock uses for `file` (after its links are resolved).
std::filesystem::path LockFileFor(const std::filesystem::path& file);

}  // namespace ozm
