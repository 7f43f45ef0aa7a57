#include "platform/ShellOpen.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/Processes.h"

namespace ozm {

namespace fs = std::filesystem;

namespace {

bool IsProgramOnPath(std::string_view name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string_view dirs(path);
    while (true) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        // An empty entry means the working folder, which we do not search: a program lying
        // in the folder being browsed must not be started by accident.
        if (!dir.empty() && dir[0] == '/') {
            const std::string candidate = std::string(dir) + "/" + std::string(name);
            struct stat st {};
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                ::access(candidate.c_str(), X_OK) == 0) {
                return true;
            }
        }
        if (colon == std::string_view::npos) return false;
        dirs.remove_prefix(colon + 1);
    }
}

// Absolute, so that a name starting with "-" can never be read as an option.
std::string Argument(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).string();
}

}  // namespace

void SystemShellOpen::Open(const fs::path& path) {
    if (path.empty()) return;
    StartDetached({"xdg-open", Argument(path)});
}

// A scheme is a letter, then letters, digits, "+", "-" or ".", then ":"; so the argument can
// never be read as an option or as a file name in the working folder.
void SystemShellOpen::OpenAddress(const std::string& address) {
    const std::size_t colon = address.find(':');
    if (colon == std::string::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>(address[0])))
        return;
    for (std::size_t i = 1; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(address[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return;
    }
    StartDetached({"xdg-open", address});
}

void SystemShellOpen::OpenInImageEditor(const fs::path& file) {
    if (file.empty()) return;
    for (const char* editor : {"kolourpaint", "pinta", "drawing", "gimp"}) {
        if (IsProgramOnPath(editor)) {
            StartDetached({editor, Argument(file)});
            return;
        }
    }
    StartDetached({"xdg-open", Argument(file)});
}

}  // namespace ozm
