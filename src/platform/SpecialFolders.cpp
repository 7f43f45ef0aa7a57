#include "platform/SpecialFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/AtomicFile.h"

namespace ozm {

namespace {

std::optional<std::filesystem::path> AbsoluteFromEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return std::nullopt;
    return std::filesystem::path(value);
}

// Undoes the backslash escapes the file format allows inside the double quotes.
std::string Unescape(std::string_view quoted) {
    std::string out;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size()) ++i;
        out += quoted[i];
    }
    return out;
}

}  // namespace

std::filesystem::path HomeFolder() {
    if (auto home = AbsoluteFromEnv("HOME")) return *home;
    if (const passwd* pw = ::getpwuid(::getuid());
        pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/') {
        return pw->pw_dir;
    }
    return "/";
}

std::filesystem::path DataHome() {
    if (auto dir = AbsoluteFromEnv("XDG_DATA_HOME")) return *dir;
    return HomeFolder() / ".local" / "share";
}

std::filesystem::path ConfigHome() {
    if (auto dir = AbsoluteFromEnv("XDG_CONFIG_HOME")) return *dir;
    return HomeFolder() / ".config";
}

std::optional<std::filesystem::path> ParseUserDirsEntry(std::string_view fileText,
                                                        std::string_view name,
                                                        const std::filesystem::path& home) {
    const std::string wanted = "XDG_" + std::string(name) + "_DIR=";
    std::optional<std::filesystem::path> found;
    std::size_t pos = 0;
    while (pos <= fileText.size()) {
        std::size_t end = fileText.find('\n', pos);
        if (end == std::string_view::npos) end = fileText.size();
        std::string_view line = fileText.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() &&
               (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (!line.starts_with(wanted)) continue;
        line.remove_prefix(wanted.size());
        if (line.size() < 2 || line.front() != '"' || line.back() != '"') continue;
        const std::string value = Unescape(line.substr(1, line.size() - 2));
        if (value == "$HOME" || value == "$HOME/") {
            found = home;
        } else if (value.starts_with("$HOME/")) {
            found = home / value.substr(6);
        } else if (!value.empty() && value[0] == '/') {
            found = std::filesystem::path(value);
        }
    }
    return found;
}

std::filesystem::path UserDirPath(UserDir dir) {
    const std::filesystem::path home = HomeFolder();
    std::string_view name;
    std::string_view fallback;
    switch (dir) {
        case UserDir::Desktop:
            name = "DESKTOP";
            fallback = "Desktop";
            break;
        case UserDir::Documents:
            name = "DOCUMENTS";
            fallback = "Documents";
            break;
        case UserDir::Pictures:
            name = "PICTURES";
            fallback = "Pictures";
            break;
    }
    const FileContent file = ReadWholeFile(ConfigHome() / "user-dirs.dirs", 64 * 1024);
    if (file.status == ReadStatus::Ok) {
        if (auto path = ParseUserDirsEntry(file.bytes, name, home)) return *path;
    }
    return home / fallback;
}

}  // namespace ozm
