#pragma once
// The program's own reader for uncompressed TIFF files.

#include <filesystem>

#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"

namespace ozm {

// True when at least one directory of the file was decoded into `out`. Refusals are told
// through `onMessage`.
bool ReadTiffFile(const std::filesystem::path& path, Bitmap& out, const MessageCallback& onMessage);

}  // namespace ozm
