#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/formats/raster/BmpCodec.h"
#include "core/formats/ImgConvertUnit.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using test::CountDifferences;
using test::DataFile;
using test::ReadAll;
using test::RgbImage;
using test::ToRgb;

std::vector<std::uint8_t> Bmp(const std::string& name) { return ReadAll(DataFile("bmp/" + name)); }

void Put32(std::vector<std::uint8_t>& d, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Get32(const std::vector<std::uint8_t>& d, std::size_t at) {
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (std::uint32_t{d[at + 3]} << 24);
}

bool Decodes(const std::vector<std::uint8_t>& bytes, Bitmap* out = nullptr) {
    Bitmap bmp;
    const bool ok = DecodeBmp(bytes, bmp);
    if (out) *out = std::move(bmp);
    return ok;
}

std::vector<std::uint8_t> Encode(const Bitmap& bmp, bool* ok = nullptr) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::tmpfile(), std::fclose);
    const bool written = EncodeBmp(bmp, f.get());
    if (ok) *ok = written;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::ftell(f.get())));
    std::rewind(f.get());
    if (!bytes.empty()) {
        EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f.get()), bytes.size());
    }
    return bytes;
}

// The "RGB <w> <h>\n" + pixels file that make_bmp_samples.py writes beside each hb_ file.
RgbImage ReadExpectation(const std::string& name) {
    const auto bytes = ReadAll(DataFile(name));
    RgbImage img;
    int consumed = 0;
    const std::string head(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 32));
    if (std::sscanf(head.c_str(), "RGB %d %d\n%n", &img.width, &img.height, &consumed) == 2) {
        img.rgb.assign(bytes.begin() + consumed, bytes.end());
    }
    return img;
}

struct Sample {
    const char* name;
    int bitCount;             // depth of the decoded bitmap
    std::size_t paletteSize;  // entries of the decoded palette
    // Largest channel difference allowed against the second decoder (1 where it widens 5
    // bits as v * 255 / 31), or -1 where it reads the file differently: it misreads delta
    // escapes and odd RLE4 groups and refuses the rarer headers, masks and compressions.
    int tolerance;
};

// im_ and pil_ files come from other programs; every hb_ file has its expected pixels in a
// .rgb file beside it.
// clang-format off
constexpr Sample kSamples[] = {
    {"im_bmp3_24", 24, 0, 0},   {"im_bmp2_24", 24, 0, 0},   {"im_bmp2_8", 8, 256, 0},
    {"im_v5_24", 24, 0, 0},     {"im_v5_32_alpha", 32, 0, 0}, {"im_rgb565", 24, 0, 1},
    {"im_rgb555", 16, 0, 1},    {"im_argb1555", 16, 0, 1},  {"im_pal4", 4, 16, 0},
    {"im_pal8", 8, 256, 0},     {"im_rle8", 8, 256, 0},     {"im_mono", 1, 2, 0},
    {"im_gray8", 8, 256, 0},    {"pil_rgba", 32, 0, 0},     {"pil_l", 8, 256, 0},
    {"pil_1", 1, 2, 0},
    {"hb_core_1", 1, 2, 0},     {"hb_core_4", 4, 16, 0},    {"hb_os2v2_8", 8, 9, 0},
    {"hb_shortpal_4", 4, 5, 0}, {"hb_shortpal_8", 8, 3, 0}, {"hb_gap_offbits_4", 4, 16, 0},
    {"hb_zero_offbits_1", 1, 2, 0}, {"hb_topdown_8", 8, 7, 0}, {"hb_topdown_24", 24, 0, 0},
    {"hb_bf565", 24, 0, 1},     {"hb_bf32_rgbx_v4", 24, 0, 0}, {"hb_bf444_topdown", 24, 0, -1},
    {"hb_bf32_101010", 24, 0, -1}, {"hb_bf16_v2_52", 16, 0, -1}, {"hb_bf32_v3_56", 32, 0, -1},
    {"hb_alphabf_332", 24, 0, -1}, {"hb_rle8", 8, 6, -1},   {"hb_rle4", 4, 16, -1},
    {"hb_rle4_odd", 4, 16, -1},
    // Runs past the row's end are cut there; a delta past the top row ends the picture.
    {"hb_rle8_overrun", 8, 5, -1},
    // Indexes up to 9 against 4 colours: the palette grows to 10, the new entries black.
    {"hb_index_overflow_8", 8, 10, -1},
};
// clang-format on

