#pragma once
// The one conversion between the red, green, blue samples of files (TIFF strips, rows handed
// to encoders) and the bitmap's blue, green, red bytes, done where it costs least: both
// directions are a copy with a byte exchange.

#include <cstddef>
#include <cstdint>

namespace ozm {

// Copies `pixels` 3-byte pixels from `src` to `dst`, exchanging the first and third byte of
// each. The two ranges must not overlap.
void CopySwappingRedBlue(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels);

}  // namespace ozm
