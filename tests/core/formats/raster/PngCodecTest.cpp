#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <map>

#include "core/formats/raster/PngCodec.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using test::DataFile;
using test::ReadAll;

bool Decode(std::span<const std::uint8_t> data, Bitmap& out) { return DecodePng(data, out); }

std::vector<std::uint8_t> EncodeToBytes(const Bitmap& bmp) {
    return test::EncodeToBytes([&](std::FILE* f) { return EncodePng(bmp, f, kPngFilterNoneOnly); });
}

std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

struct PngChunks {
    std::uint32_t width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    std::size_t plteEntries = 0;
    std::vector<std::uint8_t> idat;
};

PngChunks ParseChunks(const std::vector<std::uint8_t>& png) {
    PngChunks c;
    for (std::size_t pos = 8; pos + 12 <= png.size();) {
        const std::uint32_t len = Be32(&png[pos]);
        const std::string type(png.begin() + static_cast<long>(pos) + 4,
                               png.begin() + static_cast<long>(pos) + 8);
        const std::uint8_t* d = &png[pos + 8];
        if (type == "IHDR") {
            c.width = Be32(d);
            c.height = Be32(d + 4);
            c.depth = d[8];
            c.colorType = d[9];
            c.interlace = d[12];
        } else if (type == "PLTE") {
            c.plteEntries = len / 3;
        } else if (type == "IDAT") {
            c.idat.insert(c.idat.end(), d, d + len);
        }
        pos += 12 + len;
    }
    return c;
}

// The file with IHDR's width and height replaced and its CRC fixed up.
std::vector<std::uint8_t> WithHeaderSize(std::vector<std::uint8_t> png, std::uint32_t width,
                                         std::uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, png.data() + 12, 17);
    for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return png;
}

TEST(PngCodec, RealFilesDecodeLikeTheSecondDecoderAtTheRightDepth) {
    // Grey and palette files keep a palette: 1 bit stays 1, 2 and 4 become 4, 8 and 16 become 8.
    const std::map<std::string, int> depth = {
        {"grey1.png", 1},      {"grey2.png", 4},       {"grey4.png", 4},
        {"grey8.png", 8},      {"grey16.png", 8},      {"grey8_interlaced.png", 8},
        {"greyalpha8.png", 8}, {"greyalpha16.png", 8}, {"palette1.png", 1},
        {"palette2.png", 4},   {"palette4.png", 4},    {"palette4_trns.png", 4},
        {"palette8.png", 8},   {"rgb8.png", 24},       {"rgb16.png", 24},
        {"rgba8.png", 24},     {"rgba16.png", 24},     {"rgb8_interlaced.png", 24}};
    std::string skip;
    const auto files = test::DataFiles("png", ".png");
    ASSERT_EQ(files.size(), depth.size());
    for (const auto& file : files) {
        Bitmap bmp;
        ASSERT_TRUE(DecodePng(ReadAll(file), bmp)) << file;
        EXPECT_EQ(bmp.BitCount(), depth.at(file.filename().string())) << file;
        // Alpha is dropped, not blended: the second decoder's RGB conversion does the same.
        EXPECT_TRUE(test::SameAsSecondDecoder(file, Decode, 0, skip));
        if (!skip.empty()) GTEST_SKIP() << skip;
    }
}

