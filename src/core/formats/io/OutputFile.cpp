#include "core/formats/io/OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "core/formats/io/FileBytes.h"

namespace ozm {

namespace {

// Big enough that an encoder's many small writes reach the kernel as few large ones.
constexpr std::size_t kStreamBuffer = std::size_t{256} << 10;

// Every name this process gives a temporary is new: the pid keeps processes apart and the
// counter keeps threads and repeated writes apart. Short, so that it fits wherever the
// target's own name fits.
std::string NextTemporaryName() {
    static std::atomic<unsigned> counter{0};
    return ".ozm-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) +
           ".part";
}

std::filesystem::path FolderOf(const std::filesystem::path& target) {
    std::filesystem::path folder = target.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// Rename that refuses to replace an existing name. Falls back to link + unlink on file
// systems without RENAME_NOREPLACE.
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

// Gives an unnamed file a name; fails with EEXIST when the name is taken by anything.
bool LinkUnnamed(int fd, const std::filesystem::path& to) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    // Without /proc only the privileged form is left.
    if (errno != ENOENT) return false;
    return ::linkat(fd, "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) == 0;
}

// The OutputFiles whose streams are open, for WritePieces to find the descriptor behind a
// stream (a cookie stream has no fileno). Few are open at once.
std::mutex openFilesMutex;
std::vector<std::pair<std::FILE*, OutputFile*>> openFiles;

}  // namespace

OutputFile::OutputFile(std::filesystem::path target, ExistingFile mode)
    : target_(std::move(target)), mode_(mode) {
    if (mode_ == ExistingFile::Replace) {
        struct stat st {};
        if (::stat(target_.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                reason_ = "is a folder";
                return;
            }
            if (!S_ISREG(st.st_mode)) {
                reason_ = "not a regular file";
                return;
            }
            // A file its owner may not write is read-only to the user even when we run as
            // root.
            if (!(st.st_mode & S_IWUSR) || ::access(target_.c_str(), W_OK) != 0) {
                reason_ = "read-only file";
                return;
            }
        }
    }
    const std::filesystem::path folder = FolderOf(target_);
    if (!OpenUnnamed(folder) && !OpenNamed(folder)) return;
    WrapDescriptor();
}

bool OutputFile::OpenUnnamed(const std::filesystem::path& folder) {
    // 0666 less the umask: the finished file gets the same mode as a plain create.
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    // Only "this file system has no unnamed files" is worth a second try with a name.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return false;
    Fail(errno);
    return false;
}

bool OutputFile::OpenNamed(const std::filesystem::path& folder) {
    if (!reason_.empty()) return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = folder / NextTemporaryName();
        fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temp_ = std::move(candidate);
            return true;
        }
        if (errno != EEXIST) break;
    }
    reason_ = SystemErrorText(errno);
    return false;
}

