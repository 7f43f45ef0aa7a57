#pragma once
// The folder chooser's rules that need no window: what a typed folder means, making it, and
// the chooser's "新建文件夹" button.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ozm {

inline constexpr std::string_view kNewFolderName = "新建文件夹";

// The typed text as a folder, lexically normal: trimmed of blanks and control characters;
// "~" and "~/…" lie in `home`; a relative text lies under `current`. Nothing for an empty text.
std::optional<std::filesystem::path> TypedFolder(std::string_view typed,
                                                 const std::filesystem::path& current,
                                                 const std::filesystem::path& home);

// An existing folder stays; a missing one is made with every missing parent. False when the
// path is not a folder afterwards (a file is in the way, no permission).
bool MakeTypedFolder(const std::filesystem::path& folder);

// The name for a new folder under `parent`: "新建文件夹", or "新建文件夹 (2)", "新建文件夹 (3)" …
// when the name is taken (by anything). Empty when the first thousand are all taken. Making it
// is the caller's, with a create that fails on an existing name.
std::string NewFolderName(const std::filesystem::path& parent);

// How the chooser gives a folder back: without a final "/", except the root.
std::string ChosenFolderText(const std::filesystem::path& folder);

}  // namespace ozm
