#pragma once
// The program's own reader for uncompressed TIFF files of the four classic kinds: bilevel,
// greyscale (4 and 8 bits), palette (1, 4 and 8 bits) and RGB (8 bits per sample, chunky).
// Every directory of the file is decoded in turn and the last one decoded is kept.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"

namespace ozm {

// True when at least one directory of the file was decoded into `out`. Refusals are told
// through `onMessage`; a file that cannot be opened gives false without a message. On false,
// `reason` gets a short text for the first refusal ("compressed TIFF is not supported").
bool ReadTiffFile(const std::filesystem::path& path, Bitmap& out, const MessageCallback& onMessage,
                  std::string* reason = nullptr);

// The same on a file's bytes in memory; `name` stands for the file in the message about a
// file that is no TIFF.
bool ReadTiffData(std::span<const std::uint8_t> data, Bitmap& out, const MessageCallback& onMessage,
                  std::string_view name = {}, std::string* reason = nullptr);

}  // namespace ozm
