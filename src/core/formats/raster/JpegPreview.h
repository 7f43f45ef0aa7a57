#pragma once
// JPEG decoded at a reduced scale for the list previews: the library's scaled inverse DCT
// makes 1/2, 1/4 or 1/8 of a photo for a fraction of a full decode's time and memory.

#include <cstdint>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"

namespace ozm {

// The picture's full width and height from the file's header, without decoding any pixels.
// False (with a reason) when the header cannot be read or gives a size beyond the pixel limit.
bool ReadJpegSize(std::span<const std::uint8_t> data, int& width, int& height,
                  std::string* reason = nullptr);

// Decodes at 1/`denominator` of the full size, `denominator` being 1, 2, 4 or 8; each side is
// rounded up (a 1921-pixel side at 1/8 gives 241). The bitmap is as DecodeJpeg makes it:
// 24 bits per pixel in blue, green, red order for colour (and CMYK, YCCK), 8 bits with 256
// greys for greyscale. A multi-scan file keeps its coefficients at full size whatever the
// scale: the full decode's bounds on scans apply, and more than 256 MiB of coefficients is
// refused ("progressive JPEG too costly to decode").
bool DecodeJpegScaled(std::span<const std::uint8_t> data, int denominator, Bitmap& out,
                      std::string* reason = nullptr);

}  // namespace ozm
