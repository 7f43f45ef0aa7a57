#include "core/formats/OutputFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace ozm {

namespace {

// Exists as anything (file, folder, dangling link).
bool PathTaken(const std::filesystem::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
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

}  // namespace

OutputFile::OutputFile(std::filesystem::path target, ExistingFile mode)
    : target_(std::move(target)), mode_(mode) {
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        if (mode_ == ExistingFile::Keep || !S_ISREG(st.st_mode)) return;
        // A file its owner may not write is read-only to the user even when we run as root.
        if (!(st.st_mode & S_IWUSR) || ::access(target_.c_str(), W_OK) != 0) return;
    }
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path folder = target_.parent_path();
    const std::string stem =
        "." + target_.filename().string() + ".part-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = folder / (stem + std::to_string(counter.fetch_add(1)));
        // 0666 less the umask: the finished file gets the same mode as a plain create.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return;
        }
        stream_ = ::fdopen(fd, "wb");
        if (!stream_) {
            ::close(fd);
            ::unlink(candidate.c_str());
            return;
        }
        temp_ = std::move(candidate);
        return;
    }
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

bool OutputFile::Commit() {
    if (!stream_) return false;
    bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const bool replacing = PathTaken(target_);
    // Only when an existing file is replaced must its new content be on disk before the
    // rename; a new name loses nothing if a crash drops it.
    if (ok && replacing) ok = ::fdatasync(::fileno(stream_)) == 0;
    ok = (std::fclose(stream_) == 0) && ok;
    stream_ = nullptr;
    if (ok) {
        ok = mode_ == ExistingFile::Keep ? RenameNoReplace(temp_, target_)
                                         : ::rename(temp_.c_str(), target_.c_str()) == 0;
    }
    if (ok) temp_.clear();
    Discard();
    return ok;
}

}  // namespace ozm
