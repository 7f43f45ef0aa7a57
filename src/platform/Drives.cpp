#include "platform/Drives.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace ozm {

namespace fs = std::filesystem;

namespace {

// mountinfo escapes blank, tab, newline and backslash as a backslash and three octal digits.
std::string DecodeOctalEscapes(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) &&
            isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            const int value =
                (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string_view> SplitBlanks(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

// A path without "." and ".." steps and without a trailing "/" (except the root itself).
fs::path Tidy(const fs::path& path) {
    fs::path tidy = path.lexically_normal();
    std::string text = tidy.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

// The components of an absolute path after the root: "/media/u/X" → {"media", "u", "X"}.
std::vector<std::string> Steps(const fs::path& path) {
    std::vector<std::string> steps;
    for (const fs::path& part : Tidy(path).relative_path()) {
        if (!part.empty()) steps.push_back(part.string());
    }
    return steps;
}

bool IsUnder(const fs::path& path, const fs::path& folder) {
    const std::vector<std::string> p = Steps(path);
    const std::vector<std::string> f = Steps(folder);
    return p.size() >= f.size() && std::equal(f.begin(), f.end(), p.begin());
}

std::string CurrentUserName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr) {
        return pw->pw_name;
    }
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

bool ReadsOne(const fs::path& file) {
    std::ifstream in(file);
    std::string value;
    return static_cast<bool>(in >> value) && value == "1";
}

// The sysfs rules: the device's own "removable" flag or that of the disk a partition belongs
// to, or a device path that runs through a USB port (card readers and sticks that claim to
// be fixed disks).
bool SysfsSaysRemovable(const fs::path& sysBlock, const std::string& deviceNumber) {
    if (deviceNumber.empty()) return false;
    std::error_code ec;
    const fs::path link = sysBlock / deviceNumber;
    const fs::path device = fs::canonical(link, ec);
    if (ec) return false;
    for (const fs::path& part : device) {
        if (part.string().rfind("usb", 0) == 0) return true;
    }
    return ReadsOne(device / "removable") || ReadsOne(device.parent_path() / "removable");
}

}  // namespace

std::vector<MountedVolume> ParseMountInfo(std::string_view text) {
    std::vector<MountedVolume> volumes;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - FSTYPE SOURCE SUPEROPTS
        const std::vector<std::string_view> f = SplitBlanks(line);
        if (f.size() < 9) continue;
        const auto dash = std::find(f.begin() + 6, f.end(), std::string_view("-"));
        if (dash == f.end() || f.end() - dash < 3) continue;
        if (f[2].find(':') == std::string_view::npos || f[4].empty() || f[4][0] != '/') continue;

        MountedVolume volume;
        volume.deviceNumber = std::string(f[2]);
        volume.root = DecodeOctalEscapes(f[3]);
        volume.mountPoint = Tidy(DecodeOctalEscapes(f[4]));
        volume.fileSystem = DecodeOctalEscapes(dash[1]);
        volume.device = DecodeOctalEscapes(dash[2]);
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

fs::path Drives::FirstRemovableVolume() const {
    fs::path first;
    for (const MountedVolume& v : Volumes()) {
        if (v.removable && (first.empty() || v.mountPoint.string() < first.string())) {
            first = v.mountPoint;
        }
    }
    return first;
}

fs::path Drives::DriveOf(const fs::path& path) const {
    const fs::path tidy = Tidy(path);
    if (!tidy.is_absolute()) return "/";
    const std::vector<std::string> steps = Steps(tidy);
    // The volume folder by the shape of the path: /media/USER/NAME, /run/media/USER/NAME,
    // /mnt/NAME. A mounted volume directly under /media or /mnt (mounts made without udisks)
    // is taken when it holds the path.
    const std::size_t n = steps.size();
    std::size_t depth = 0;
    if (n >= 2 && steps[0] == "media") depth = std::min<std::size_t>(3, n);
    if (n >= 3 && steps[0] == "run" && steps[1] == "media") depth = std::min<std::size_t>(4, n);
    if (n >= 2 && steps[0] == "mnt") depth = 2;
    if (depth == 0) return "/";

    fs::path best;
    for (const MountedVolume& v : Volumes()) {
        const fs::path mount = Tidy(v.mountPoint);
        const std::vector<std::string> m = Steps(mount);
        const bool inRoots = (m.size() >= 2 && (m[0] == "media" || m[0] == "mnt")) ||
                             (m.size() >= 3 && m[0] == "run" && m[1] == "media");
        if (inRoots && IsUnder(tidy, mount) && m.size() > Steps(best).size()) {
            best = mount;
        }
    }
    if (!best.empty()) return best;
    fs::path drive = "/";
    for (std::size_t i = 0; i < depth; ++i) drive /= steps[i];
    return drive;
}

bool Drives::DriveExists(const fs::path& drive) const {
    const fs::path tidy = Tidy(drive);
    if (tidy == "/") return true;
    for (const MountedVolume& v : Volumes()) {
        if (Tidy(v.mountPoint) == tidy) return true;
    }
    return false;
}

SystemDrives::SystemDrives() : SystemDrives(Roots{}) {}

SystemDrives::SystemDrives(Roots roots) : roots_(std::move(roots)) {
    if (roots_.userName.empty()) roots_.userName = CurrentUserName();
}

std::vector<MountedVolume> SystemDrives::Volumes() const {
    std::ifstream in(roots_.mountInfo, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<MountedVolume> parsed = ParseMountInfo(text.str());

    // A later mount on the same point hides the earlier one.
    std::vector<MountedVolume> volumes;
    for (MountedVolume& v : parsed) {
        std::erase_if(volumes,
                      [&](const MountedVolume& o) { return o.mountPoint == v.mountPoint; });
        volumes.push_back(std::move(v));
    }

    const fs::path media = fs::path("/media") / roots_.userName;
    const fs::path runMedia = fs::path("/run/media") / roots_.userName;
    for (MountedVolume& v : volumes) {
        const fs::path parent = v.mountPoint.parent_path();
        const bool byUdisks = !roots_.userName.empty() && v.device.rfind("/dev/", 0) == 0 &&
                              (parent == media || parent == runMedia);
        // Only whole file systems count; a bound folder of a stick is not a drive of its own.
        v.removable =
            v.root == "/" && (byUdisks || SysfsSaysRemovable(roots_.sysBlock, v.deviceNumber));
    }
    return volumes;
}

}  // namespace ozm
