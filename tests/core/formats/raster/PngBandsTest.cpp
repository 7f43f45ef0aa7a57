// PNG files deflated in bands on several threads: the same pixels as a single stream for every
// depth and band layout, a valid zlib stream, the same bytes whatever the thread count, and
// no file at all when one band fails.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "core/formats/ImgConvertUnit.h"
#include "core/formats/raster/PngCodec.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

struct Chunks {
    std::vector<std::uint8_t> idat;  // every IDAT's data, joined
    int idatCount = 0;
    bool iend = false;
    bool crcsHold = true;
};

Chunks ReadChunks(const std::vector<std::uint8_t>& png) {
    Chunks c;
    for (std::size_t pos = 8; pos + 12 <= png.size();) {
        const std::uint32_t len = Be32(&png[pos]);
        if (pos + 12 + len > png.size()) break;
        const std::string type(png.begin() + static_cast<long>(pos) + 4,
                               png.begin() + static_cast<long>(pos) + 8);
        const uLong crc = crc32(0, &png[pos + 4], len + 4);
        c.crcsHold = c.crcsHold && crc == Be32(&png[pos + 8 + len]);
        if (type == "IDAT") {
            c.idat.insert(c.idat.end(), &png[pos + 8], &png[pos + 8] + len);
            ++c.idatCount;
        }
        c.iend = c.iend || type == "IEND";
        pos += 12 + len;
    }
    return c;
}

// The image data a PNG with filter None carries for `bmp`: each row a 0 and its samples.
std::vector<std::uint8_t> FilteredRowsOf(const Bitmap& bmp) {
    std::vector<std::uint8_t> raw;
    const test::RgbImage rgb = test::ToRgb(bmp);
    for (int y = 0; y < bmp.Height(); ++y) {
        raw.push_back(0);
        if (bmp.HasPalette()) {
            const std::size_t bytes =
                (static_cast<std::size_t>(bmp.Width()) * bmp.BitCount() + 7) / 8;
            raw.insert(raw.end(), bmp.Row(y), bmp.Row(y) + bytes);
        } else {
            const auto* row = rgb.rgb.data() + static_cast<std::size_t>(y) * bmp.Width() * 3;
            raw.insert(raw.end(), row, row + static_cast<std::size_t>(bmp.Width()) * 3);
        }
    }
    return raw;
}

std::vector<std::uint8_t> Encode(const Bitmap& bmp, std::size_t bandBytes, int threads,
                                 ThreadBudget& budget) {
    PngWriteOptions options;
    options.threads = threads;
    options.bandBytes = bandBytes;
    options.budget = &budget;
    return test::EncodeToBytes([&](std::FILE* f) { return EncodePng(bmp, f, options); });
}

// Bytes per row in the file, filter byte included.
std::size_t FileRowBytes(const Bitmap& bmp) {
    return (bmp.HasPalette() ? (static_cast<std::size_t>(bmp.Width()) * bmp.BitCount() + 7) / 8
                             : static_cast<std::size_t>(bmp.Width()) * 3) +
           1;
}

TEST(PngBands, EveryDepthAndBandLayoutDecodesAsTheSingleStream) {
    ThreadBudget budget(16);  // enough helpers for every thread count, whatever the machine
    struct Shape {
        int width, height;
        int rowsPerBand;
        bool fewValues = false;
        int fewRows = INT_MAX;        // rows from the top that have few values
        std::uint8_t fewMask = 0x11;  // 0x33: grainy, between noise and flat
    };
    // One row (a single band whatever the band size), one column (a band per row), heights
    // at, just below and just above band boundaries, and bands of one row. Noise ends bands in
    // stored blocks; a few values in Huffman-coded ones, which stop at any bit of a byte. Grain
    // over noise sends the upper bands of red, green and blue rows to the other deflater.
    const Shape shapes[] = {{301, 1, 1},
                            {1, 37, 1},
                            {45, 16, 4},
                            {45, 17, 4},
                            {45, 15, 4},
                            {64, 32, 16},
                            {7, 9, 1},
                            {300, 97, 8},
                            {1, 37, 1, true},
                            {45, 17, 4, true},
                            {64, 32, 16, true},
                            {300, 97, 8, true},
                            {300, 97, 8, true, 48, 0x33}};
    for (const int bitCount : {1, 4, 8, 16, 24, 32}) {
        for (const Shape& s : shapes) {
            Bitmap bmp = test::MakePatternBitmap(s.width, s.height, bitCount, 7);
            for (int y = 0; s.fewValues && y < std::min(s.height, s.fewRows); ++y) {
                for (std::size_t i = 0; i < bmp.Stride(); ++i) bmp.Row(y)[i] &= s.fewMask;
            }
            const std::size_t bandBytes = FileRowBytes(bmp) * s.rowsPerBand;
            const auto single = Encode(bmp, SIZE_MAX, 1, budget);
            Bitmap expected;
            ASSERT_TRUE(DecodePng(single, expected));
            std::vector<std::uint8_t> first;
            for (const int threads : {1, 2, 3, 16}) {
                SCOPED_TRACE(testing::Message()
                             << bitCount << " bits, " << s.width << " x " << s.height << ", "
                             << s.rowsPerBand << " rows per band, " << threads << " threads"
                             << (s.fewValues ? ", few values" : ""));
                const auto banded = Encode(bmp, bandBytes, threads, budget);
                ASSERT_FALSE(banded.empty());
                Bitmap back;
                std::string why;
                ASSERT_TRUE(DecodePng(banded, back, &why)) << why;
                EXPECT_TRUE(back == expected);
                const Chunks c = ReadChunks(banded);
                EXPECT_TRUE(c.crcsHold);
                EXPECT_TRUE(c.iend);
                // The stream inflates whole, its Adler-32 checked, to exactly the rows.
                const auto raw = FilteredRowsOf(bmp);
                std::vector<std::uint8_t> inflated(raw.size() + 1);
                uLongf size = inflated.size();
                ASSERT_EQ(uncompress(inflated.data(), &size, c.idat.data(), c.idat.size()), Z_OK);
                inflated.resize(size);
                EXPECT_EQ(inflated, raw);
                const uLong adler = adler32(1, raw.data(), static_cast<uInt>(raw.size()));
                EXPECT_EQ(Be32(c.idat.data() + c.idat.size() - 4), adler);
                // The file never depends on the number of threads.
                if (first.empty()) first = banded;
                EXPECT_EQ(banded, first);
            }
            EXPECT_EQ(budget.Free(), 16);
        }
    }
}

