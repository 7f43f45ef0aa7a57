#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "core/formats/raster/FlatProgressiveJpeg.h"
#include "core/formats/raster/JpegCodec.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using test::DataFile;
using test::ReadAll;

std::vector<std::uint8_t> EncodeToBytes(const Bitmap& bmp, int quality) {
    return test::EncodeToBytes([&](std::FILE* f) { return EncodeJpeg(bmp, f, quality); });
}

bool Decode(std::span<const std::uint8_t> data, Bitmap& out) { return DecodeJpeg(data, out); }

TEST(JpegCodec, RealFilesDecodeLikeTheSecondDecoder) {
    std::string skip;
    const auto files = test::DataFiles("jpeg", ".jpg");
    ASSERT_GE(files.size(), 7u);
    for (const auto& file : files) {
        EXPECT_TRUE(test::SameAsSecondDecoder(file, Decode, 0, skip));
        if (!skip.empty()) GTEST_SKIP() << skip;
        Bitmap bmp;
        const auto bytes = ReadAll(file);
        ASSERT_TRUE(DecodeJpeg(bytes, bmp)) << file;
        if (file.filename() == "grey.jpg") {
            // Greyscale gives an 8-bit bitmap whose palette is the 256 greys in order.
            EXPECT_EQ(bmp.BitCount(), 8);
            ASSERT_EQ(bmp.Palette().size(), 256u);
            EXPECT_EQ(bmp.Palette()[0], (RgbQuad{0, 0, 0, 0}));
            EXPECT_EQ(bmp.Palette()[200], (RgbQuad{200, 200, 200, 0}));
        } else {
            EXPECT_EQ(bmp.BitCount(), 24) << file;
        }
    }
}

TEST(JpegCodec, EncodeIsBaselineColourAtTheGivenQuality) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        Bitmap src = test::MakePatternBitmap(45, 31, bits, 7);
        const auto bytes = EncodeToBytes(src, 100);
        ASSERT_FALSE(bytes.empty()) << bits;
        // SOF0 (baseline) with three components, never progressive or greyscale.
        bool baseline = false;
        for (std::size_t i = 0; i + 9 < bytes.size(); ++i) {
            if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
                baseline = true;
                EXPECT_EQ(bytes[i + 9], 3) << bits;
            }
            EXPECT_FALSE(bytes[i] == 0xFF && bytes[i + 1] == 0xC2) << bits;
        }
        EXPECT_TRUE(baseline) << bits;
        Bitmap back;
        ASSERT_TRUE(DecodeJpeg(bytes, back));
        EXPECT_EQ(back.BitCount(), 24);
        ASSERT_EQ(back.Width(), 45);
        ASSERT_EQ(back.Height(), 31);
    }
    // A smooth image survives quality 100 nearly unchanged; lower quality gives smaller files.
    Bitmap smooth;
    ASSERT_TRUE(smooth.Create(64, 64, 24));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            smooth.Row(y)[3 * x] = static_cast<std::uint8_t>(x * 4);
            smooth.Row(y)[3 * x + 1] = static_cast<std::uint8_t>(y * 4);
            smooth.Row(y)[3 * x + 2] = 128;
        }
    Bitmap back;
    ASSERT_TRUE(DecodeJpeg(EncodeToBytes(smooth, 100), back));
    EXPECT_LE(test::CountDifferences(test::ToRgb(back), test::ToRgb(smooth), 3), 0);
    EXPECT_LT(EncodeToBytes(smooth, 50).size(), EncodeToBytes(smooth, 75).size());
}

TEST(JpegCodec, DamagedFilesAreRefused) {
    const auto good = ReadAll(DataFile("jpeg/colour_420.jpg"));
    Bitmap bmp;
    // Cut anywhere: the header, the tables or the entropy-coded data.
    for (std::size_t len = 0; len + 2 < good.size(); len += 37) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(len));
        EXPECT_FALSE(DecodeJpeg(cut, bmp)) << "cut at " << len;
    }
    // PNG bytes are not a JPEG.
    EXPECT_FALSE(DecodeJpeg(ReadAll(DataFile("png/rgb8.png")), bmp));
    // A frame header claiming 65000 x 65000 is refused before any pixel memory is taken.
    auto huge = good;
    for (std::size_t i = 0; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xFD;
            huge[i + 6] = 0xE8;
            huge[i + 7] = 0xFD;
            huge[i + 8] = 0xE8;
            break;
        }
    }
    EXPECT_FALSE(DecodeJpeg(huge, bmp));
    // Entropy data overwritten with noise.
    auto noisy = good;
    for (std::size_t i = noisy.size() / 2; i + 2 < noisy.size(); i += 3) noisy[i] = 0xA5;
    EXPECT_FALSE(DecodeJpeg(noisy, bmp));
}

