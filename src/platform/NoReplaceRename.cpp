#include "platform/NoReplaceRename.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ozm {

bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::error_code& ec) {
    ec.clear();
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        ec.assign(errno, std::generic_category());
        return false;
    }
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) {
        ec.assign(errno, std::generic_category());
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        // link() fails with EEXIST when the name is taken: the check and the move are one.
        if (::link(from.c_str(), to.c_str()) != 0) {
            ec.assign(errno, std::generic_category());
            return false;
        }
        if (::unlink(from.c_str()) != 0) {
            const int error = errno;
            ::unlink(to.c_str());  // the old name stays the file's only name
            ec.assign(error, std::generic_category());
            return false;
        }
        return true;
    }
    if (::lstat(to.c_str(), &st) == 0) {
        ec = std::make_error_code(std::errc::file_exists);
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        ec.assign(errno, std::generic_category());
        return false;
    }
    return true;
}

}  // namespace ozm
