#include "core/transforms/Orientation.h"

#include <cstring>

namespace ozm {

bool ApplyOrientation(Bitmap& bitmap, int orientation) {
    if (orientation < 2 || orientation > 8 || bitmap.Empty()) return true;
    const int bc = bitmap.BitCount();
    if (bc != 8 && bc != 24 && bc != 32 && !ConvertTo24InPlace(bitmap)) return false;
    const Bitmap& in = bitmap;
    const int w = in.Width(), h = in.Height();
    const std::size_t bytes = static_cast<std::size_t>(in.BitCount() / 8);
    const bool swap = OrientationSwapsSides(orientation);
    Bitmap out;
    if (!out.Create(swap ? h : w, swap ? w : h, in.BitCount(), true)) return false;
    out.Palette() = in.Palette();
    const int ow = out.Width(), oh = out.Height();
    for (int y = 0; y < oh; ++y) {
        std::uint8_t* row = out.Row(y);
        for (int x = 0; x < ow; ++x) {
            // The stored pixel that shows at (x, y) of the upright picture.
            int sx = x, sy = y;
            switch (orientation) {
                case 2:
                    sx = w - 1 - x;
                    break;
                case 3:
                    sx = w - 1 - x;
                    sy = h - 1 - y;
                    break;
                case 4:
                    sy = h - 1 - y;
                    break;
                case 5:
                    sx = y;
                    sy = x;
                    break;
                case 6:
                    sx = y;
                    sy = h - 1 - x;
                    break;
                case 7:
                    sx = w - 1 - y;
                    sy = h - 1 - x;
                    break;
                case 8:
                    sx = w - 1 - y;
                    sy = x;
                    break;
                default:
                    break;
            }
            std::memcpy(row + std::size_t(x) * bytes, in.Row(sy) + std::size_t(sx) * bytes, bytes);
        }
    }
    bitmap = std::move(out);
    return true;
}

}  // namespace ozm
