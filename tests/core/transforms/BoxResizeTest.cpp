#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "core/formats/PhotoRead.h"
#include "core/formats/raster/JpegCodec.h"
#include "core/formats/raster/JpegPreview.h"
#include "core/transforms/BoxResize.h"
#include "core/transforms/Orientation.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

Bitmap RandomBitmap(int width, int height, unsigned seed) {
    Bitmap bmp;
    EXPECT_TRUE(bmp.Create(width, height, 24));
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3 * width; ++x) bmp.Row(y)[x] = static_cast<std::uint8_t>(random());
    return bmp;
}

// Area averaging written out the plain way, in doubles: each target pixel covers
// [x sw / tw, (x + 1) sw / tw) of the source, each source pixel weighted by its overlap.
std::vector<double> PlainAreaAverage(const Bitmap& src, int tw, int th) {
    const double sw = src.Width(), sh = src.Height();
    std::vector<double> out(static_cast<std::size_t>(tw) * th * 3);
    for (int ty = 0; ty < th; ++ty) {
        const double y0 = ty * sh / th, y1 = (ty + 1) * sh / th;
        for (int tx = 0; tx < tw; ++tx) {
            const double x0 = tx * sw / tw, x1 = (tx + 1) * sw / tw;
            double sum[3] = {0, 0, 0};
            for (int sy = static_cast<int>(y0); sy < src.Height() && sy < y1; ++sy) {
                const double wy = std::min<double>(y1, sy + 1) - std::max<double>(y0, sy);
                for (int sx = static_cast<int>(x0); sx < src.Width() && sx < x1; ++sx) {
                    const double wx = std::min<double>(x1, sx + 1) - std::max<double>(x0, sx);
                    if (wx <= 0 || wy <= 0) continue;
                    for (int c = 0; c < 3; ++c) sum[c] += wx * wy * src.Row(sy)[3 * sx + c];
                }
            }
            for (int c = 0; c < 3; ++c)
                out[(static_cast<std::size_t>(ty) * tw + tx) * 3 + c] =
                    sum[c] / ((x1 - x0) * (y1 - y0));
        }
    }
    return out;
}

TEST(BoxResize, FlatStaysFlatAndCheckerboardGivesItsMean) {
    Bitmap flat;
    ASSERT_TRUE(flat.Create(37, 23, 24));
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
            std::uint8_t* p = flat.Row(y) + 3 * x;
            p[0] = 17, p[1] = 130, p[2] = 251;
        }
    for (auto [w, h] : {std::pair{5, 3}, {36, 22}, {1, 1}, {37, 23}, {80, 50}, {11, 23}}) {
        Bitmap out;
        ASSERT_TRUE(BoxResampleTo24(flat, out, w, h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::uint8_t* p = out.Row(y) + 3 * x;
                ASSERT_TRUE(p[0] == 17 && p[1] == 130 && p[2] == 251) << w << "x" << h;
            }
    }
    // A checkerboard of single pixels, black and white, halved: every pixel the mean, 128
    // (127.5 rounded up).
    Bitmap board;
    ASSERT_TRUE(board.Create(64, 32, 24));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) std::memset(board.Row(y) + 3 * x, (x + y) % 2 ? 255 : 0, 3);
    Bitmap half;
    ASSERT_TRUE(BoxResampleTo24(board, half, 32, 16, 3));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 96; ++x) ASSERT_EQ(half.Row(y)[x], 128);
    // A palette source is read by its colours.
    Bitmap grey;
    ASSERT_TRUE(grey.Create(4, 4, 8));
    SetGreyPalette(grey.Palette(), 256);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) grey.Row(y)[x] = static_cast<std::uint8_t>(x < 2 ? 10 : 30);
    ASSERT_TRUE(BoxResampleTo24(grey, half, 1, 1));
    EXPECT_EQ(half.BitCount(), 24);
    EXPECT_EQ(half.Row(0)[0], 20);
}

