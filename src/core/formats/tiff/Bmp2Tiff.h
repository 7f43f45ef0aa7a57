#pragma once
// The program's own writer of uncompressed little-endian TIFF files with one directory and one
// strip, rows top first. The kind of file follows the bitmap's depth:
//   1 bit (black and white palette)  bilevel, BlackIsZero
//   4 and 8 bits                     palette, every column kept (an odd 4-bit row ends in a
//                                    half byte whose low pixel is 0)
//   16, 24 and 32 bits               RGB, 8 bits per sample
// A 1-bit bitmap with other colours than black and white is written as an 8-bit palette file
// so that no colour is lost. The Software text "Vandertool" ends with its NUL (count 11).
// A colour profile, when given, follows the text from an even offset and ends the directory
// (tag 34675); bilevel files take none.

#include <cstdint>
#include <cstdio>
#include <span>

#include "core/bitmap/Bitmap.h"

namespace ozm {

// Writes the whole file from the current position of `file` (a new, empty file). An empty
// bitmap writes nothing and succeeds: the file stays 0 bytes long. False when a side exceeds
// 65535 (ImageWidth and ImageLength are stored as SHORT), when memory cannot be had, or when a
// write fails. The strip's rows are converted on up to `threads` threads; the bytes do not
// depend on it.
bool WriteTiffFile(const Bitmap& bitmap, std::FILE* file, int threads = 1,
                   std::span<const std::uint8_t> icc = {});

}  // namespace ozm
