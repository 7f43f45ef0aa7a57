#include <gtest/gtest.h>

#include <cstdio>

#include "core/formats/GifCodec.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using test::DataFile;
using test::ReadAll;

bool Decode(std::span<const std::uint8_t> data, Bitmap& out) { return DecodeGif(data, out); }

std::vector<std::uint8_t> EncodeToBytes(const Bitmap& bmp) {
    return test::EncodeToBytes([&](std::FILE* f) { return EncodeGif(bmp, f); });
}

TEST(GifCodec, RealFilesDecodeLikeTheSecondDecoder) {
    std::string skip;
    const auto files = test::DataFiles("gif", ".gif");
    ASSERT_GE(files.size(), 6u);
    for (const auto& file : files) {
        Bitmap bmp;
        ASSERT_TRUE(DecodeGif(ReadAll(file), bmp)) << file;
        EXPECT_EQ(bmp.BitCount(), 8) << file;
        // Pillow paints the screen outside a smaller first frame with index 0; the file's
        // background colour, which ImageMagick also shows, is checked in the next test.
        if (file.filename() == "offset_frame.gif") continue;
        EXPECT_TRUE(test::SameAsSecondDecoder(file, Decode, 0, skip));
        if (!skip.empty()) GTEST_SKIP() << skip;
    }
}

TEST(GifCodec, FrameSmallerThanTheScreenIsDrawnAtItsOffset) {
    // offset_frame.gif: a 30 x 20 screen with background index 9 and a 17 x 13 frame at 5, 4
    // whose pixel x, y is index (11 x + 5 y) & 255 of a grey table.
    Bitmap bmp;
    ASSERT_TRUE(DecodeGif(ReadAll(DataFile("gif/offset_frame.gif")), bmp));
    ASSERT_EQ(bmp.Width(), 30);
    ASSERT_EQ(bmp.Height(), 20);
    EXPECT_EQ(bmp.IndexAt(0, 0), 9);
    EXPECT_EQ(bmp.IndexAt(29, 19), 9);
    EXPECT_EQ(bmp.IndexAt(4, 4), 9);
    EXPECT_EQ(bmp.IndexAt(5, 4), 0);
    EXPECT_EQ(bmp.IndexAt(5 + 16, 4 + 12), (11 * 16 + 5 * 12) & 255);
    EXPECT_EQ(bmp.IndexAt(5 + 17, 4), 9);
    // Interlaced rows land where they belong; a local table wins over the global one.
    Bitmap inter;
    ASSERT_TRUE(DecodeGif(ReadAll(DataFile("gif/interlaced.gif")), inter));
    for (int y = 0; y < 13; ++y) EXPECT_EQ(inter.IndexAt(3, y), (33 + 5 * y) & 255) << y;
    Bitmap local;
    ASSERT_TRUE(DecodeGif(ReadAll(DataFile("gif/local_table.gif")), local));
    EXPECT_EQ(local.Palette()[1], (RgbQuad{29, 13, 7, 0}));
}

TEST(GifCodec, PaletteBitmapsKeepTheirPaletteAndDeeperOnesUseTheFixed216) {
    for (int bits : {1, 4, 8}) {
        const Bitmap src = test::MakePatternBitmap(19, 7, bits, 11);
        Bitmap back;
        ASSERT_TRUE(DecodeGif(EncodeToBytes(src), back)) << bits;
        EXPECT_EQ(back.BitCount(), 8);
        for (std::size_t i = 0; i < src.Palette().size(); ++i) {
            EXPECT_EQ(back.Palette()[i], src.Palette()[i]) << bits << " entry " << i;
        }
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 19; ++x) ASSERT_EQ(back.IndexAt(x, y), src.IndexAt(x, y));
    }
    for (int bits : {16, 24, 32}) {
        const Bitmap src = test::MakePatternBitmap(19, 7, bits, 12);
        Bitmap back;
        ASSERT_TRUE(DecodeGif(EncodeToBytes(src), back)) << bits;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 19; ++x) {
                const RgbQuad in = src.PixelAt(x, y), out = back.PixelAt(x, y);
                EXPECT_EQ(out.red % 51, 0);
                EXPECT_EQ(out.red, 51 * ((in.red + 3) / 51));
                EXPECT_EQ(out.green, 51 * ((in.green + 3) / 51));
                EXPECT_EQ(out.blue, 51 * ((in.blue + 3) / 51));
            }
    }
    // Red 26 lies below the first level's threshold: (26 + 3) div 51 = 0, so black.
    Bitmap one;
    ASSERT_TRUE(one.Create(1, 1, 24));
    one.Row(0)[2] = 26;
    Bitmap back;
    ASSERT_TRUE(DecodeGif(EncodeToBytes(one), back));
    EXPECT_EQ(back.PixelAt(0, 0), (RgbQuad{0, 0, 0, 0}));
    EXPECT_EQ(WebSafeIndex(255, 255, 255), 215);
    EXPECT_EQ(WebSafeIndex(48, 0, 0), 36);
}

TEST(GifCodec, DamagedFilesAreRefused) {
    const auto good = ReadAll(DataFile("gif/single.gif"));
    Bitmap bmp;
    for (std::size_t len = 0; len + 20 < good.size(); len += 13) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(len));
        EXPECT_FALSE(DecodeGif(cut, bmp)) << "cut at " << len;
    }
    // Header and screen only: no frame.
    EXPECT_FALSE(DecodeGif(std::vector<std::uint8_t>(good.begin(), good.begin() + 13), bmp));
    EXPECT_FALSE(DecodeGif(ReadAll(DataFile("png/rgb8.png")), bmp));
    // A screen of 65535 x 65535 with a small frame would need 4 GiB: refused.
    auto huge = ReadAll(DataFile("gif/offset_frame.gif"));
    huge[6] = huge[7] = huge[8] = huge[9] = 0xFF;
    EXPECT_FALSE(DecodeGif(huge, bmp));
    Bitmap tooWide;
    ASSERT_TRUE(tooWide.Create(70000, 1, 8));
    EXPECT_TRUE(EncodeToBytes(tooWide).empty());
}

}  // namespace
}  // namespace ozm
