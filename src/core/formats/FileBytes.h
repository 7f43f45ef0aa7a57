#pragma once
// Whole-file reading for the decoders: every decoder works on bytes in memory so that all its
// offsets can be checked against one known size.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace ozm {

// Files above this size are refused before anything is allocated (no supported image of the
// size limits needs more).
inline constexpr std::uint64_t kMaxInputFileBytes = std::uint64_t{2} << 30;

// The file's bytes, or nullopt when it is missing, unreadable, not a regular file or too big.
std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::filesystem::path& path);

}  // namespace ozm
