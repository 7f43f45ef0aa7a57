#pragma once
// JPEG through libjpeg-turbo. The library's setjmp/longjmp error path stays inside the .cpp.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"
#include "core/formats/PhotoMetadata.h"
#include "core/formats/io/FileBytes.h"

namespace ozm {

// Every JPEG file starts with the start-of-image marker; compressed data has no useful bound
// below the general cap.
inline constexpr FileShape kJpegFileShape{kMaxInputFileBytes, "\xFF\xD8", "not a JPEG file"};

// Full-size decode: colour (and CMYK, YCCK) files give 24 bits per pixel, greyscale files an
// 8-bit bitmap with a palette of 256 greys. False for anything the library rejects, and for a
// multi-scan file whose scans would visit more than 2^27 blocks in all, or whose coefficients
// and bitmap together need more than 896 MiB ("progressive JPEG too costly to decode").
bool DecodeJpeg(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason = nullptr);

// Baseline colour JPEG at `quality` (1..100) with the library's defaults for the rest. With
// `metadata`: its EXIF block in an APP1 segment (left out when above kMaxJpegExifBytes) and
// its ICC profile in APP2 segments, after the JFIF header.
bool EncodeJpeg(const Bitmap& bitmap, std::FILE* file, int quality,
                const PhotoMetadata* metadata = nullptr);

}  // namespace ozm