TEST(PngCodec, WrittenFilesHaveTheFixedHeaderAndNoRowFilter) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        const Bitmap src = test::MakePatternBitmap(23, 9, bits, 3);
        const auto png = EncodeToBytes(src);
        ASSERT_FALSE(png.empty()) << bits;
        const PngChunks c = ParseChunks(png);
        const bool palette = bits <= 8;
        EXPECT_EQ(c.colorType, palette ? 3 : 2) << bits;
        EXPECT_EQ(c.depth, palette ? bits : 8) << bits;
        EXPECT_EQ(c.interlace, 0);
        if (palette) {
            EXPECT_EQ(c.plteEntries, std::size_t{1} << bits);
        }
        // Every row starts with filter type 0.
        const std::size_t rowBytes = 1 + (palette ? (23 * bits + 7) / 8 : 23 * 3);
        std::vector<std::uint8_t> raw(rowBytes * 9);
        uLongf rawLen = raw.size();
        ASSERT_EQ(uncompress(raw.data(), &rawLen, c.idat.data(), c.idat.size()), Z_OK);
        ASSERT_EQ(rawLen, raw.size());
        for (int y = 0; y < 9; ++y) EXPECT_EQ(raw[y * rowBytes], 0) << "row " << y;
        // Pixels come back: palette depths exactly, the others as their 24-bit colours.
        Bitmap back;
        ASSERT_TRUE(DecodePng(png, back));
        if (palette) {
            EXPECT_TRUE(back == src) << bits;
        } else {
            EXPECT_EQ(test::CountDifferences(test::ToRgb(back), test::ToRgb(src)), 0) << bits;
        }
    }
}

TEST(PngCodec, ShortPaletteStillCoversEveryPixel) {
    Bitmap src = test::MakePatternBitmap(8, 2, 8, 5);
    src.Palette().resize(3);
    const PngChunks c = ParseChunks(EncodeToBytes(src));
    EXPECT_GT(c.plteEntries, 3u);
    Bitmap back;
    ASSERT_TRUE(DecodePng(EncodeToBytes(src), back));
    EXPECT_EQ(test::CountDifferences(test::ToRgb(back), test::ToRgb(src)), 0);
}

TEST(PngCodec, DamagedFilesAreRefused) {
    const auto good = ReadAll(DataFile("png/rgb8.png"));
    Bitmap bmp;
    for (std::size_t len = 0; len < good.size(); len += 29) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(len));
        EXPECT_FALSE(DecodePng(cut, bmp)) << "cut at " << len;
    }
    auto badSignature = good;
    badSignature[1] = 'Q';
    EXPECT_FALSE(DecodePng(badSignature, bmp));
    auto badCrc = good;
    badCrc[29] ^= 0xFF;  // IHDR's CRC
    EXPECT_FALSE(DecodePng(badCrc, bmp));
    // A first chunk that is not IHDR.
    auto noHeader = good;
    noHeader[12] = 'X';
    EXPECT_FALSE(DecodePng(noHeader, bmp));
    // An IHDR of 100000 x 100000 (CRC fixed up) is refused before pixel memory is taken.
    const auto huge = WithHeaderSize(good, 100000, 100000);
    EXPECT_FALSE(DecodePng(huge, bmp));
    EXPECT_FALSE(DecodePng(ReadAll(DataFile("jpeg/grey.jpg")), bmp));
}

void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (24 - 8 * i)));
}

void PutChunk(std::vector<std::uint8_t>& png, const char* type,
              const std::vector<std::uint8_t>& data) {
    PutBe32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBe32(png, static_cast<std::uint32_t>(crc32(0, png.data() + start, data.size() + 4)));
}

// An 8-bit grey PNG whose zlib stream is compressed with the full 32 KiB window; the zlib
// header then declares a window of 2^(8 + cinfo) bytes (its check bits fixed up).
std::vector<std::uint8_t> GreyPngWithDeclaredWindow(int width, int height,
                                                    const std::vector<std::uint8_t>& rows,
                                                    int cinfo) {
    std::vector<std::uint8_t> z(compressBound(rows.size()));
    uLongf zLen = z.size();
    EXPECT_EQ(compress2(z.data(), &zLen, rows.data(), rows.size(), 9), Z_OK);
    z.resize(zLen);
    z[0] = static_cast<std::uint8_t>((cinfo << 4) | 8);
    z[1] &= 0xE0;
    z[1] = static_cast<std::uint8_t>(z[1] + (31 - (z[0] * 256 + z[1]) % 31) % 31);
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr;
    PutBe32(ihdr, static_cast<std::uint32_t>(width));
    PutBe32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});
    return png;
}

