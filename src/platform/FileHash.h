#pragma once
// SHA-256 (nettle) of texts and files: the install manifest removes a file at uninstall only
// while it still holds what the installer wrote; the update checks a download against its
// published sum.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ozm {

// The digest of `bytes` as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

// The digest of a regular file's contents (links followed), read in blocks; nullopt when it
// cannot be read or is not a regular file.
std::optional<std::string> FileSha256Hex(const std::filesystem::path& file);

// The digest of everything in the open file `fd`, read from offset 0 (the file position is
// left alone), streamed (a download may be hundreds of megabytes); nullopt on a read error.
std::optional<std::string> Sha256OfFile(int fd);

}  // namespace ozm
