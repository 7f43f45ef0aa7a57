#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

namespace ozm {

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now so that a failing close (a full disk on some file systems) is seen.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

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
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        result.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        return result;
    }
    result.status = ReadStatus::Failed;
    struct stat st {};
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

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           std::error_code& ec) {
    ec.clear();
    std::string temp;
    FileDescriptor fd(CreateTempBeside(path, temp));
    if (fd.Get() < 0) {
        ec = LastError();
        return false;
    }
    auto fail = [&](std::error_code why) {
        ec = why;
        ::unlink(temp.c_str());
        return false;
    };
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && ::fchmod(fd.Get(), st.st_mode & 07777) != 0) {
        return fail(LastError());
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return fail(LastError());
        }
        done += static_cast<std::size_t>(put);
    }
    // The data must be on disk before the rename, or a power cut could leave an empty file
    // under the old name.
    if (::fsync(fd.Get()) != 0) return fail(LastError());
    if (!fd.Close()) return fail(LastError());
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail(LastError());
    return true;
}

}  // namespace ozm
