#include "app/shell/FolderChoice.h"

#include <system_error>

#include "core/text/TextRules.h"

namespace ozm {

namespace fs = std::filesystem;

std::optional<fs::path> TypedFolder(std::string_view typed, const fs::path& current,
                                    const fs::path& home) {
    const std::string text(TrimControl(typed));
    if (text.empty()) return std::nullopt;
    fs::path folder;
    if (text == "~") {
        folder = home;
    } else if (text.rfind("~/", 0) == 0) {
        folder = home / text.substr(2);
    } else {
        folder = current / text;  // an absolute text replaces `current`
    }
    return folder.lexically_normal();
}

bool MakeTypedFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

fs::path MakeNewFolder(const fs::path& parent) {
    // Bounded: a folder holding a thousand of them gets no more.
    for (int number = 1; number <= 1000; ++number) {
        std::string name(kNewFolderName);
        if (number > 1) name += " (" + std::to_string(number) + ")";
        const fs::path candidate = parent / name;
        std::error_code ec;
        // Made only when the name was free: an existing folder is never handed out as new.
        if (fs::create_directory(candidate, ec)) return candidate;
        std::error_code taken;
        if (!fs::exists(fs::symlink_status(candidate, taken))) return {};  // no permission
    }
    return {};
}

std::string ChosenFolderText(const fs::path& folder) {
    std::string text = folder.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace ozm