TEST(BoxResize, WithinOneLevelOfThePlainAreaAverage) {
    unsigned seed = 7;
    for (auto [sw, sh, tw, th] : {std::array{97, 61, 13, 7},
                                  {64, 64, 21, 33},
                                  {50, 40, 50, 40},
                                  {9, 5, 23, 17},
                                  {300, 2, 7, 1},
                                  {1, 40, 3, 9}}) {
        const Bitmap src = RandomBitmap(sw, sh, ++seed);
        Bitmap out;
        ASSERT_TRUE(BoxResampleTo24(src, out, tw, th, 2));
        const auto plain = PlainAreaAverage(src, tw, th);
        for (int y = 0; y < th; ++y)
            for (int x = 0; x < 3 * tw; ++x) {
                const double want = plain[static_cast<std::size_t>(y) * tw * 3 + x];
                ASSERT_LE(std::abs(out.Row(y)[x] - want), 1.0)
                    << sw << "x" << sh << " -> " << tw << "x" << th << " at " << x / 3 << "," << y;
            }
    }
    Bitmap out;
    EXPECT_FALSE(BoxResampleTo24(RandomBitmap(4, 4, 1), out, 0, 3));
    EXPECT_FALSE(BoxResampleTo24(Bitmap(), out, 3, 3));
}

TEST(BoxResize, FitSizes) {
    // Already inside the box, or exactly its size: left alone.
    EXPECT_EQ(ComputeFitSize(1920, 1080, 1920, 1920), FitSize{});
    EXPECT_EQ(ComputeFitSize(1920, 1920, 1920, 1920), FitSize{});
    EXPECT_EQ(ComputeFitSize(10, 10, 1'000'000'000, 2'000'000'000), FitSize{});
    // The bounding side takes the box, the other is rounded.
    EXPECT_EQ(ComputeFitSize(6000, 4000, 1920, 1920), (FitSize{true, 1920, 1280}));
    EXPECT_EQ(ComputeFitSize(4000, 6000, 1920, 1920), (FitSize{true, 1280, 1920}));
    EXPECT_EQ(ComputeFitSize(1001, 1000, 100, 100), (FitSize{true, 100, 100}));
    EXPECT_EQ(ComputeFitSize(3000, 1000, 1000, 500), (FitSize{true, 1000, 333}));
    EXPECT_EQ(ComputeFitSize(1000, 3000, 500, 1000), (FitSize{true, 333, 1000}));
    // One side only.
    EXPECT_EQ(ComputeFitSize(6000, 4000, 600, 0), (FitSize{true, 600, 400}));
    EXPECT_EQ(ComputeFitSize(6000, 4000, 0, 100), (FitSize{true, 150, 100}));
    EXPECT_EQ(ComputeFitSize(500, 4000, 600, 0), FitSize{});
    // Results of one pixel: never 0.
    EXPECT_EQ(ComputeFitSize(10000, 3, 1, 1), (FitSize{true, 1, 1}));
    EXPECT_EQ(ComputeFitSize(10000, 3, 100, 0), (FitSize{true, 100, 1}));
    EXPECT_EQ(ComputeFitSize(3, 60000, 0, 2), (FitSize{true, 1, 2}));
    // Sides near the 32-bit limit do not overflow.
    EXPECT_EQ(ComputeFitSize(2'000'000'000, 1'000'000'000, 2'000'000'000, 100),
              (FitSize{true, 200, 100}));
    EXPECT_EQ(ComputeFitSize(0, 10, 5, 5), FitSize{});
}

// A smooth picture (as photos are, between their edges) with some detail.
Bitmap PhotoLike(int width, int height) {
    Bitmap bmp;
    EXPECT_TRUE(bmp.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = bmp.Row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.013 + y * 0.007));
            p[1] = static_cast<std::uint8_t>(x * 255 / width);
            p[2] = static_cast<std::uint8_t>(((x / 40 + y / 40) % 2) ? 200 : 40);
        }
    return bmp;
}

