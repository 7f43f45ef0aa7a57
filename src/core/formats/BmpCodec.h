#pragma once
// Windows bitmap files and device-independent bitmaps, read and written by our own code.

#include <cstdint>
#include <cstdio>
#include <span>

#include "core/bitmap/Bitmap.h"

namespace ozm {

// A whole .bmp/.dib file (14-byte file header first).
bool DecodeBmp(std::span<const std::uint8_t> data, Bitmap& out);

// A packed DIB as metafiles carry it: the info header with its colour table in `info`, the
// pixel rows in `bits`.
bool DecodeDib(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits,
               Bitmap& out);

// File header, BITMAPINFOHEADER, palette and rows bottom-up, in the bitmap's own depth.
bool EncodeBmp(const Bitmap& bitmap, std::FILE* file);

}  // namespace ozm