TEST(BmpCodec, ReadsRealFilesLikeTheSecondDecoderAndTheExpectations) {
    std::string skipped;
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.name);
        const std::string name = std::string("bmp/") + s.name;
        Bitmap bmp;
        ASSERT_TRUE(DecodeBmp(ReadAll(DataFile(name + ".bmp")), bmp));
        EXPECT_EQ(bmp.BitCount(), s.bitCount);
        EXPECT_EQ(bmp.Palette().size(), s.paletteSize);
        if (name.find("/hb_") != std::string::npos) {
            const RgbImage expected = ReadExpectation(name + ".rgb");
            ASSERT_GT(expected.width, 0);
            EXPECT_EQ(CountDifferences(ToRgb(bmp), expected), 0);
        }
        if (s.tolerance < 0 || !skipped.empty()) continue;
        const auto second = test::DecodeWithSecondDecoder(DataFile(name + ".bmp"), skipped);
        if (second) {
            EXPECT_EQ(CountDifferences(ToRgb(bmp), *second, s.tolerance), 0);
        }
    }
    // The 4-4-4 masks of another tool, which cuts the channels to 4 bits: each channel within
    // one 4-bit step of the 24-bit file.
    Bitmap full;
    Bitmap coarse;
    ASSERT_TRUE(DecodeBmp(Bmp("im_bmp3_24.bmp"), full));
    ASSERT_TRUE(DecodeBmp(Bmp("im_argb4444.bmp"), coarse));
    EXPECT_EQ(coarse.BitCount(), 24);
    EXPECT_EQ(CountDifferences(ToRgb(coarse), ToRgb(full), 17), 0);
    if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST(BmpCodec, PackedDibDecodesLikeTheFile) {
    for (const char* name : {"im_pal8.bmp", "im_rle8.bmp", "hb_bf565.bmp", "hb_core_4.bmp",
                             "hb_topdown_24.bmp", "im_v5_32_alpha.bmp", "hb_alphabf_332.bmp"}) {
        SCOPED_TRACE(name);
        const auto file = Bmp(name);
        const std::size_t off = Get32(file, 10);
        const std::span<const std::uint8_t> all(file);
        Bitmap fromFile;
        Bitmap fromDib;
        ASSERT_TRUE(DecodeBmp(file, fromFile));
        ASSERT_TRUE(DecodeDib(all.subspan(14, off - 14), all.subspan(off), fromDib));
        EXPECT_TRUE(fromDib == fromFile);
    }
    // A colour table cut short by the end of the info block keeps the entries that are there.
    const auto file = Bmp("im_pal4.bmp");
    const std::span<const std::uint8_t> all(file);
    Bitmap dib;
    ASSERT_TRUE(DecodeDib(all.subspan(14, 40 + 4 * 3), all.subspan(Get32(file, 10)), dib));
    EXPECT_EQ(dib.BitCount(), 4);
    EXPECT_GE(dib.Palette().size(), 3u);
    EXPECT_FALSE(DecodeDib(all.subspan(14, 30), all.subspan(Get32(file, 10)), dib));
}

TEST(BmpCodec, WriteThenReadGivesTheSameBitmap) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        for (int width : {1, 3, 5, 7, 8, 13, 33}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(width));
            const Bitmap original = test::MakePatternBitmap(width, 5, bits, width * 7 + bits);
            bool ok = false;
            const auto bytes = Encode(original, &ok);
            ASSERT_TRUE(ok);
            Bitmap back;
            ASSERT_TRUE(DecodeBmp(bytes, back));
            EXPECT_TRUE(back == original);
        }
    }
    // A short palette is kept as it is.
    Bitmap shortPal = test::MakePatternBitmap(9, 3, 4);
    shortPal.Palette().resize(5);
    for (int y = 0; y < 3; ++y) {
        for (int i = 0; i < 5; ++i) shortPal.Row(y)[i] = static_cast<std::uint8_t>(i * 0x11 % 0x55);
    }
    Bitmap back;
    ASSERT_TRUE(DecodeBmp(Encode(shortPal), back));
    EXPECT_TRUE(back == shortPal);

    // Another decoder reads what we write.
    test::ScratchDir dir;
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        const Bitmap original = test::MakePatternBitmap(11, 4, bits, 3);
        test::WriteAll(dir / "w.bmp", Encode(original));
        std::string why;
        const auto second = test::DecodeWithSecondDecoder(dir / "w.bmp", why);
        if (!second) GTEST_SKIP() << why;
        EXPECT_EQ(CountDifferences(ToRgb(original), *second, bits == 16 ? 1 : 0), 0);
    }
}

