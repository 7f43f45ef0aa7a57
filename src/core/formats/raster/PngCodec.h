#pragma once
// PNG through libpng. The library's setjmp/longjmp error path stays inside the .cpp.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"
#include "core/formats/io/FileBytes.h"

namespace ozm {

// Every PNG file starts with the 8-byte signature. Stored (uncompressed) data of 16-bit RGBA
// at the pixel limit already fills the general cap, which is therefore the bound.
inline constexpr FileShape kPngFileShape{kMaxInputFileBytes, "\x89PNG\r\n\x1A\n", "not a PNG file"};

// Grey, grey-with-alpha and palette files give 1-, 4- or 8-bit palette bitmaps (bit depth 1
// gives 1, 2 and 4 give 4, 8 and 16 give 8); colour files of 8 or 16 bits per sample give 24
// bits per pixel with the alpha channel dropped, colour values unblended.
bool DecodePng(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason = nullptr);

// Bit 0 None, bit 1 Sub, bit 2 Up, bit 3 Average, bit 4 Paeth: the row filters libpng may use.
inline constexpr std::uint8_t kPngFilterNoneOnly = 1;

// Not interlaced. 1-, 4- and 8-bit bitmaps as colour type 3 (PLTE) at their own depth, every
// other depth as colour type 2 at 8 bits per sample.
bool EncodePng(const Bitmap& bitmap, std::FILE* file, std::uint8_t filterSet);

}  // namespace ozm
