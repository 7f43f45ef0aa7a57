#pragma once
// WebP through libwebp: read by the command line (first frame of an animation), written by
// its --to webp. The desktop program neither lists nor writes it.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"
#include "core/formats/PhotoMetadata.h"
#include "core/formats/io/FileBytes.h"

namespace ozm {

// Every WebP file is a RIFF container.
inline constexpr FileShape kWebpFileShape{kMaxInputFileBytes, "RIFF", "not a WebP file"};

// 24 bits per pixel. Still pictures and the first frame of an animation (as the animation's
// canvas shows it). Without `background` an alpha channel is dropped, colour values unblended;
// with it every pixel is blended onto that colour by its alpha.
bool DecodeWebp(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason = nullptr,
                std::optional<RgbQuad> background = std::nullopt);

// `quality` 1..100 for the lossy coding; `lossless` codes every pixel exactly. libwebp's
// default effort (method 4). Sides above 16383 cannot be stored. With `metadata`, its ICC
// profile and EXIF block go into ICCP and EXIF chunks of an extended file.
bool EncodeWebp(const Bitmap& bitmap, std::FILE* file, int quality, bool lossless,
                const PhotoMetadata* metadata = nullptr);

// Blends colour `c` of alpha `a` onto background colour `bg`: (c a + bg (255 - a)) / 255,
// rounded to the nearest level.
inline std::uint8_t BlendOnto(unsigned c, unsigned a, unsigned bg) {
    return static_cast<std::uint8_t>((c * a + bg * (255 - a) + 127) / 255);
}

}  // namespace ozm
