#include <gtest/gtest.h>

#include "core/bitmap/Bitmap.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

TEST(Bitmap, RowsArePaddedToFourBytesAndSizesAreLimited) {
    EXPECT_EQ(RowStride(1, 1), 4u);
    EXPECT_EQ(RowStride(33, 1), 8u);
    EXPECT_EQ(RowStride(7, 4), 4u);
    EXPECT_EQ(RowStride(9, 4), 8u);
    EXPECT_EQ(RowStride(5, 16), 12u);
    EXPECT_EQ(RowStride(5, 24), 16u);
    EXPECT_EQ(RowStride(3, 32), 12u);
    EXPECT_FALSE(RowStride(-1, 24));
    EXPECT_FALSE(RowStride(std::int64_t{1} << 40, 24));

    Bitmap bmp;
    EXPECT_FALSE(bmp.Create(1, 1, 2));
    EXPECT_FALSE(bmp.Create(-1, 5, 24));
    // 2^28 pixels are allowed, one row more is not; nothing is allocated for the refusal.
    EXPECT_TRUE(IsAcceptableImageSize(1 << 14, 1 << 14));
    EXPECT_FALSE(IsAcceptableImageSize(1 << 14, (1 << 14) + 1));
    EXPECT_FALSE(bmp.Create(65536, 65536, 1));
    EXPECT_TRUE(bmp.Empty());
    // An empty bitmap is valid, and a palette depth starts with a full black palette.
    ASSERT_TRUE(bmp.Create(0, 0, 24));
    EXPECT_TRUE(bmp.Empty());
    ASSERT_TRUE(bmp.Create(3, 2, 4));
    EXPECT_EQ(bmp.Palette().size(), 16u);
    EXPECT_EQ(bmp.Row(1) - bmp.Row(0), 4);
}

TEST(Bitmap, EveryDepthConvertsToItsColoursAt24Bits) {
    Bitmap pal;
    ASSERT_TRUE(pal.Create(9, 2, 1));
    pal.Palette() = {RgbQuad{1, 2, 3, 0}, RgbQuad{4, 5, 6, 0}};
    pal.Row(0)[0] = 0b1000'0000;
    pal.Row(0)[1] = 0b1000'0000;  // pixel 8
    Bitmap out;
    ASSERT_TRUE(ConvertTo24(pal, out));
    EXPECT_EQ(out.BitCount(), 24);
    EXPECT_EQ(out.PixelAt(0, 0), (RgbQuad{4, 5, 6, 0}));
    EXPECT_EQ(out.PixelAt(1, 0), (RgbQuad{1, 2, 3, 0}));
    EXPECT_EQ(out.PixelAt(8, 0), (RgbQuad{4, 5, 6, 0}));

    // Indexes past a short palette read as black.
    Bitmap four;
    ASSERT_TRUE(four.Create(2, 1, 4));
    four.Palette().assign(2, RgbQuad{9, 9, 9, 0});
    four.Row(0)[0] = 0x1F;
    EXPECT_EQ(four.PixelAt(0, 0), (RgbQuad{9, 9, 9, 0}));
    EXPECT_EQ(four.PixelAt(1, 0), (RgbQuad{0, 0, 0, 0}));

    // 5-5-5: blue in the low bits, each channel widened so that 31 becomes 255.
    Bitmap hi;
    ASSERT_TRUE(hi.Create(1, 1, 16));
    hi.Row(0)[0] = 0x1F;         // blue 31
    hi.Row(0)[1] = 0x7C | 0x80;  // red 31, the unused top bit set
    EXPECT_EQ(hi.PixelAt(0, 0), (RgbQuad{255, 0, 255, 0}));

    for (int bits : {1, 4, 8, 16, 24, 32}) {
        const Bitmap src = test::MakePatternBitmap(13, 5, bits);
        Bitmap conv = src;
        ASSERT_TRUE(ConvertTo24InPlace(conv));
        EXPECT_EQ(test::CountDifferences(test::ToRgb(conv), test::ToRgb(src)), 0) << bits;
    }
}

TEST(Bitmap, EqualityIgnoresRowPadding) {
    Bitmap a = test::MakePatternBitmap(5, 3, 24);
    Bitmap b = a;
    EXPECT_TRUE(a == b);
    b.Row(1)[15] ^= 0xFF;  // padding byte of row 1
    EXPECT_TRUE(a == b);
    b.Row(1)[14] ^= 0xFF;  // last pixel byte
    EXPECT_FALSE(a == b);
    Bitmap c = test::MakePatternBitmap(5, 3, 4);
    Bitmap d = c;
    d.Row(0)[2] ^= 0x0F;  // the unused low half of the last byte of a 5-pixel 4-bit row
    EXPECT_TRUE(c == d);
}

}  // namespace
}  // namespace ozm
