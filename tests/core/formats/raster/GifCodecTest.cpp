#include <gtest/gtest.h>

#include <cstdio>

#include "core/formats/raster/GifCodec.h"
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

// A one-frame GIF of `width` x `height` pixels, pixel x, y index (7 x + 3 y) & 255, coded
// with one 9-bit literal per pixel after a clear code, then the end code, in one data block.
// `pixelBytes` gets how many data bytes hold every pixel's code; the block's data starts at
// `dataStart`.
std::vector<std::uint8_t> LiteralGif(int width, int height, std::size_t& pixelBytes,
                                     std::size_t& dataStart) {
    std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a'};
    auto put16 = [&](int v) {
        gif.push_back(static_cast<std::uint8_t>(v));
        gif.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    put16(width);
    put16(height);
    gif.insert(gif.end(), {0xF7, 0, 0});  // global table of 256 greys
    for (int i = 0; i < 256; ++i) gif.insert(gif.end(), 3, static_cast<std::uint8_t>(i));
    gif.push_back(0x2C);
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    gif.push_back(0);
    gif.push_back(8);  // minimum code size: codes start at 9 bits
    std::vector<std::uint8_t> data;
    std::uint32_t acc = 0;
    int bits = 0;
    auto code = [&](unsigned c) {
        acc |= c << bits;
        for (bits += 9; bits >= 8; bits -= 8, acc >>= 8)
            data.push_back(static_cast<std::uint8_t>(acc));
    };
    code(256);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) code(static_cast<unsigned>((7 * x + 3 * y) & 255));
    pixelBytes = (9 * (1 + static_cast<std::size_t>(width) * height) + 7) / 8;
    code(257);
    if (bits > 0) data.push_back(static_cast<std::uint8_t>(acc));
    EXPECT_LE(data.size(), 255u);
    gif.push_back(static_cast<std::uint8_t>(data.size()));
    dataStart = gif.size();
    gif.insert(gif.end(), data.begin(), data.end());
    gif.push_back(0);
    gif.push_back(';');
    return gif;
}

TEST(GifCodec, LastDataBlockPastTheEndReadsWhenEveryPixelIsThere) {
    std::size_t pixelBytes = 0, dataStart = 0;
    const auto whole = LiteralGif(8, 3, pixelBytes, dataStart);
    const auto expectPixels = [](const Bitmap& bmp) {
        ASSERT_EQ(bmp.Width(), 8);
        ASSERT_EQ(bmp.Height(), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 8; ++x) EXPECT_EQ(bmp.IndexAt(x, y), (7 * x + 3 * y) & 255);
    };
    Bitmap bmp;
    std::string why;
    ASSERT_TRUE(DecodeGif(whole, bmp, &why)) << why;
    expectPixels(bmp);
    // Without the trailer and the block terminator; then without the end code's last byte too:
    // the block's length runs past the end of the file, the pixels are all there.
    for (const std::size_t cut : {whole.size() - 2, dataStart + pixelBytes}) {
        Bitmap cutBmp;
        why.clear();
        ASSERT_TRUE(DecodeGif(std::span(whole).first(cut), cutBmp, &why)) << cut << ": " << why;
        expectPixels(cutBmp);
    }
    // One byte less and the last pixel's code is incomplete: refused, nothing invented.
    why.clear();
    EXPECT_FALSE(DecodeGif(std::span(whole).first(dataStart + pixelBytes - 1), bmp, &why));
    EXPECT_EQ(why, "truncated image data");
    // Cut before the image data's first length byte, and inside the colour table.
    why.clear();
    EXPECT_FALSE(DecodeGif(std::span(whole).first(dataStart - 1), bmp, &why));
    EXPECT_EQ(why, "truncated image data");
    why.clear();
    EXPECT_FALSE(DecodeGif(std::span(whole).first(100), bmp, &why));
    EXPECT_EQ(why, "truncated image data");
}

TEST(GifCodec, RefusalsSayWhy) {
    Bitmap bmp;
    std::string why;
    EXPECT_FALSE(DecodeGif(ReadAll(DataFile("png/rgb8.png")), bmp, &why));
    EXPECT_EQ(why, "not a GIF file");
    const auto good = ReadAll(DataFile("gif/offset_frame.gif"));
    // Header, screen, colour table and the trailer: no frame.
    std::size_t tableEnd = 13 + ((good[10] & 0x80) ? 3u << ((good[10] & 7) + 1) : 0u);
    std::vector<std::uint8_t> empty(good.begin(), good.begin() + static_cast<long>(tableEnd));
    empty.push_back(';');
    why.clear();
    EXPECT_FALSE(DecodeGif(empty, bmp, &why));
    EXPECT_EQ(why, "no image in the GIF file");
    auto huge = good;
    huge[6] = huge[7] = huge[8] = huge[9] = 0xFF;
    why.clear();
    EXPECT_FALSE(DecodeGif(huge, bmp, &why));
    EXPECT_EQ(why, ImageSizeReason(65535, 65535));
}

}  // namespace
}  // namespace ozm