double MeanDifference(const Bitmap& a, const Bitmap& b) {
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(a.Height(), b.Height());
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < 3 * a.Width(); ++x) sum += std::abs(a.Row(y)[x] - b.Row(y)[x]);
    return sum / (3.0 * a.Width() * a.Height());
}

TEST(BoxResize, ShrinkOnLoadStaysCloseToTheFullDecode) {
    EXPECT_EQ(ShrinkOnLoadDenominator(6000, 4000, 1920, 1280), 2);
    EXPECT_EQ(ShrinkOnLoadDenominator(6000, 4000, 750, 500), 8);
    EXPECT_EQ(ShrinkOnLoadDenominator(6000, 4000, 751, 500), 4);
    EXPECT_EQ(ShrinkOnLoadDenominator(6000, 4000, 3001, 10), 1);
    EXPECT_EQ(ShrinkOnLoadDenominator(1921, 1081, 241, 136), 8);  // sides rounded up

    test::ScratchDir dir;
    const auto bytes =
        test::EncodeToBytes([&](std::FILE* f) { return EncodeJpeg(PhotoLike(1600, 1200), f, 92); });
    ASSERT_FALSE(bytes.empty());
    test::WriteAll(dir / "photo.jpg", bytes);
    Bitmap full;
    ASSERT_TRUE(DecodeJpeg(bytes, full));
    for (const auto& size : {std::pair{800, 600}, {400, 300}, {200, 150}, {333, 250}}) {
        const int tw = size.first, th = size.second;
        Bitmap reference;
        ASSERT_TRUE(BoxResampleTo24(full, reference, tw, th));
        PhotoReadOptions options;
        options.neededSize = [&](int, int) { return std::optional(std::pair{tw, th}); };
        Bitmap loaded;
        PhotoReadResult result;
        ASSERT_TRUE(ReadPhoto(dir / "photo.jpg", loaded, options, {}, nullptr, &result));
        EXPECT_GT(result.denominator, 1);
        EXPECT_EQ(result.fullWidth, 1600);
        EXPECT_EQ(result.fullHeight, 1200);
        Bitmap shrunk;
        ASSERT_TRUE(BoxResampleTo24(loaded, shrunk, tw, th));
        EXPECT_LE(MeanDifference(reference, shrunk), 2.0) << tw << "x" << th;
    }
}

TEST(Orientation, EveryValueMovesTheCornersWhereTheyBelong) {
    // 3 x 2, pixel value = 10 y + x + 1 in the blue byte.
    Bitmap stored;
    ASSERT_TRUE(stored.Create(3, 2, 24));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            stored.Row(y)[3 * x] = static_cast<std::uint8_t>(10 * y + x + 1);
    const auto rows = [](const Bitmap& b) {
        std::string s;
        for (int y = 0; y < b.Height(); ++y) {
            for (int x = 0; x < b.Width(); ++x) s += std::to_string(b.Row(y)[3 * x]) + " ";
            s += "/ ";
        }
        return s;
    };
    const char* expected[9] = {"",
                               "1 2 3 / 11 12 13 / ",
                               "3 2 1 / 13 12 11 / ",
                               "13 12 11 / 3 2 1 / ",
                               "11 12 13 / 1 2 3 / ",
                               "1 11 / 2 12 / 3 13 / ",
                               "11 1 / 12 2 / 13 3 / ",
                               "13 3 / 12 2 / 11 1 / ",
                               "3 13 / 2 12 / 1 11 / "};
    for (int o = 1; o <= 8; ++o) {
        Bitmap b = stored;
        ASSERT_TRUE(ApplyOrientation(b, o));
        EXPECT_EQ(rows(b), expected[o]) << "orientation " << o;
    }
    Bitmap b = stored;
    ASSERT_TRUE(ApplyOrientation(b, 9));
    EXPECT_EQ(b, stored);
}

}  // namespace
}  // namespace ozm
