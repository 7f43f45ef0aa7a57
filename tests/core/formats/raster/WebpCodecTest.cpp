#include <gtest/gtest.h>
#include <webp/encode.h>
#include <webp/types.h>

#include <cmath>

#include "core/formats/ImageFormats.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/formats/PhotoRead.h"
#include "core/formats/raster/ExifOrientation.h"
#include "core/formats/raster/WebpCodec.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

double Psnr(const Bitmap& a, const Bitmap& b) {
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < 3 * a.Width(); ++x) {
            const double d = a.Row(y)[x] - b.Row(y)[x];
            sum += d * d;
        }
    const double mse = sum / (3.0 * a.Width() * a.Height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

Bitmap Smooth(int width, int height) {
    Bitmap bmp;
    EXPECT_TRUE(bmp.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = bmp.Row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(128 + 90 * std::sin(x * 0.05) * std::cos(y * 0.03));
            p[1] = static_cast<std::uint8_t>((x + y) * 255 / (width + height));
            p[2] = static_cast<std::uint8_t>(200 - y * 150 / height);
        }
    return bmp;
}

TEST(WebpCodec, RoundTrips) {
    // Lossless: every pixel back exactly, whatever the depth written.
    for (int depth : {24, 32, 8, 1}) {
        const Bitmap source = test::MakePatternBitmap(53, 31, depth, 5);
        const auto bytes =
            test::EncodeToBytes([&](std::FILE* f) { return EncodeWebp(source, f, 75, true); });
        ASSERT_FALSE(bytes.empty()) << depth;
        Bitmap back;
        ASSERT_TRUE(DecodeWebp(bytes, back)) << depth;
        EXPECT_EQ(test::CountDifferences(test::ToRgb(source), test::ToRgb(back)), 0) << depth;
    }
    // Lossy at quality 90: above 35 dB on a photo-like picture; lower quality, fewer bytes.
    const Bitmap smooth = Smooth(320, 240);
    const auto q90 =
        test::EncodeToBytes([&](std::FILE* f) { return EncodeWebp(smooth, f, 90, false); });
    const auto q20 =
        test::EncodeToBytes([&](std::FILE* f) { return EncodeWebp(smooth, f, 20, false); });
    Bitmap back;
    ASSERT_TRUE(DecodeWebp(q90, back));
    EXPECT_GT(Psnr(smooth, back), 35.0);
    EXPECT_LT(q20.size(), q90.size());
    // Through the writer and reader by extension and code.
    test::ScratchDir dir;
    WriteSettings settings;
    settings.lossless = true;
    ASSERT_TRUE(WriteImageFile(smooth, dir / "a.png", FormatCode::Webp, settings));
    Bitmap read;
    ASSERT_TRUE(ReadImageFile(dir / "a.webp", read));
    EXPECT_EQ(read, smooth);
    // Nothing beyond the format's side limit is written.
    Bitmap wide;
    ASSERT_TRUE(wide.Create(16384, 1, 24));
    EXPECT_TRUE(
        test::EncodeToBytes([&](std::FILE* f) { return EncodeWebp(wide, f, 75, false); }).empty());
}

TEST(WebpCodec, DamagedFilesAreRefusedCleanly) {
    const auto good = test::EncodeToBytes([&](std::FILE* f) {
        return EncodeWebp(test::MakePatternBitmap(40, 30, 24), f, 80, false);
    });
    ASSERT_GT(good.size(), 40u);
    Bitmap out;
    std::string why;
    EXPECT_FALSE(DecodeWebp({}, out, &why));
    EXPECT_EQ(why, "not a WebP file");
    const std::vector<std::uint8_t> wave = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
    why.clear();
    EXPECT_FALSE(DecodeWebp(wave, out, &why));
    EXPECT_EQ(why, "not a WebP file");
    // Every cut of the file: refused, never a crash.
    for (std::size_t n = 12; n < good.size(); n += 7) {
        why.clear();
        EXPECT_FALSE(DecodeWebp(std::span(good).first(n), out, &why)) << n;
        EXPECT_FALSE(why.empty());
    }
    // Bytes changed all through the file: refused or decoded, never a crash or a wrong size.
    for (std::size_t at = 12; at < good.size(); ++at) {
        auto bad = good;
        bad[at] ^= 0x5A;
        if (DecodeWebp(bad, out)) {
            EXPECT_TRUE(out.Width() == 40 && out.Height() == 30) << at;
        }
    }
    // A header announcing the largest picture (the VP8L header's 14-bit sides at their
    // largest, 16384 x 16384) with no data behind it: refused, quickly.
    std::vector<std::uint8_t> huge = {'R',  'I',  'F',  'F',  26,   0,   0,  0, 'W', 'E',
                                      'B',  'P',  'V',  'P',  '8',  'L', 14, 0, 0,   0,
                                      0x2F, 0xFF, 0xFF, 0xFF, 0x0F, 0,   0,  0, 0,   0};
    why.clear();
    EXPECT_FALSE(DecodeWebp(huge, out, &why));
    EXPECT_FALSE(why.empty());
}

TEST(WebpCodec, AlphaDroppedOrBlended) {
    // A lossless picture with alpha, written by libwebp directly from RGBA.
    const int w = 4, h = 1;
    const std::uint8_t rgba[] = {255, 0, 0, 255, 255, 0, 0, 0, 0, 0, 255, 128, 10, 20, 30, 64};
    std::uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeLosslessRGBA(rgba, w, h, w * 4, &encoded);
    ASSERT_GT(size, 0u);
    const std::vector<std::uint8_t> bytes(encoded, encoded + size);
    WebPFree(encoded);
    Bitmap dropped, blended;
    ASSERT_TRUE(DecodeWebp(bytes, dropped));
    ASSERT_TRUE(DecodeWebp(bytes, blended, nullptr, RgbQuad{255, 255, 255, 0}));
    const auto px = [](const Bitmap& b, int x) {
        const std::uint8_t* p = b.Row(0) + 3 * x;
        return std::array<int, 3>{p[2], p[1], p[0]};  // red, green, blue
    };
    EXPECT_EQ(px(dropped, 0), (std::array{255, 0, 0}));
    EXPECT_EQ(px(blended, 0), (std::array{255, 0, 0}));
    EXPECT_EQ(px(blended, 1), (std::array{255, 255, 255}));  // fully transparent
    EXPECT_EQ(px(blended, 2), (std::array{127, 127, 255}));  // half: (0 * 128 + 255 * 127) / 255
    EXPECT_EQ(px(blended, 3), (std::array{194, 196, 199}));  // (10 * 64 + 255 * 191) / 255 ...
    EXPECT_EQ(px(dropped, 3), (std::array{10, 20, 30}));

    // The same pixels as the first frame of an animation, filling a 4 x 1 canvas and at (2, 2)
    // on an 8 x 4 one, whose other pixels are transparent.
    const auto animation = [&](int cw, int ch, int fx, int fy) {
        std::vector<std::uint8_t> v = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'};
        const auto put = [&](std::uint32_t n, int bytes) {
            for (int i = 0; i < bytes; ++i) v.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
        };
        v.insert(v.end(), {'V', 'P', '8', 'X', 10, 0, 0, 0, 0x12, 0, 0, 0});
        put(cw - 1, 3), put(ch - 1, 3);
        v.insert(v.end(), {'A', 'N', 'I', 'M', 6, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        v.insert(v.end(), {'A', 'N', 'M', 'F'});
        put(16 + bytes.size() - 12, 4);
        put(fx / 2, 3), put(fy / 2, 3), put(w - 1, 3), put(h - 1, 3), put(100, 3), put(0, 1);
        v.insert(v.end(), bytes.begin() + 12, bytes.end());
        for (int i = 0; i < 4; ++i) v[4 + i] = static_cast<std::uint8_t>((v.size() - 8) >> (8 * i));
        return v;
    };
    Bitmap first;
    ASSERT_TRUE(DecodeWebp(animation(4, 1, 0, 0), first, nullptr, RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(first, blended);
    for (const bool white : {false, true}) {
        std::string why;
        ASSERT_TRUE(white ? DecodeWebp(animation(8, 4, 2, 2), first, &why, RgbQuad{255, 255, 255, 0})
                          : DecodeWebp(animation(8, 4, 2, 2), first, &why))
            << why;
        ASSERT_EQ(first.Width(), 8);
        ASSERT_EQ(first.Height(), 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x) {
                const std::uint8_t* p = first.Row(y) + 3 * x;
                const std::uint8_t* e =
                    y == 2 && x >= 2 && x < 6 ? (white ? blended : dropped).Row(0) + 3 * (x - 2)
                                              : nullptr;
                const int outside = white ? 255 : 0;
                for (int c = 0; c < 3; ++c) EXPECT_EQ(p[c], e ? e[c] : outside) << x << "," << y;
            }
    }
}

TEST(WebpCodec, ListedNowhereInTheDesktopTables) {
    for (const ImageFormat& row : ImageFormatTable()) EXPECT_NE(row.code, FormatCode::Webp);
    EXPECT_FALSE(IsSupportedImageExtension(".webp"));
    ASSERT_NE(FormatForReadExtension(".webp"), nullptr);
    EXPECT_FALSE(FormatForReadExtension(".webp")->listed);
    EXPECT_EQ(OutputExtension(FormatCode::Webp), ".webp");
    EXPECT_EQ(WrittenFormats().back()->code, FormatCode::Webp);
    EXPECT_EQ(AllImageFormats().size(), ImageFormatTable().size() + 1);
}

TEST(ExifOrientation, DamagedAndMissingBlocks) {
    std::string note;
    EXPECT_EQ(ExifOrientation({}, &note), 1);
    EXPECT_EQ(note, "");
    // A big-endian block with one IFD entry: orientation (0x0112), SHORT, count 1, value.
    const auto block = [](int value) {
        return std::vector<std::uint8_t>{
            'E', 'x', 'i', 'f',  0,    0, 'M', 'M', 0, 42, 0, 0, 0,
            8,   0,   1,   0x01, 0x12, 0, 3,   0,   0, 0,  1, 0, static_cast<std::uint8_t>(value),
            0,   0,   0,   0,    0,    0};
    };
    for (int v = 1; v <= 8; ++v) EXPECT_EQ(ExifOrientation(block(v), &note), v);
    EXPECT_EQ(note, "");
    EXPECT_EQ(ExifOrientation(block(9), &note), 1);
    EXPECT_EQ(note, "EXIF orientation 9 ignored");
    note.clear();
    // An unknown byte order, a block too short for its header, a directory past the end.
    std::vector<std::uint8_t> damaged[3] = {
        {'E', 'x', 'i', 'f', 0, 0, 'Q', 'Q', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0},
        {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 1},
        block(6)};
    damaged[2][13] = 200;
    for (const auto& bad : damaged) {
        note.clear();
        EXPECT_EQ(ExifOrientation(bad, &note), 1);
        EXPECT_EQ(note, "damaged EXIF data ignored");
    }
    // Cut anywhere: never a crash, at most the value or 1.
    const auto whole = block(6);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const int v = ExifOrientation(std::span(whole).first(n));
        EXPECT_TRUE(v == 1 || v == 6) << n;
    }
}

}  // namespace
}  // namespace ozm
