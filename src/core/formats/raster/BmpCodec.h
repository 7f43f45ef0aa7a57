#pragma once
// Windows bitmap files and device-independent bitmaps, read and written by our own code.
//
// Reading: info headers of 12 (OS/2 core), 16 to 64 (OS/2 2.x), 40, 52, 56, 108 and 124
// bytes; 1, 4, 8, 16, 24 and 32 bits; BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS and
// BI_ALPHABITFIELDS; rows bottom-up or top-down. The bitmap keeps the file's depth and
// colour table (biClrUsed entries, lengthened with black when pixels use indexes past it).
// Bitfield pixels go to the nearest depth that keeps their colours: 5-5-5 masks stay 16
// bits, 8-8-8 masks in the usual places stay 32, any other masks give 24 (channels wider
// than 8 bits keep their top 8). Alpha is dropped; the fourth byte of a 32-bit pixel and the
// top bit of a 16-bit one are cleared.
//
// Damaged input: uncompressed pixel data shorter than the rows it needs is refused (only the
// padding of the last stored row may be missing); run-length data that ends before its
// end-of-bitmap escape with rows still to paint is refused too. Runs past a row's end are
// cut there, and a delta past the top row ends the picture. Any refusal returns false and
// leaves `out` as it was.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"
#include "core/formats/io/FileBytes.h"

namespace ozm {

// The compression codes of a DIB's info header that this program knows.
inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;
inline constexpr std::uint32_t kBiAlphaBitfields = 6;

// The longest file a picture at the pixel limit needs: 4 bytes per pixel (32-bit rows; the
// stride of every other depth is at most that; and the longest honest run-length coding, a
// 2-byte run and a 2-byte end of line per pixel of a picture one pixel wide), plus headers,
// masks and a colour table with room to spare. Longer files are refused unread.
// The bytes of a file that decoding can use, judged from its first bytes and its length:
// up to the end of the pixel data its header describes (for run-length data, 4 bytes per
// pixel and 2 per row, more than any honest coding takes). Bytes past that are never looked
// at, so they need not be read.
std::uint64_t BmpUsefulBytes(std::span<const std::uint8_t> head, std::uint64_t fileSize);

inline constexpr FileShape kBmpFileShape{4 * kMaxImagePixels + (std::uint64_t{1} << 20), "BM",
                                         "not a BMP file", BmpUsefulBytes};

// A whole .bmp/.dib file (14-byte file header first). The pixels start at bfOffBits when it
// points past the header into the file, otherwise right after the colour table.
bool DecodeBmp(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason = nullptr);

// A packed DIB as metafiles carry it: the info header with its colour table in `info`, the
// pixel rows in `bits`. A colour table cut short by the end of `info` keeps the entries that
// are there.
bool DecodeDib(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits, Bitmap& out);

// File header, BITMAPINFOHEADER (BI_RGB, biSizeImage set, 3780 pixels per metre = 96 dpi),
// the palette's own entries (biClrUsed = their number; an empty palette is written as a full
// black one) and rows bottom-up, in the bitmap's own depth (16 bits as 5-5-5). False, with
// nothing written, for an empty bitmap; false when writing fails. The rows are copied out in
// pieces on up to `threads` threads while earlier pieces are written; the bytes do not depend
// on it.
bool EncodeBmp(const Bitmap& bitmap, std::FILE* file, int threads = 1);

}  // namespace ozm
