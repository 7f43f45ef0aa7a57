#pragma once
// SHA-256 of small files, for the install manifest: a file is removed at uninstall only
// while it still holds what the installer wrote.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ozm {

// The digest of `bytes` as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

// The digest of a regular file's contents (links followed); nullopt when it cannot be read
// or is not a regular file.
std::optional<std::string> FileSha256Hex(const std::filesystem::path& file);

}  // namespace ozm
