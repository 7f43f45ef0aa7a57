#include "platform/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/NoReplaceRename.h"
#include "platform/SpecialFolders.h"

namespace ozm {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kNameMax = 255;  // bytes of one file name on the usual file systems
const std::string kInfoSuffix = ".trashinfo";

std::string LocalTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// The mount point holding `path` (already resolved): the longest mount point it lies under.
fs::path MountOf(const Drives& drives, const fs::path& path) {
    fs::path best = "/";
    std::size_t bestSteps = 0;
    for (const MountedVolume& v : drives.Volumes()) {
        const fs::path mount = v.mountPoint.lexically_normal();
        const fs::path rel = path.lexically_relative(mount);
        if (rel.empty() || *rel.begin() == "..") continue;
        const std::size_t steps =
            static_cast<std::size_t>(std::distance(mount.begin(), mount.end()));
        if (steps > bestSteps) {
            best = mount;
            bestSteps = steps;
        }
    }
    return best;
}

// `path` with symbolic links resolved as far as it exists, the rest appended as written.
fs::path ResolveExisting(const fs::path& path) {
    std::error_code ec;
    fs::path existing = path;
    fs::path rest;
    while (!existing.empty() && existing != existing.root_path()) {
        fs::path real = fs::canonical(existing, ec);
        if (!ec) return (real / rest).lexically_normal();
        rest = existing.filename() / rest;
        existing = existing.parent_path();
    }
    return path.lexically_normal();
}

// A folder of ours that is really a folder (not a link to one elsewhere), made with mode 0700
// when missing.
bool EnsurePrivateFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// $topdir/.Trash/$UID when .Trash is a sticky folder and not a link; else $topdir/.Trash-$UID.
// Empty when neither can be used.
fs::path VolumeTrash(const fs::path& topdir) {
    const std::string uid = std::to_string(::geteuid());
    const fs::path shared = topdir / ".Trash";
    struct stat st {};
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
        if (EnsurePrivateFolder(shared / uid)) return shared / uid;
    }
    const fs::path own = topdir / (".Trash-" + uid);
    if (EnsurePrivateFolder(own)) return own;
    return {};
}

// Cuts a name to `limit` bytes without splitting a UTF-8 sequence.
std::string CutName(const std::string& name, std::size_t limit) {
    if (name.size() <= limit) return name;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    return name.substr(0, end);
}

// The name tried on attempt `n`: the file's own name first, then "stem.N.ext", each short
// enough that the record's name (name + ".trashinfo") is a valid file name.
std::string CandidateName(const fs::path& fileName, int n) {
    std::string stem = fileName.stem().string();  // ".hidden" is all stem
    std::string ext = fileName.extension().string();
    const std::string number = n == 0 ? "" : "." + std::to_string(n + 1);
    const std::size_t room = kNameMax - kInfoSuffix.size();
    if (ext.size() > room / 2) {  // an "extension" that long is part of the name
        stem = fileName.string();
        ext.clear();
    }
    stem = CutName(stem, room - number.size() - ext.size());
    return stem + number + ext;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace

std::string TrashInfoText(const std::string& path, const std::string& deletionDate) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                           (b >= '0' && b <= '9') ||
                           std::string_view("-_.!~*'()/").find(c) != std::string_view::npos;
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[b >> 4];
            encoded += kHex[b & 0xF];
        }
    }
    return "[Trash Info]\nPath=" + encoded + "\nDeletionDate=" + deletionDate + "\n";
}

FreedesktopTrash::FreedesktopTrash() : FreedesktopTrash(DataHome()) {}

FreedesktopTrash::FreedesktopTrash(fs::path dataHome)
    : FreedesktopTrash(std::move(dataHome), std::make_shared<SystemDrives>()) {}

FreedesktopTrash::FreedesktopTrash(fs::path dataHome, std::shared_ptr<const Drives> drives)
    : dataHome_(std::move(dataHome)), drives_(std::move(drives)) {}

bool FreedesktopTrash::MoveToTrash(const fs::path& path) {
    if (path.empty() || !drives_) return false;
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec).lexically_normal();
    if (ec || !absolute.has_filename() || absolute.filename() == "..") return false;
    struct stat st {};
    if (::lstat(absolute.c_str(), &st) != 0) return false;
    // The file itself is not followed (a link is trashed as a link); its folder is resolved so
    // the volume and the recorded path are the real ones.
    const fs::path folder = fs::canonical(absolute.parent_path(), ec);
    if (ec) return false;
    const fs::path file = folder / absolute.filename();

    const FixedDrives table(drives_->Volumes());
    const fs::path homeTrash = dataHome_ / "Trash";
    for (const MountedVolume& v : table.Volumes()) {
        if (v.mountPoint.lexically_normal() == file) return false;  // a mount point stays
    }
    const fs::path fileMount = MountOf(table, folder);

    fs::path trash;
    std::string recordedPath;
    if (MountOf(table, ResolveExisting(homeTrash)) == fileMount) {
        std::error_code made;
        fs::create_directories(dataHome_, made);  // the trash itself is made private below
        if (!EnsurePrivateFolder(homeTrash)) return false;
        trash = homeTrash;
        recordedPath = file.string();
    } else {
        trash = VolumeTrash(fileMount);
        if (trash.empty()) return false;
        recordedPath = file.lexically_relative(fileMount).string();
    }
    if (!EnsurePrivateFolder(trash / "files") || !EnsurePrivateFolder(trash / "info")) {
        return false;
    }
    // Never trash the trash into itself.
    const fs::path inTrash = file.lexically_relative(ResolveExisting(trash));
    if (!inTrash.empty() && *inTrash.begin() != "..") return false;

    const std::string record = TrashInfoText(recordedPath, LocalTimestamp());
    for (int n = 0; n < 10000; ++n) {
        const std::string name = CandidateName(file.filename(), n);
        const fs::path info = trash / "info" / (name + kInfoSuffix);
        const int fd =
            ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        const bool written = WriteAll(fd, record);
        const bool closed = ::close(fd) == 0;
        if (!written || !closed) {
            ::unlink(info.c_str());
            return false;
        }
        const fs::path target = trash / "files" / name;
        std::error_code moved;
        if (RenameNoReplace(file, target, moved)) return true;
        ::unlink(info.c_str());
        if (moved == std::errc::file_exists) continue;  // a stray file without its record
        return false;
    }
    return false;
}

}  // namespace ozm
