#pragma once
// Rows of a bitmap of any depth as 3-byte pixels: what encoders and the 24-bit conversion
// hand on when their target takes no palette, no 5-5-5 words and no fourth byte. Palette
// indexes past the end of a short palette read as black; 16-bit channels widen as
// Expand5To8 does; the fourth byte of a 32-bit pixel is dropped.

#include <array>
#include <cstdint>
#include <vector>

#include "core/bitmap/Bitmap.h"

namespace ozm {

enum class ChannelOrder {
    Bgr,  // the bitmap's own order
    Rgb,  // the order of most file formats
};

class RowsAs24 {
  public:
    // `bitmap` must outlive this object and keep its pixels and palette while it is used.
    RowsAs24(const Bitmap& bitmap, ChannelOrder order);

    // Writes row y as Width() pixels of 3 bytes each to `out`.
    void CopyRow(int y, std::uint8_t* out) const;

    // Row y as Width() pixels of 3 bytes: the bitmap's own row when it already has that
    // layout (24 bits, blue, green, red), else a buffer of this object that the next call
    // overwrites.
    const std::uint8_t* Row(int y);

  private:
    const Bitmap& bitmap_;
    ChannelOrder order_;
    // The palette in the output order, 256 entries; unused entries stay black.
    std::array<std::array<std::uint8_t, 3>, 256> colours_{};
    std::vector<std::uint8_t> buffer_;
};

}  // namespace ozm
