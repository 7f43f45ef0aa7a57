#pragma once
// PNG pictures with transparency blended onto a chosen colour (the command line's
// --background), through libpng's simplified reading interface.

#include <cstdint>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"

namespace ozm {

// A PNG file with an alpha channel or a transparent colour (tRNS) becomes 24 bits per pixel
// with each pixel blended onto `background` by its alpha. A file without transparency is
// decoded exactly as DecodePng does it.
bool DecodePngOnto(std::span<const std::uint8_t> data, Bitmap& out, RgbQuad background,
                   std::string* reason = nullptr);

}  // namespace ozm
