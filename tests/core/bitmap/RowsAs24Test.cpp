#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/bitmap/Bitmap.h"
#include "core/bitmap/RowsAs24.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

// Every encoder hands its deep and palette rows on through RowsAs24, so at every depth and
// in both orders it must give what PixelAt gives: palette looked up (black past a short
// palette), 5-5-5 widened, the fourth byte dropped. Widths 1 to 7 cover the SIMD tail of the
// 24-bit swap and every bit position of the last byte of a 1- and 4-bit row.
TEST(RowsAs24, EveryDepthAndOrderMatchesPixelAt) {
    for (int bitCount : {1, 4, 8, 16, 24, 32}) {
        for (int width : {1, 2, 3, 5, 7, 21, 64}) {
            Bitmap bitmap = test::MakePatternBitmap(width, 3, bitCount, 7u + width);
            // A short palette: indexes past its end read as black.
            if (bitmap.HasPalette()) bitmap.Palette().resize(bitmap.Palette().size() / 2 + 1);
            for (ChannelOrder order : {ChannelOrder::Bgr, ChannelOrder::Rgb}) {
                RowsAs24 rows(bitmap, order);
                std::vector<std::uint8_t> copied(static_cast<std::size_t>(width) * 3 + 1, 0xAB);
                for (int y = 0; y < bitmap.Height(); ++y) {
                    rows.CopyRow(y, copied.data());
                    const std::uint8_t* row = rows.Row(y);
                    for (int x = 0; x < width; ++x) {
                        const RgbQuad q = bitmap.PixelAt(x, y);
                        const std::uint8_t want[3] = {order == ChannelOrder::Rgb ? q.red : q.blue,
                                                      q.green,
                                                      order == ChannelOrder::Rgb ? q.blue : q.red};
                        ASSERT_EQ(std::memcmp(copied.data() + 3 * x, want, 3), 0)
                            << bitCount << " bits, width " << width << ", x " << x << ", y " << y;
                        ASSERT_EQ(std::memcmp(row + 3 * x, want, 3), 0);
                    }
                    EXPECT_EQ(copied.back(), 0xAB) << "wrote past the row";
                }
            }
        }
    }
}

TEST(RowsAs24, ConvertTo24KeepsColoursAndClearsPadding) {
    Bitmap src = test::MakePatternBitmap(5, 4, 16);
    Bitmap dst;
    ASSERT_TRUE(ConvertTo24(src, dst));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) ASSERT_EQ(dst.PixelAt(x, y), src.PixelAt(x, y));
        EXPECT_EQ(dst.Row(y)[15], 0);  // 5 pixels of 3 bytes, padded to 16
    }
}

}  // namespace
}  // namespace ozm
