#include "core/bitmap/RowsAs24.h"

#include <algorithm>
#include <cstring>

#include "core/bitmap/RgbSwap.h"

namespace ozm {

RowsAs24::RowsAs24(const Bitmap& bitmap, ChannelOrder order) : bitmap_(bitmap), order_(order) {
    if (!bitmap.HasPalette()) return;
    const auto& palette = bitmap.Palette();
    const std::size_t n = std::min(palette.size(), colours_.size());
    for (std::size_t i = 0; i < n; ++i) {
        const RgbQuad q = palette[i];
        colours_[i] = order == ChannelOrder::Rgb
                          ? std::array<std::uint8_t, 3>{q.red, q.green, q.blue}
                          : std::array<std::uint8_t, 3>{q.blue, q.green, q.red};
    }
}

void RowsAs24::CopyRow(int y, std::uint8_t* out) const {
    const std::uint8_t* in = bitmap_.Row(y);
    const int w = bitmap_.Width();
    const bool rgb = order_ == ChannelOrder::Rgb;
    // Where blue and red go in each 3-byte pixel.
    const int blue = rgb ? 2 : 0;
    const int red = 2 - blue;
    switch (bitmap_.BitCount()) {
        case 24:
            if (rgb) {
                CopySwappingRedBlue(in, out, static_cast<std::size_t>(w));
            } else {
                std::memcpy(out, in, static_cast<std::size_t>(w) * 3);
            }
            break;
        case 32:
            for (int x = 0; x < w; ++x, in += 4, out += 3) {
                out[blue] = in[0];
                out[1] = in[1];
                out[red] = in[2];
            }
            break;
        case 16:
            for (int x = 0; x < w; ++x, in += 2, out += 3) {
                const unsigned v = in[0] | (in[1] << 8);
                out[blue] = Expand5To8(v & 31);
                out[1] = Expand5To8((v >> 5) & 31);
                out[red] = Expand5To8((v >> 10) & 31);
            }
            break;
        default:
            for (int x = 0; x < w; ++x)
                std::memcpy(out + 3 * x, colours_[bitmap_.IndexAt(x, y)].data(), 3);
    }
}

const std::uint8_t* RowsAs24::Row(int y) {
    if (bitmap_.BitCount() == 24 && order_ == ChannelOrder::Bgr) return bitmap_.Row(y);
    buffer_.resize(static_cast<std::size_t>(bitmap_.Width()) * 3);
    CopyRow(y, buffer_.data());
    return buffer_.data();
}

}  // namespace ozm