TEST(BmpCodec, WritesTheFileAndInfoHeaders) {
    Bitmap bmp;
    ASSERT_TRUE(bmp.Create(3, 2, 8, false));
    bmp.Palette() = {{1, 2, 3, 9}, {4, 5, 6, 0}, {7, 8, 9, 0}};
    const std::uint8_t top[4] = {0, 1, 2, 0xEE};
    const std::uint8_t bottom[4] = {2, 1, 0, 0xEE};
    std::memcpy(bmp.Row(0), top, 4);
    std::memcpy(bmp.Row(1), bottom, 4);
    const auto f = Encode(bmp);
    ASSERT_EQ(f.size(), 14u + 40 + 12 + 8);
    // clang-format off
    const std::vector<std::uint8_t> expected = {
        'B', 'M', 74, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0,  // type, file size, reserved, bits offset
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0,             // header size, width, height (bottom-up)
        1, 0, 8, 0, 0, 0, 0, 0, 8, 0, 0, 0,              // planes, bits, BI_RGB, image size
        0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0, 0,              // 3780 pixels per metre (96 dpi)
        3, 0, 0, 0, 0, 0, 0, 0,                          // colours used, important
        1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0,              // palette, reserved bytes 0
        2, 1, 0, 0, 0, 1, 2, 0,                          // bottom row first, padding 0
    };
    // clang-format on
    EXPECT_EQ(f, expected);

    Bitmap rgb;
    ASSERT_TRUE(rgb.Create(5, 3, 24));
    const auto g = Encode(rgb);
    ASSERT_EQ(g.size(), 54u + 16 * 3);
    EXPECT_EQ(Get32(g, 2), g.size());
    EXPECT_EQ(Get32(g, 10), 54u);
    EXPECT_EQ(Get32(g, 34), 48u);
    EXPECT_EQ(Get32(g, 46), 0u);

    // Nothing is written for an empty bitmap.
    Bitmap empty;
    ASSERT_TRUE(empty.Create(0, 0, 24));
    bool ok = true;
    EXPECT_TRUE(Encode(empty, &ok).empty());
    EXPECT_FALSE(ok);
}

