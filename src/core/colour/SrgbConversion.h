#pragma once
// Colour management: pixels described by an embedded ICC profile turned into sRGB by lcms2,
// so that a file written without a profile shows the same colours. Perceptual intent (a
// matrix profile's relative colorimetric), no black point compensation: lcms2's defaults.

#include <cstdint>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"

namespace ozm {

// Converts `bitmap` from the colour space of `icc` to sRGB. RGB profiles apply to every depth
// (a palette's entries are converted, 16-bit pixels widen to 24 bits first, a 32-bit pixel's
// fourth byte stays); a grey profile applies to a palette of greys. False, with the bitmap
// unchanged and `why` saying so in a few words, when the profile is damaged, of another colour
// space or of a kind that describes no picture (device link, abstract, named colours).
bool ConvertToSrgb(Bitmap& bitmap, std::span<const std::uint8_t> icc, std::string* why = nullptr,
                   int threads = 1);

}  // namespace ozm
