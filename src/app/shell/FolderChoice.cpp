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

std::string NewFolderName(const fs::path& parent) {
    for (int number = 1; number <= 1000; ++number) {
        std::string name(kNewFolderName);
        if (number > 1) name += " (" + std::to_string(number) + ")";
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(parent / name, ec))) return name;
    }
    return {};
}

std::string ChosenFolderText(const fs::path& folder) {
    std::string text = folder.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace ozm
