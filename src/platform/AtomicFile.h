#pragma once
// Whole-file reads and atomic replacement for the small files the program keeps beside
// itself (settings, recent folders). A reader never sees a half-written file: the new
// content goes to a temporary file in the same folder, which is then renamed over the old one.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace ozm {

enum class ReadStatus { Ok, Missing, Failed };

struct FileContent {
    ReadStatus status = ReadStatus::Missing;
    std::string bytes;
};

// Reads the whole file. Failed when it cannot be read, is not a regular file, or is larger
// than maxBytes (so a stray huge file is never loaded into memory).
FileContent ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. An existing file keeps its permission bits; a new one gets 0666 less the umask. On
// failure `path` is untouched, no temporary file is left, and `ec` says why.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           std::error_code& ec);

}  // namespace ozm
