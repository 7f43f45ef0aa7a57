#pragma once
// GIF through giflib.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"
#include "core/formats/io/FileBytes.h"

namespace ozm {

// Every GIF file starts with "GIF"; the general cap is the bound (later frames and
// extensions may follow the first frame's data).
inline constexpr FileShape kGifFileShape{kMaxInputFileBytes, "GIF", "not a GIF file"};

// First frame only. When it has the logical screen's size: its own 8-bit bitmap with the
// frame's palette; otherwise a screen-sized 8-bit bitmap with the file's palette and the frame
// drawn at its offset.
bool DecodeGif(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason = nullptr);

// The same, but a frame with a transparent colour becomes 24 bits per pixel with its
// transparent pixels (and, for a frame smaller than the screen, the screen around it) showing
// `background`. A screen-sized frame without a transparent colour decodes as DecodeGif does it.
bool DecodeGifOnto(std::span<const std::uint8_t> data, Bitmap& out, RgbQuad background,
                   std::string* reason = nullptr);

// Palette index of a colour in the fixed 216-colour reduction: six levels per channel,
// v -> (v + 3) / 51, index 36 r + 6 g + b.
inline std::uint8_t WebSafeIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return static_cast<std::uint8_t>(36 * ((red + 3) / 51) + 6 * ((green + 3) / 51) +
                                     (blue + 3) / 51);
}

// Single-frame GIF. 1-, 4- and 8-bit bitmaps keep their palette; deeper ones are reduced to
// the fixed 216-colour palette without dithering. The rows are mapped to indexes on up to
// `threads` threads while the compressor, which is serial, takes earlier ones; the bytes do
// not depend on it.
bool EncodeGif(const Bitmap& bitmap, std::FILE* file, int threads = 1);

}  // namespace ozm
