#pragma once
// Whole-file reading for the decoders: every decoder works on bytes in memory so that all its
// offsets can be checked against one known size.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ozm {

// Files above this size are refused before anything is allocated (no supported image of the
// size limits needs more).
inline constexpr std::uint64_t kMaxInputFileBytes = std::uint64_t{2} << 30;

// Bytes of a file's start that its format may look at before the rest is read.
inline constexpr std::size_t kFileHeadBytes = 256;

// What a reader knows of its files before reading one: how long a file of the format can be
// at the pixel limit, the bytes every file of it starts with, and how much of a file its
// header lets the picture use.
struct FileShape {
    std::uint64_t maxBytes = kMaxInputFileBytes;  // at most kMaxInputFileBytes
    std::string_view magic;                       // empty: any start
    std::string_view notThisFormat;               // the reason when the start differs
    // Given the file's first kFileHeadBytes (fewer for a shorter file) and its length: the
    // number of bytes from the start that decoding can use; the rest is never read. Null:
    // the whole file.
    std::uint64_t (*usefulBytes)(std::span<const std::uint8_t> head,
                                 std::uint64_t fileSize) = nullptr;
};

// The file's bytes, or nullopt when it is missing, unreadable, not a regular file, empty or
// too big; `reason` then says which. A named pipe, socket or device is never opened for
// reading in a way that could block. With a `shape`, a file longer than its maxBytes is
// refused as "file too large for its format", and one that does not start with its magic
// bytes with its notThisFormat reason, both before anything else is read; of the rest, only
// the useful bytes are read.
std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::filesystem::path& path,
                                                       std::string* reason = nullptr,
                                                       const FileShape& shape = {});

// The system's text for an errno value, starting lower-case: "permission denied".
std::string SystemErrorText(int error);

}  // namespace ozm