ssize_t OutputFile::CookieWrite(void* cookie, const char* data, std::size_t size) {
    auto* self = static_cast<OutputFile*>(cookie);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(self->fd_, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (self->writeError_ == 0) self->writeError_ = n < 0 ? errno : EIO;
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool OutputFile::WrapDescriptor() {
    // A cookie stream keeps the first write error's errno, so a full disk or a file-size
    // limit is reported as such, whatever the encoder does after the failed write.
    cookie_io_functions_t io{};
    io.write = &OutputFile::CookieWrite;
    stream_ = ::fopencookie(this, "wb", io);
    if (!stream_) {
        Fail(errno);
        Discard();
        return false;
    }
    buffer_ = std::make_unique<char[]>(kStreamBuffer);
    std::setvbuf(stream_, buffer_.get(), _IOFBF, kStreamBuffer);
    const std::lock_guard lock(openFilesMutex);
    openFiles.emplace_back(stream_, this);
    return true;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Fail(int error) {
    if (reason_.empty()) reason_ = SystemErrorText(error);
}

void OutputFile::CloseStream() {
    if (!stream_) return;
    {
        const std::lock_guard lock(openFilesMutex);
        std::erase_if(openFiles, [this](const auto& entry) { return entry.second == this; });
    }
    std::fclose(stream_);  // the cookie stream does not own the descriptor
    stream_ = nullptr;
}

bool OutputFile::WritePieces(std::FILE* stream, std::span<const iovec> pieces) {
    OutputFile* self = nullptr;
    {
        const std::lock_guard lock(openFilesMutex);
        const auto it = std::find_if(openFiles.begin(), openFiles.end(),
                                     [stream](const auto& entry) { return entry.first == stream; });
        if (it != openFiles.end()) self = it->second;
    }
    if (self) return self->WriteDirect(pieces);
    for (const iovec& piece : pieces) {
        if (std::fwrite(piece.iov_base, 1, piece.iov_len, stream) != piece.iov_len) return false;
    }
    return true;
}

bool OutputFile::WriteDirect(std::span<const iovec> pieces) {
    if (writeError_ != 0 || std::fflush(stream_) != 0) return false;
    std::vector<iovec> rest(pieces.begin(), pieces.end());
    std::size_t first = 0;
    while (first < rest.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(rest.size() - first, IOV_MAX));
        ssize_t n = ::writev(fd_, rest.data() + first, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // Kept as the cookie's write keeps it, so Flush and Commit report this error.
            writeError_ = n < 0 ? errno : EIO;
            return false;
        }
        for (auto done = static_cast<std::size_t>(n); first < rest.size(); ++first) {
            iovec& piece = rest[first];
            if (done < piece.iov_len) {
                piece.iov_base = static_cast<char*>(piece.iov_base) + done;
                piece.iov_len -= done;
                break;
            }
            done -= piece.iov_len;
        }
    }
    return true;
}

void OutputFile::Discard() {
    CloseStream();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

bool OutputFile::PlaceUnnamed(const NextNameSource& nextName) {
    if (mode_ == ExistingFile::Replace) {
        // A name is needed for rename to replace atomically; it exists only for this moment.
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::filesystem::path named = FolderOf(target_) / NextTemporaryName();
            if (LinkUnnamed(fd_, named)) {
                if (::rename(named.c_str(), target_.c_str()) == 0) return true;
                Fail(errno);
                ::unlink(named.c_str());
                return false;
            }
            if (errno != EEXIST) break;
        }
        Fail(errno);
        return false;
    }
    return PlaceKeeping(nextName, [this] { return LinkUnnamed(fd_, target_); });
}

bool OutputFile::PlaceNamed(const NextNameSource& nextName) {
    if (mode_ == ExistingFile::Replace) {
        if (::rename(temp_.c_str(), target_.c_str()) == 0) return true;
        Fail(errno);
        return false;
    }
    return PlaceKeeping(nextName, [this] { return RenameNoReplace(temp_, target_); });
}

bool OutputFile::PlaceKeeping(const NextNameSource& nextName, const std::function<bool()>& place) {
    for (;;) {
        if (place()) return true;
        if (errno != EEXIST || !nextName) break;
        const auto next = nextName();
        if (!next) {
            reason_ = "every numbered name is taken";
            return false;
        }
        target_ = *next;
    }
    Fail(errno);
    return false;
}

bool OutputFile::FlushStream() {
    // A write of WritePieces fails outside the stream, which then shows no error itself.
    return std::fflush(stream_) == 0 && !std::ferror(stream_) && writeError_ == 0;
}

bool OutputFile::Flush() {
    if (!stream_) return false;
    if (FlushStream()) return true;
    Fail(writeError_ != 0 ? writeError_ : EIO);
    return false;
}

bool OutputFile::Commit(const NextNameSource& nextName) {
    if (!stream_) return false;
    const bool flushed = FlushStream();
    CloseStream();
    if (!flushed) {
        Fail(writeError_ != 0 ? writeError_ : EIO);
        Discard();
        return false;
    }
    struct stat st {};
    // Only when an existing file is replaced must its new content be on disk before the
    // rename; a new name loses nothing if a crash drops it.
    if (mode_ == ExistingFile::Replace && ::lstat(target_.c_str(), &st) == 0 &&
        ::fdatasync(fd_) != 0) {
        Fail(errno);
        Discard();
        return false;
    }
    const bool placed = temp_.empty() ? PlaceUnnamed(nextName) : PlaceNamed(nextName);
    if (placed) temp_.clear();
    Discard();
    return placed;
}

}  // namespace ozm