TEST(BmpCodec, DamagedFilesFailCleanly) {
    // Cut at every length: refused, except where only the last row's padding is missing
    // (or the end-of-bitmap escape after the last row), which reads the same picture.
    for (const char* name : {"im_bmp3_24.bmp", "im_rle8.bmp", "hb_rle4.bmp", "im_pal4.bmp",
                             "im_v5_32_alpha.bmp", "hb_bf565.bmp", "hb_core_4.bmp"}) {
        SCOPED_TRACE(name);
        const auto file = Bmp(name);
        Bitmap whole;
        ASSERT_TRUE(Decodes(file, &whole));
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            Bitmap part;
            const bool ok = Decodes({file.begin(), file.begin() + cut}, &part);
            EXPECT_TRUE(!ok || (cut + 3 >= file.size() && part == whole)) << "cut " << cut;
        }
    }

    const auto base = Bmp("im_pal4.bmp");  // 21 x 13, 4 bits, 16 colours, pixels at 118
    auto patched = [&](std::size_t at, std::uint32_t v) {
        auto d = base;
        Put32(d, at, v);
        return d;
    };
    EXPECT_TRUE(Decodes(patched(10, 0xFFFFFFF0)));  // offset past the end: pixels after the table
    EXPECT_FALSE(Decodes(patched(10, static_cast<std::uint32_t>(base.size() - 4))));
    EXPECT_FALSE(Decodes(patched(14, 0x7FFFFFFF)));  // header size past the end
    EXPECT_FALSE(Decodes(patched(14, 13)));
    EXPECT_FALSE(Decodes(patched(18, 0x7FFFFFFF)));  // width
    EXPECT_FALSE(Decodes(patched(18, 0)));
    EXPECT_FALSE(Decodes(patched(18, 0xFFFFFFFB)));  // negative width
    EXPECT_FALSE(Decodes(patched(22, 0x80000000)));  // height -2^31
    EXPECT_FALSE(Decodes(patched(22, 0x10000)));     // 21 x 65536 pixels, far more than the data
    auto huge = patched(18, 65536);
    Put32(huge, 22, 65536);  // 2^32 pixels: above the limit
    EXPECT_FALSE(Decodes(huge));
    // Colours used 2^32 - 1: bfOffBits still bounds the table; without it nothing fits.
    EXPECT_TRUE(Decodes(patched(46, 0xFFFFFFFF)));
    auto lyingTable = patched(46, 0xFFFFFFFF);
    Put32(lyingTable, 10, 0);
    EXPECT_FALSE(Decodes(lyingTable));
    for (std::uint32_t bitsAndPlanes : {0x00000001u, 0x00020001u, 0x00400001u, 0x00180001u}) {
        // bit count 0, 2, 64; 24 bits needs more data than there is
        EXPECT_FALSE(Decodes(patched(26, bitsAndPlanes)));
    }
    for (std::uint32_t compression : {1u, 3u, 4u, 5u, 7u, 0x100u}) {
        EXPECT_FALSE(Decodes(patched(30, compression)));  // RLE8 on 4 bits, masks on 4 bits, ...
    }
    auto topDownRle = Bmp("hb_rle4.bmp");  // run-length data is never stored top-down
    Put32(topDownRle, 22,
          static_cast<std::uint32_t>(-static_cast<std::int32_t>(Get32(topDownRle, 22))));
    EXPECT_FALSE(Decodes(topDownRle));

    // Masks: none, not contiguous, wider than the pixel.
    const auto bf = Bmp("hb_bf565.bmp");  // masks at 54, 58, 62
    for (auto masks : {std::array<std::uint32_t, 3>{0, 0, 0},
                       {0xF0F0, 0x0F00, 0x000F},
                       {0x1F0000, 0x07E0, 0x001F}}) {
        auto d = bf;
        for (int i = 0; i < 3; ++i) Put32(d, 54 + 4 * i, masks[i]);
        EXPECT_FALSE(Decodes(d));
    }

    // Run-length data cut inside an absolute group or a delta, or ending with rows unpainted.
    for (std::vector<std::uint8_t> stream :
         {std::vector<std::uint8_t>{0, 5, 1, 2}, {0, 2, 1}, {4, 1, 0, 0}, {}}) {
        auto d = Bmp("hb_rle8.bmp");
        const std::size_t off = Get32(d, 10);
        d.resize(off);
        d.insert(d.end(), stream.begin(), stream.end());
        EXPECT_FALSE(Decodes(d));
    }

    // Every header byte set to a few values: any result, but no crash and no bad access
    // (the sanitizer build checks that).
    for (const char* name : {"im_v5_32_alpha.bmp", "hb_rle4.bmp", "hb_core_4.bmp"}) {
        const auto file = Bmp(name);
        for (std::size_t at = 0; at < std::min<std::size_t>(file.size(), 160); ++at) {
            for (std::uint8_t v : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
                auto d = file;
                d[at] = v;
                Decodes(d);
            }
        }
    }
}

