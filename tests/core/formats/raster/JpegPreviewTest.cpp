#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/formats/raster/FlatProgressiveJpeg.h"
#include "core/formats/raster/JpegCodec.h"
#include "core/formats/raster/JpegPreview.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using test::DataFile;
using test::ReadAll;

// Mean absolute difference between each whole-block pixel of `small` and the average of the
// d x d pixels of `full` it stands for, over every channel.
double BlockAverageError(const Bitmap& small, const Bitmap& full, int d) {
    const int bytes = full.BitCount() / 8;
    double error = 0;
    long count = 0;
    for (int y = 0; (y + 1) * d <= full.Height(); ++y) {
        for (int x = 0; (x + 1) * d <= full.Width(); ++x) {
            for (int c = 0; c < bytes; ++c) {
                double sum = 0;
                for (int j = 0; j < d; ++j)
                    for (int i = 0; i < d; ++i) sum += full.Row(y * d + j)[(x * d + i) * bytes + c];
                error += std::abs(sum / (d * d) - small.Row(y)[x * bytes + c]);
                ++count;
            }
        }
    }
    return count ? error / count : 0;
}

TEST(JpegPreview, ScalesRoundUpAndFullScaleIsTheFullDecode) {
    for (const char* name : {"jpeg/colour_420.jpg", "jpeg/colour_444.jpg", "jpeg/grey.jpg",
                             "jpeg/progressive.jpg", "jpeg/cmyk_adobe.jpg", "jpeg/restart.jpg"}) {
        const auto bytes = ReadAll(DataFile(name));
        Bitmap full;
        ASSERT_TRUE(DecodeJpeg(bytes, full)) << name;
        int width = 0, height = 0;
        ASSERT_TRUE(ReadJpegSize(bytes, width, height)) << name;
        EXPECT_EQ(width, full.Width()) << name;
        EXPECT_EQ(height, full.Height()) << name;

        Bitmap same;
        ASSERT_TRUE(DecodeJpegScaled(bytes, 1, same)) << name;
        ASSERT_EQ(same.BitCount(), full.BitCount()) << name;
        ASSERT_EQ(same.Width(), full.Width());
        ASSERT_EQ(same.Height(), full.Height());
        for (int y = 0; y < full.Height(); ++y) {
            ASSERT_EQ(std::memcmp(same.Row(y), full.Row(y), full.Stride()), 0) << name << y;
        }
        if (full.BitCount() == 8) {
            EXPECT_EQ(same.Palette(), full.Palette());
        }

        for (int denominator : {2, 4, 8}) {
            Bitmap small;
            ASSERT_TRUE(DecodeJpegScaled(bytes, denominator, small)) << name << denominator;
            EXPECT_EQ(small.Width(), (full.Width() + denominator - 1) / denominator) << name;
            EXPECT_EQ(small.Height(), (full.Height() + denominator - 1) / denominator) << name;
            EXPECT_EQ(small.BitCount(), full.BitCount()) << name;
            // The same picture, smaller: each pixel close to the average of its block, in the
            // same channel order (the scaled transform is no box filter: a loose bound).
            EXPECT_LT(BlockAverageError(small, full, denominator), 12.0)
                << name << " 1/" << denominator;
        }
    }
}

TEST(JpegPreview, OddSidesAtEveryScale) {
    const Bitmap src = test::MakePatternBitmap(45, 31, 24, 3);
    const auto bytes = test::EncodeToBytes([&](std::FILE* f) { return EncodeJpeg(src, f, 90); });
    const int expected[][2] = {{45, 31}, {23, 16}, {12, 8}, {6, 4}};
    int i = 0;
    for (int denominator : {1, 2, 4, 8}) {
        Bitmap out;
        ASSERT_TRUE(DecodeJpegScaled(bytes, denominator, out));
        EXPECT_EQ(out.Width(), expected[i][0]);
        EXPECT_EQ(out.Height(), expected[i][1]);
        // Row padding is cleared.
        const std::size_t used = static_cast<std::size_t>(out.Width()) * 3;
        for (int y = 0; y < out.Height(); ++y)
            for (std::size_t b = used; b < out.Stride(); ++b) ASSERT_EQ(out.Row(y)[b], 0);
        ++i;
    }
}