TEST(PngCodec, ZlibHeaderThatDeclaresASmallWindowStillReads) {
    // Rows of 600 noise bytes, each row repeating the one two rows up: the compressor refers
    // back 1202 bytes, more than the 256-byte window the patched header declares.
    constexpr int kWidth = 600, kHeight = 8;
    std::vector<std::uint8_t> rows;
    std::uint32_t noise = 12345;
    for (int y = 0; y < kHeight; ++y) {
        rows.push_back(0);  // filter None
        for (int x = 0; x < kWidth; ++x) {
            if (y < 2) {
                noise = noise * 1103515245u + 12345u;
                rows.push_back(static_cast<std::uint8_t>(noise >> 16));
            } else {
                rows.push_back(rows[static_cast<std::size_t>(y - 2) * (kWidth + 1) + 1 + x]);
            }
        }
    }
    for (int cinfo : {0, 2, 7}) {
        const auto png = GreyPngWithDeclaredWindow(kWidth, kHeight, rows, cinfo);
        Bitmap bmp;
        std::string why;
        ASSERT_TRUE(DecodePng(png, bmp, &why)) << "declared window 2^" << 8 + cinfo << ": " << why;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; x += 37) {
                ASSERT_EQ(bmp.IndexAt(x, y),
                          rows[static_cast<std::size_t>(y) * (kWidth + 1) + 1 + x]);
            }
        }
    }
    // A window beyond what zlib defines is still an error.
    auto bad = GreyPngWithDeclaredWindow(kWidth, kHeight, rows, 8);
    Bitmap bmp;
    std::string why;
    EXPECT_FALSE(DecodePng(bad, bmp, &why));
    EXPECT_EQ(why.rfind("damaged PNG data: ", 0), 0u) << why;
}

TEST(PngCodec, RefusalsSayWhy) {
    const auto good = ReadAll(DataFile("png/rgb8.png"));
    Bitmap bmp;
    std::string why;
    EXPECT_FALSE(DecodePng(ReadAll(DataFile("jpeg/grey.jpg")), bmp, &why));
    EXPECT_EQ(why, "not a PNG file");
    why.clear();
    EXPECT_FALSE(DecodePng(std::span(good).first(good.size() - 40), bmp, &why));
    EXPECT_EQ(why, "truncated image data");
    // 100000 x 100000 pixels: our limit speaks, not the library's million-pixel side limit.
    const auto huge = WithHeaderSize(good, 100000, 100000);
    why.clear();
    EXPECT_FALSE(DecodePng(huge, bmp, &why));
    EXPECT_EQ(why, ImageSizeReason(100000, 100000));
    // 2,000,000 x 1 is within the pixel limit though beyond libpng's default side limit.
    std::vector<std::uint8_t> row(2'000'001, 0);
    const auto wide = GreyPngWithDeclaredWindow(2'000'000, 1, row, 7);
    why.clear();
    ASSERT_TRUE(DecodePng(wide, bmp, &why)) << why;
    EXPECT_EQ(bmp.Width(), 2'000'000);
    auto badCrc = good;
    badCrc[29] ^= 0xFF;
    why.clear();
    EXPECT_FALSE(DecodePng(badCrc, bmp, &why));
    EXPECT_EQ(why, "damaged PNG data: IHDR: CRC error");
    // An sPLT that claims 1.9 GB in a file of 600 bytes is refused as truncated (its memory is
    // held to the bound by the replay of fuzz/corpus/png/splt_claims_1900mb.png).
    std::vector<std::uint8_t> claims(good.begin(), good.begin() + 33);
    PutBe32(claims, 1'900'000'000);
    claims.insert(claims.end(), {'s', 'P', 'L', 'T', 'p', 'a', 'l', 0, 8});
    claims.resize(600, 0);
    why.clear();
    EXPECT_FALSE(DecodePng(claims, bmp, &why));
    EXPECT_EQ(why, "truncated image data");
}

}  // namespace
}  // namespace ozm
