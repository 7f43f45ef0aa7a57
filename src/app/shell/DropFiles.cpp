#include "app/shell/DropFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>

#include "core/formats/ImageFormats.h"
#include "platform/FileDescriptor.h"
#include "platform/NoReplaceRename.h"

namespace ozm {

namespace fs = std::filesystem;

namespace {

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t wrote = ::write(fd, data, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return true;
}

// Copies the open file `from` into a new file beside `target` under a name of our own,
// created exclusively; the path of the complete copy, or empty (nothing left behind).
fs::path CopyToTemporary(int from, mode_t mode, const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    fs::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = target.parent_path() / (".ozm-drop-" + std::to_string(::getpid()) + "-" +
                                            std::to_string(counter++) + ".part");
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    mode & 0666);
        if (fd < 0 && errno != EEXIST) return {};
    }
    if (fd < 0) return {};
    FileDescriptor out(fd);
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    while (ok) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        ok = WriteAll(out.Get(), buffer.data(), static_cast<std::size_t>(got));
    }
    ok = ok && ::fsync(out.Get()) == 0;
    ok = out.Close() && ok;
    if (!ok) {
        ::unlink(temporary.c_str());
        return {};
    }
    return temporary;
}

DropOutcome DropOne(const fs::path& path, const fs::path& folder, Trash& trash) {
    if (!IsSupportedImageFile(path.filename().string())) return DropOutcome::Unsupported;
    FileDescriptor from(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat source {};
    if (from.Get() < 0 || ::fstat(from.Get(), &source) != 0 || !S_ISREG(source.st_mode)) {
        return DropOutcome::Failed;
    }
    const fs::path target = folder / path.filename();
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && existing.st_dev == source.st_dev &&
        existing.st_ino == source.st_ino) {
        // The folder's own file (or a link to it): copying it onto itself would empty it.
        return DropOutcome::AlreadyThere;
    }
    const fs::path copy = CopyToTemporary(from.Get(), source.st_mode, target);
    if (copy.empty()) return DropOutcome::Failed;
    std::error_code ec;
    if (RenameNoReplace(copy, target, ec)) return DropOutcome::Copied;
    // A different file has the name: it goes to the trash, then the copy takes its place.
    // When it cannot be trashed, it stays and the dropped file is not copied.
    if (ec == std::errc::file_exists && trash.MoveToTrash(target) &&
        RenameNoReplace(copy, target, ec)) {
        return DropOutcome::Copied;
    }
    ::unlink(copy.c_str());
    return DropOutcome::Failed;
}

}  // namespace

std::vector<DroppedFile> DropFilesIntoFolder(const std::vector<fs::path>& paths,
                                             const fs::path& sourceFolder, FileListModel& list,
                                             Trash& trash) {
    std::vector<DroppedFile> results;
    for (const fs::path& path : paths) {
        DroppedFile result{path, DropOutcome::Failed, false};
        if (path.has_filename()) result.outcome = DropOne(path, sourceFolder, trash);
        if (result.outcome == DropOutcome::Copied || result.outcome == DropOutcome::AlreadyThere) {
            const std::string name = path.filename().string();
            const auto& entries = list.Entries();
            if (std::find(entries.begin(), entries.end(), name) == entries.end()) {
                list.Append(name);
                result.listed = true;
            }
        }
        results.push_back(std::move(result));
    }
    return results;
}

}  // namespace ozm