TEST(PngBands, AWrongSumOrAMissingBandIsCaughtByTheStreamCheck) {
    ThreadBudget budget(4);
    const Bitmap bmp = test::MakePatternBitmap(50, 40, 24, 3);
    const auto png = Encode(bmp, FileRowBytes(bmp) * 5, 3, budget);
    const Chunks c = ReadChunks(png);
    ASSERT_GE(c.idatCount, 8);
    std::vector<std::uint8_t> out(FilteredRowsOf(bmp).size() + 16);
    auto badSum = c.idat;
    badSum.back() ^= 1;
    uLongf size = out.size();
    EXPECT_EQ(uncompress(out.data(), &size, badSum.data(), badSum.size()), Z_DATA_ERROR);
}

TEST(PngBands, LargeFilesAreBandedAndDecodeInTheOtherDecoders) {
    ThreadBudget budget(3);
    test::ScratchDir dir;
    for (const int bitCount : {4, 8, 24}) {
        // Several default bands.
        const int height = bitCount == 24 ? 1400 : 3300;
        const Bitmap bmp = test::MakePatternBitmap(800, height, bitCount, 11);
        const auto banded = Encode(bmp, kPngBandBytes, 3, budget);
        const auto single = Encode(bmp, SIZE_MAX, 1, budget);
        ASSERT_NE(banded, single);  // really banded
        // Each band starts without the data before it and costs a few bytes to join: the file
        // stays within 0.5% of one stream.
        EXPECT_LT(static_cast<double>(banded.size()), static_cast<double>(single.size()) * 1.005);
        const auto file = dir / ("banded" + std::to_string(bitCount) + ".png");
        test::WriteAll(file, banded);
        if (test::HaveTool("pngcheck")) {
            const std::string cmd = "pngcheck -q '" + file.string() + "' >/dev/null 2>&1";
            EXPECT_EQ(std::system(cmd.c_str()), 0) << bitCount;
        }
        std::string skip;
        const auto pillow = test::DecodeWithSecondDecoder(file, skip);
        if (!pillow) GTEST_SKIP() << skip;
        EXPECT_EQ(test::CountDifferences(*pillow, test::ToRgb(bmp)), 0) << bitCount;
        if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
        const std::string cmd = "convert '" + file.string() + "' -depth 8 rgb:- 2>/dev/null";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
        ASSERT_TRUE(pipe);
        test::RgbImage magick{bmp.Width(), bmp.Height(), {}};
        magick.rgb.resize(static_cast<std::size_t>(bmp.Width()) * bmp.Height() * 3);
        ASSERT_EQ(std::fread(magick.rgb.data(), 1, magick.rgb.size(), pipe.get()),
                  magick.rgb.size());
        EXPECT_EQ(test::CountDifferences(magick, test::ToRgb(bmp)), 0) << bitCount;
    }
}

TEST(PngBands, AFailedBandFailsTheWholeWrite) {
    ThreadBudget budget(16);
    const Bitmap bmp = test::MakePatternBitmap(64, 60, 24, 5);
    for (const int threads : {1, 2, 3, 16}) {
        for (const std::size_t failing : {std::size_t{0}, std::size_t{5}, std::size_t{11}}) {
            PngWriteOptions options;
            options.threads = threads;
            options.budget = &budget;
            options.bandBytes = FileRowBytes(bmp) * 5;  // 12 bands
            options.beforeBand = [failing](std::size_t band) {
                if (band == failing) throw std::runtime_error("band lost");
            };
            std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), std::fclose);
            ASSERT_TRUE(file);
            EXPECT_THROW(EncodePng(bmp, file.get(), options), std::runtime_error);
            // Nothing from the failed band on reached the file, and every helper is back.
            std::fflush(file.get());
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::ftell(file.get())));
            std::rewind(file.get());
            ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), file.get()), bytes.size());
            const Chunks c = ReadChunks(bytes);
            EXPECT_FALSE(c.iend);
            EXPECT_LE(c.idatCount, static_cast<int>(failing));
            EXPECT_EQ(budget.Free(), 16);
        }
    }
}

TEST(PngBands, AWriteThatFailsMidwayLeavesNoFile) {
    // A file-size limit makes the bands' writes fail part way; process-wide, so in a child.
    test::ScratchDir dir;
    const Bitmap bmp = test::MakePatternBitmap(1200, 1200, 24, 9);
    EXPECT_TRUE(test::RunInChildProcesses(1, [&](int) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1 << 20, 1 << 20};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
        WriteSettings settings;
        settings.threads = 2;
        ImageWriteReport report;
        const bool written =
            WriteImageFile(bmp, dir / "big.png", FormatCode::Png, settings, &report);
        return !written && !report.reason.empty() && std::filesystem::is_empty(dir.Path());
    }));
}

}  // namespace
}  // namespace ozm