TEST(BmpCodec, RefusalsSayWhy) {
    const auto base = Bmp("im_pal4.bmp");
    auto why = [](const std::vector<std::uint8_t>& bytes) {
        Bitmap bmp;
        std::string text;
        EXPECT_FALSE(DecodeBmp(bytes, bmp, &text));
        return text;
    };
    auto patched = [&](std::size_t at, std::uint32_t v) {
        auto d = base;
        Put32(d, at, v);
        return d;
    };
    EXPECT_EQ(why(ReadAll(DataFile("png/rgb8.png"))), "not a BMP file");
    EXPECT_EQ(why({base.begin(), base.begin() + 100}), "truncated image data");
    EXPECT_EQ(why({base.begin(), base.begin() + 16}), "truncated image data");
    auto huge = patched(18, 65536);
    Put32(huge, 22, 65536);
    EXPECT_EQ(why(huge), ImageSizeReason(65536, 65536));
    EXPECT_EQ(why(patched(14, 13)), "unsupported BMP header");
    EXPECT_EQ(why(patched(26, 0x00020001)), "unsupported BMP bit depth");
    EXPECT_EQ(why(patched(30, 4)), "unsupported BMP compression");  // JPEG inside
    auto bf = Bmp("hb_bf565.bmp");
    Put32(bf, 54, 0xF0F0);
    EXPECT_EQ(why(bf), "invalid BMP colour masks");
    auto rle = Bmp("hb_rle8.bmp");
    rle.resize(Get32(rle, 10) + 2);
    EXPECT_EQ(why(rle), "truncated image data");
}

// Sparse files: their length costs no disk space, and any read of them returns zeros.
void MakeSparseFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& head,
                    std::uint64_t size) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(head.data()),
                  static_cast<std::streamsize>(head.size()));
    }
    std::filesystem::resize_file(path, size);
}

TEST(BmpCodec, FilesLongerThanTheFormatCanNeedAreRefusedUnread) {
    test::ScratchDir dir;
    const auto start = std::chrono::steady_clock::now();
    // 2 GiB of zeros named .bmp: refused by its length alone.
    MakeSparseFile(dir / "sparse.bmp", {}, std::uint64_t{2} << 30);
    Bitmap bmp;
    std::string why;
    EXPECT_FALSE(ReadImageFile(dir / "sparse.bmp", bmp, {}, &why));
    EXPECT_EQ(why, "file too large for its format");
    // A valid header and picture followed by more than the largest picture can need.
    const auto good = Bmp("im_bmp3_24.bmp");
    MakeSparseFile(dir / "long.bmp", good, kBmpFileShape.maxBytes + 1);
    why.clear();
    EXPECT_FALSE(ReadImageFile(dir / "long.bmp", bmp, {}, &why));
    EXPECT_EQ(why, "file too large for its format");
    // Within the bound, trailing bytes are no reason to refuse, and are not read: 1 GiB after
    // a small picture costs nothing.
    MakeSparseFile(dir / "tail.bmp", good, std::uint64_t{1} << 30);
    ASSERT_TRUE(ReadImageFile(dir / "tail.bmp", bmp));
    Bitmap expected;
    ASSERT_TRUE(DecodeBmp(good, expected));
    EXPECT_TRUE(bmp == expected);
    // 1 GiB that does not start like a bitmap file: its first bytes decide, unread.
    MakeSparseFile(dir / "zeros.bmp", {}, std::uint64_t{1} << 30);
    why.clear();
    EXPECT_FALSE(ReadImageFile(dir / "zeros.bmp", bmp, {}, &why));
    EXPECT_EQ(why, "not a BMP file");
    // Reading any of these whole would take seconds and gigabytes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // The part of a file its header calls useful decodes exactly as the whole file, for every
    // sample (run-length data, gaps before bfOffBits, short tables, bfOffBits 0 included).
    for (const auto& file : test::DataFiles("bmp", ".bmp")) {
        SCOPED_TRACE(file.filename().string());
        const auto bytes = ReadAll(file);
        const auto head = std::span(bytes).first(std::min(bytes.size(), kFileHeadBytes));
        const std::uint64_t useful = BmpUsefulBytes(head, bytes.size());
        ASSERT_LE(useful, bytes.size());
        Bitmap whole, part;
        const bool wholeOk = DecodeBmp(bytes, whole);
        EXPECT_EQ(DecodeBmp(std::span(bytes).first(useful), part), wholeOk);
        EXPECT_TRUE(part == whole);
    }
}

}  // namespace
}  // namespace ozm
