#pragma once
// The user's folders as the XDG conventions name them: home, data home, and the desktop,
// documents and pictures folders of user-dirs.dirs.

#include <filesystem>
#include <optional>
#include <string_view>

namespace ozm {

// $HOME when set and absolute, else the home folder of the user's passwd entry, else "/".
std::filesystem::path HomeFolder();

// $XDG_DATA_HOME when set and absolute, else ~/.local/share.
std::filesystem::path DataHome();

// $XDG_CONFIG_HOME when set and absolute, else ~/.config.
std::filesystem::path ConfigHome();

enum class UserDir { Desktop, Documents, Pictures };

// The folder user-dirs.dirs gives for `dir`, else ~/Desktop, ~/Documents or ~/Pictures.
std::filesystem::path UserDirPath(UserDir dir);

// The value of XDG_<name>_DIR in the text of a user-dirs.dirs file: a quoted path that is
// absolute or starts with "$HOME/" (replaced by `home`). nullopt when the entry is missing
// or malformed. A later line overrides an earlier one, as the shell reading the file does.
std::optional<std::filesystem::path> ParseUserDirsEntry(std::string_view fileText,
                                                        std::string_view name,
                                                        const std::filesystem::path& home);

}  // namespace ozm
