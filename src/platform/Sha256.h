#pragma once
// SHA-256 of a file's bytes, for checking a download against its published sum.

#include <optional>
#include <string>

namespace ozm {

// The SHA-256 of everything in the open file `fd`, read from offset 0 (the file position is
// left alone), as 64 lower-case hexadecimal digits; nothing on a read error.
std::optional<std::string> Sha256OfFile(int fd);

// The same of bytes in memory.
std::string Sha256Hex(const std::string& bytes);

}  // namespace ozm
