#pragma once
// Whole-file reading for the decoders: every decoder works on bytes in memory so that all its
// offsets can be checked against one known size.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ozm {

// Files above this size are refused before anything is allocated (no supported image of the
// size limits needs more).
inline constexpr std::uint64_t kMaxInputFileBytes = std::uint64_t{2} << 30;

// The file's bytes, or nullopt when it is missing, unreadable, not a regular file, empty or
// too big; `reason` then says which. A named pipe, socket or device is never opened for
// reading in a way that could block.
std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::filesystem::path& path,
                                                       std::string* reason = nullptr);

// The system's text for an errno value, starting lower-case: "permission denied".
std::string SystemErrorText(int error);

}  // namespace ozm
