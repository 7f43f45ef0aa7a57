#pragma once
// SHA-256 of an open file, streamed (a download may be hundreds of megabytes), for checking
// it against its published sum. Small texts: FileHash.h.

#include <optional>
#include <string>

namespace ozm {

// The SHA-256 of everything in the open file `fd`, read from offset 0 (the file position is
// left alone), as 64 lower-case hexadecimal digits; nothing on a read error.
std::optional<std::string> Sha256OfFile(int fd);

}  // namespace ozm
