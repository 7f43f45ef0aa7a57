#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/FileDescriptor.h"

namespace ozm {

namespace {

// The kernel's own limit on the links one path lookup follows.
constexpr int kMaxLinkHops = 40;

std::error_code LastError() { return {errno, std::generic_category()}; }

// Creates a new file beside `path` with a name no other writer uses; mode 0666 less the
// umask, as any new file gets.
int CreateTempBeside(const std::filesystem::path& path, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        temp = path.string() + ".tmp" + std::to_string(::getpid()) + "-" +
               std::to_string(counter.fetch_add(1)) + "-" + std::to_string(stamp & 0xFFFFFF);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

FileContent ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    FileContent result;
    // Only a regular file is opened: opening a FIFO waits for a writer, and opening a device
    // may act on it. O_NONBLOCK covers a file swapped for a FIFO between stat and open.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        result.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        return result;
    }
    result.status = ReadStatus::Failed;
    if (!S_ISREG(st.st_mode)) return result;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0) {
        if (errno == ENOENT) result.status = ReadStatus::Missing;
        return result;
    }
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<unsigned long long>(st.st_size) > maxBytes) {
        return result;
    }
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    // The file may grow or shrink while it is read; read until end of file, within the limit.
    for (;;) {
        if (done == bytes.size()) {
            if (bytes.size() >= maxBytes) {
                char probe;
                const ssize_t extra = ::read(fd.Get(), &probe, 1);
                if (extra != 0) return result;
                break;
            }
            bytes.resize(std::min(maxBytes, bytes.size() + 4096));
        }
        const ssize_t got = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return result;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    result.bytes = std::move(bytes);
    result.status = ReadStatus::Ok;
    return result;
}

std::filesystem::path ResolveFileLinks(const std::filesystem::path& path, std::error_code& ec) {
    ec.clear();
    std::filesystem::path current = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0) {
            ec = LastError();
            return {};
        }
        if (static_cast<std::size_t>(n) >= target.size()) {
            // The link changed under us; look again.
            continue;
        }
        target.resize(static_cast<std::size_t>(n));
        const std::filesystem::path next(target);
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return {};
}

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           std::error_code& ec) {
    ec.clear();
    // Renaming over a symbolic link would replace the link with a plain file: the content
    // goes to the link's target instead, in the target's folder.
    const std::filesystem::path target = ResolveFileLinks(path, ec);
    if (ec) return false;
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    std::string temp;
    FileDescriptor fd(CreateTempBeside(target, temp));
    if (fd.Get() < 0) {
        ec = LastError();
        return false;
    }
    auto fail = [&](std::error_code why) {
        ec = why;
        ::unlink(temp.c_str());
        return false;
    };
    if (exists) {
        // A process run as root keeps the user's file the user's; for anyone else this is
        // refused or a no-op, and the file becomes the writer's as any new file would.
        (void)::fchown(fd.Get(), st.st_uid, st.st_gid);
        if (::fchmod(fd.Get(), st.st_mode & 07777) != 0) return fail(LastError());
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            // ENOSPC on a full disk, EFBIG beyond the file size limit: the old file stays.
            return fail(LastError());
        }
        done += static_cast<std::size_t>(put);
    }
    // The data must be on disk before the rename, or a power cut could leave an empty file
    // under the old name.
    if (::fsync(fd.Get()) != 0) return fail(LastError());
    if (!fd.Close()) return fail(LastError());
    if (::rename(temp.c_str(), target.c_str()) != 0) return fail(LastError());
    return true;
}

std::filesystem::path LockFileFor(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::path target = ResolveFileLinks(file, ec);
    if (ec) target = file;
    return target.parent_path() / ("." + target.filename().string() + ".lock");
}

FileLock::FileLock(const std::filesystem::path& file, std::error_code& ec, int timeoutMs) {
    ec.clear();
    const std::filesystem::path lockPath = LockFileFor(file);
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
    // A lock file another user made may be read-only to us; flock works on any open file.
    if (fd < 0 && errno == EACCES) fd = ::open(lockPath.c_str(), O_RDONLY | kFlags);
    if (fd < 0) {
        ec = LastError();
        return;
    }
    FileDescriptor guard(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return;
    }
    // Polled rather than blocking, so a process that hangs while holding the lock costs the
    // others a failed write, not a frozen window. Holders keep it for milliseconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ec = LastError();
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ec = std::make_error_code(std::errc::resource_unavailable_try_again);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    fd_ = guard.Release();
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace ozm
