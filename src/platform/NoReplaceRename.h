#pragma once
// Renaming that never replaces what is already at the new name.

#include <filesystem>
#include <system_error>

namespace ozm {

// Renames `from` to `to` unless `to` exists (as anything, a dangling link included): then
// false with `ec` = file_exists and nothing changed. renameat2(RENAME_NOREPLACE) where the
// file system has it; elsewhere a hard link and the removal of the old name for files, which
// also fails rather than replace. Folders on such file systems are renamed after a check,
// the one case with a small window.
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::error_code& ec);

}  // namespace ozm