TEST(JpegCodec, RefusalsSayWhy) {
    const auto good = ReadAll(DataFile("jpeg/colour_420.jpg"));
    Bitmap bmp;
    std::string why;
    EXPECT_FALSE(DecodeJpeg(ReadAll(DataFile("png/rgb8.png")), bmp, &why));
    EXPECT_EQ(why, "not a JPEG file");
    why.clear();
    EXPECT_FALSE(DecodeJpeg(std::span(good).first(good.size() / 2), bmp, &why));
    EXPECT_EQ(why, "truncated image data");
    // A frame of 65000 x 65000 pixels.
    auto huge = good;
    for (std::size_t i = 0; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 7] = 0xFD;
            huge[i + 6] = huge[i + 8] = 0xE8;
            break;
        }
    }
    why.clear();
    EXPECT_FALSE(DecodeJpeg(huge, bmp, &why));
    EXPECT_EQ(why, ImageSizeReason(65000, 65000));
    // A Huffman table whose code lengths add up to more codes than exist: the library's own
    // text follows a fixed prefix.
    auto badTable = good;
    for (std::size_t i = 0; i + 5 < badTable.size(); ++i) {
        if (badTable[i] == 0xFF && badTable[i + 1] == 0xC4) {
            badTable[i + 5] = 0xFF;  // 255 codes of length 1
            break;
        }
    }
    why.clear();
    EXPECT_FALSE(DecodeJpeg(badTable, bmp, &why));
    EXPECT_EQ(why.rfind("damaged JPEG data: ", 0), 0u) << why;
}

TEST(JpegCodec, ProgressiveWorkIsBoundedByScansTimesBlocks) {
    using test::FlatJpegWriter;
    FlatJpegWriter writer;
    Bitmap bmp;
    std::string why;
    // 883 scans over a small picture are cheap and decode: the number of scans alone is no
    // reason to refuse.
    const auto manyScansSmall =
        writer.Write(256, 192, 1, FlatJpegWriter::CoefficientByCoefficient(13));
    ASSERT_TRUE(DecodeJpeg(manyScansSmall, bmp, &why)) << why;
    EXPECT_EQ(bmp.Width(), 256);
    EXPECT_EQ(bmp.IndexAt(100, 100), 128);
    // An ordinary progression over a large picture decodes too.
    ASSERT_TRUE(DecodeJpeg(writer.Write(4000, 3000, 1, FlatJpegWriter::Ordinary()), bmp, &why))
        << why;
    EXPECT_EQ(bmp.Height(), 3000);
    // The same 883 scans over 5120 x 5120 pixels are 883 visits to each of 409600 blocks,
    // past the budget: refused early, long before the seconds a full decode takes.
    const auto costly = writer.Write(5120, 5120, 1, FlatJpegWriter::CoefficientByCoefficient(13));
    ASSERT_LT(costly.size(), 200'000u);
    const auto start = std::chrono::steady_clock::now();
    Bitmap untouched;
    EXPECT_FALSE(DecodeJpeg(costly, untouched, &why));
    EXPECT_EQ(why, "progressive JPEG too costly to decode");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));

    // Three components, every bit of every coefficient in its own scan: 2688 valid scans over
    // a tiny picture stay within the visit budget but pass the cap on scans, which the
    // decoder checks as it goes.
    std::vector<test::JpegScan> scans;
    for (int c = 0; c < 3; ++c) {
        for (int k = 0; k < 64; ++k) {
            scans.push_back({c, 1, k, k, 0, 13});
            for (int a = 13; a > 0; --a) scans.push_back({c, 1, k, k, a, a - 1});
        }
    }
    why.clear();
    EXPECT_FALSE(DecodeJpeg(writer.Write(16, 16, 3, scans), untouched, &why));
    EXPECT_EQ(why, "progressive JPEG too costly to decode");
    scans.resize(900);  // the first component complete, the second begun: 900 scans decode
    why.clear();
    EXPECT_TRUE(DecodeJpeg(writer.Write(16, 16, 3, scans), untouched, &why)) << why;
}

TEST(JpegCodec, MultiScanCoefficientMemoryIsBounded) {
    using test::FlatJpegWriter;
    FlatJpegWriter writer;
    // Three full-resolution components of 12000 x 12000 pixels: 864 MB of coefficients and
    // a 432 MB bitmap for a file of one DC scan under 1 MB. Refused before the library
    // allocates the coefficients.
    const auto file = writer.Write(12000, 12000, 3, {{0, 3, 0, 0, 0, 0}});
    ASSERT_LT(file.size(), 1'000'000u);
    Bitmap bmp;
    std::string why;
    EXPECT_FALSE(DecodeJpeg(file, bmp, &why));
    EXPECT_EQ(why, "progressive JPEG too costly to decode");
    // The same single scan over a picture a quarter that size is fine.
    why.clear();
    ASSERT_TRUE(DecodeJpeg(writer.Write(3000, 3000, 3, {{0, 3, 0, 0, 0, 0}}), bmp, &why)) << why;
    EXPECT_EQ(bmp.BitCount(), 24);
}

}  // namespace
}  // namespace ozm