TEST(JpegPreview, BadInputIsRefusedWithAReason) {
    const auto good = ReadAll(DataFile("jpeg/colour_420.jpg"));
    Bitmap bmp;
    std::string why;
    for (int denominator : {0, 3, 16, -1}) {
        why.clear();
        EXPECT_FALSE(DecodeJpegScaled(good, denominator, bmp, &why)) << denominator;
        EXPECT_EQ(why, "scale must be 1, 2, 4 or 8");
    }
    why.clear();
    EXPECT_FALSE(DecodeJpegScaled(ReadAll(DataFile("png/rgb8.png")), 2, bmp, &why));
    EXPECT_EQ(why, "not a JPEG file");
    why.clear();
    EXPECT_FALSE(DecodeJpegScaled({}, 2, bmp, &why));
    EXPECT_EQ(why, "not a JPEG file");
    why.clear();
    EXPECT_FALSE(DecodeJpegScaled(std::span(good).first(good.size() / 2), 4, bmp, &why));
    EXPECT_EQ(why, "truncated image data");
    // Cut anywhere, at every scale: refused, never a crash.
    for (std::size_t len = 0; len + 2 < good.size(); len += 53) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(len));
        for (int denominator : {1, 8}) EXPECT_FALSE(DecodeJpegScaled(cut, denominator, bmp));
        int w = 0, h = 0;
        if (len < 100) {
            EXPECT_FALSE(ReadJpegSize(cut, w, h));
        }
    }
    // A frame of 65000 x 65000 pixels: refused from the header, even for its size.
    auto huge = good;
    for (std::size_t i = 0; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 7] = 0xFD;
            huge[i + 6] = huge[i + 8] = 0xE8;
            break;
        }
    }
    int w = 0, h = 0;
    why.clear();
    EXPECT_FALSE(ReadJpegSize(huge, w, h, &why));
    EXPECT_EQ(why, ImageSizeReason(65000, 65000));
    why.clear();
    EXPECT_FALSE(DecodeJpegScaled(huge, 8, bmp, &why));
    EXPECT_EQ(why, ImageSizeReason(65000, 65000));
}

TEST(JpegPreview, MultiScanCostIsBoundedWhateverTheScale) {
    using test::FlatJpegWriter;
    FlatJpegWriter writer;
    Bitmap bmp;
    std::string why;
    // 883 scans over 5120 x 5120 pixels: past the visit budget at 1/8 as at full size.
    EXPECT_FALSE(DecodeJpegScaled(
        writer.Write(5120, 5120, 1, FlatJpegWriter::CoefficientByCoefficient(13)), 8, bmp, &why));
    EXPECT_EQ(why, "progressive JPEG too costly to decode");
    // Three full-resolution components of 8000 x 8000: 384 MB of coefficients for a tiny file.
    why.clear();
    EXPECT_FALSE(DecodeJpegScaled(writer.Write(8000, 8000, 3, {{0, 3, 0, 0, 0, 0}}), 8, bmp, &why));
    EXPECT_EQ(why, "progressive JPEG too costly to decode");
    // An ordinary progression over a large picture decodes, at an eighth of its sides.
    why.clear();
    ASSERT_TRUE(
        DecodeJpegScaled(writer.Write(4000, 3000, 1, FlatJpegWriter::Ordinary()), 8, bmp, &why))
        << why;
    EXPECT_EQ(bmp.Width(), 500);
    EXPECT_EQ(bmp.Height(), 375);
    EXPECT_EQ(bmp.IndexAt(100, 100), 128);
}

}  // namespace
}  // namespace ozm
