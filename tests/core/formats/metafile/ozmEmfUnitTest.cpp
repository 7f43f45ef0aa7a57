#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "core/formats/ImgConvertUnit.h"
#include "core/formats/metafile/MetafileBuilders.h"
#include "core/formats/metafile/ozmEmfUnit.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using test::Le16;
using test::Le32;

std::vector<std::uint8_t> Build(const Bitmap& bitmap, MetafileKind kind) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), std::fclose);
    EXPECT_TRUE(BuildMetafileFromBitmap(bitmap, file.get(), kind));
    std::fflush(file.get());
    std::rewind(file.get());
    std::vector<std::uint8_t> bytes;
    for (int c; (c = std::fgetc(file.get())) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
    return bytes;
}

TEST(ozmEmfUnit, PlaceableWmfOf100x50HasTheExactHeaderAndAnisotropicRecords) {
    const Bitmap bitmap = test::MakePatternBitmap(100, 50, 24);
    const auto b = Build(bitmap, MetafileKind::Wmf);
    ASSERT_GE(b.size(), 22u + 18u);
    EXPECT_EQ((std::vector<std::uint8_t>{b[0], b[1], b[2], b[3]}),
              (std::vector<std::uint8_t>{0xD7, 0xCD, 0xC6, 0x9A}));
    EXPECT_EQ(Le16(b, 4), 0);     // handle
    EXPECT_EQ(Le16(b, 6), 0);     // left
    EXPECT_EQ(Le16(b, 8), 0);     // top
    EXPECT_EQ(Le16(b, 10), 100);  // right: 2646 (0.01 mm) at 96 per inch
    EXPECT_EQ(Le16(b, 12), 50);   // bottom: 1323 (0.01 mm) at 96 per inch
    EXPECT_EQ(Le16(b, 14), 96);   // units per inch
    EXPECT_EQ(Le32(b, 16), 0u);   // reserved
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < 20; i += 2) sum ^= Le16(b, i);
    EXPECT_EQ(Le16(b, 20), sum);

    // Metafile header: memory metafile, 9 words, version 3, size in words of all that follows.
    EXPECT_EQ(Le16(b, 22), 1);
    EXPECT_EQ(Le16(b, 24), 9);
    EXPECT_EQ(Le16(b, 26), 0x300);
    EXPECT_EQ(Le32(b, 28), (b.size() - 22) / 2);
    // Records: map mode, window origin, window extent, stretched DIB, end.
    std::size_t at = 22 + 18;
    auto next = [&](std::uint16_t function) {
        EXPECT_EQ(Le16(b, at + 4), function);
        const std::size_t here = at;
        at += 2 * Le32(b, at);
        return here;
    };
    EXPECT_EQ(Le16(b, next(0x0103) + 6), 8);  // MM_ANISOTROPIC
    const std::size_t org = next(0x020B);
    EXPECT_EQ(Le16(b, org + 6), 0);
    EXPECT_EQ(Le16(b, org + 8), 0);
    const std::size_t ext = next(0x020C);
    EXPECT_EQ(Le16(b, ext + 6), 50);  // y first
    EXPECT_EQ(Le16(b, ext + 8), 100);
    const std::size_t dib = next(0x0F43);
    EXPECT_EQ(Le32(b, dib + 6), 0x00CC0020u);  // SRCCOPY
    EXPECT_EQ(Le16(b, dib + 12), 50);          // source height, width
    EXPECT_EQ(Le16(b, dib + 14), 100);
    EXPECT_EQ(Le16(b, dib + 20), 50);  // destination height, width: the whole box
    EXPECT_EQ(Le16(b, dib + 22), 100);
    EXPECT_EQ(Le32(b, dib + 28), 40u);      // BITMAPINFOHEADER
    EXPECT_EQ(Le16(b, dib + 28 + 14), 24);  // the bitmap's own depth
    next(0x0000);
    EXPECT_EQ(at, b.size());
}

TEST(ozmEmfUnit, EnhancedMetafileOf100x50RecordsTheScreenAndTheFrame) {
    const Bitmap bitmap = test::MakePatternBitmap(100, 50, 8);
    const auto b = Build(bitmap, MetafileKind::Emf);
    ASSERT_GE(b.size(), 108u);
    EXPECT_EQ(Le32(b, 0), 1u);
    EXPECT_EQ(Le32(b, 4), 108u);
    EXPECT_EQ(Le32(b, 40), 0x464D4520u);  // " EMF"
    // Frame in 0.01 mm of a 96-per-inch screen: 100 px = 2645.83, 50 px = 1322.92.
    EXPECT_EQ(Le32(b, 24), 0u);
    EXPECT_EQ(Le32(b, 28), 0u);
    EXPECT_EQ(Le32(b, 32), 2646u);
    EXPECT_EQ(Le32(b, 36), 1323u);
    EXPECT_EQ(Le32(b, 48), b.size());  // total bytes
    EXPECT_EQ(Le32(b, 52), 3u);        // header, picture, end
    EXPECT_EQ(Le32(b, 60), 0u);        // no description
    // Reference device: 1920 x 1440 pixels on 508 x 381 mm is exactly 96 per inch.
    EXPECT_EQ(Le32(b, 72), 1920u);
    EXPECT_EQ(Le32(b, 76), 1440u);
    EXPECT_EQ(Le32(b, 80), 508u);
    EXPECT_EQ(Le32(b, 84), 381u);
    EXPECT_EQ(Le32(b, 100), 508000u);
    EXPECT_EQ(Le32(b, 104), 381000u);
    // One stretched DIB at the bitmap's own size, palette and depth kept.
    EXPECT_EQ(Le32(b, 108), 81u);
    EXPECT_EQ(Le32(b, 108 + 40), 100u);  // source width, height
    EXPECT_EQ(Le32(b, 108 + 44), 50u);
    EXPECT_EQ(Le32(b, 108 + 68), 0x00CC0020u);
    EXPECT_EQ(Le32(b, 108 + 72), 100u);  // destination width, height
    EXPECT_EQ(Le32(b, 108 + 76), 50u);
    const std::size_t info = 108 + Le32(b, 108 + 48);
    EXPECT_EQ(Le16(b, info + 14), 8);
    EXPECT_EQ(Le32(b, 108 + 52), 40u + 4 * 256);
    const std::size_t eof = 108 + Le32(b, 108 + 4);
    EXPECT_EQ(Le32(b, eof), 14u);
    EXPECT_EQ(eof + 20, b.size());
}

TEST(ozmEmfUnit, ReadingFollowsTheSizeRulesAndDrawsAt24Bits) {
    // Our own files come back at the bitmap's size, at any size.
    for (const auto& [w, h] : {std::pair{100, 50}, {1, 1}, {37, 251}, {1999, 3}}) {
        const Bitmap bitmap = test::MakePatternBitmap(w, h, 24);
        for (MetafileKind kind : {MetafileKind::Emf, MetafileKind::Wmf}) {
            Bitmap target;
            ASSERT_TRUE(PlayMetafileIntoBitmap(Build(bitmap, kind), target));
            EXPECT_EQ(target.Width(), w);
            EXPECT_EQ(target.Height(), h);
            EXPECT_EQ(target.BitCount(), 24);  // no depth before: 24 bits
        }
    }
    // A box 1440 wide at 1440 units per inch is one inch: 96 pixels.
    auto inch = test::WmfBuilder(1440, 720, 1, 1440).Finish();
    Bitmap target;
    ASSERT_TRUE(target.Create(3, 3, 8));
    ASSERT_TRUE(PlayMetafileIntoBitmap(inch, target));
    EXPECT_EQ(target.Width(), 96);
    EXPECT_EQ(target.Height(), 48);
    EXPECT_EQ(target.BitCount(), 24);  // not the depth it had
    // Units per inch 0 measure nothing: the header is damaged.
    auto zero = test::WmfBuilder(50, 20, 1, 0).Finish();
    std::string reason;
    EXPECT_FALSE(PlayMetafileIntoBitmap(zero, target, &reason));
    EXPECT_EQ(reason, "units per inch of 0");

    // Unpainted areas are white.
    ASSERT_TRUE(target.Create(1, 1, 16));
    ASSERT_TRUE(PlayMetafileIntoBitmap(test::EmfBuilder(7, 5).Finish(), target));
    EXPECT_EQ(target.BitCount(), 24);
    EXPECT_EQ(target.PixelAt(6, 4), (RgbQuad{255, 255, 255, 0}));
}

TEST(ozmEmfUnit, RefusesWhatIsNeitherKind) {
    Bitmap target;
    // A 16-bit metafile without the placeable header.
    auto wmf = test::WmfBuilder(10, 10).Finish();
    EXPECT_TRUE(PlayMetafileIntoBitmap(wmf, target));
    std::vector<std::uint8_t> bare(wmf.begin() + 22, wmf.end());
    EXPECT_FALSE(PlayMetafileIntoBitmap(bare, target));
    // A wrong checksum.
    auto badSum = wmf;
    badSum[20] ^= 1;
    EXPECT_FALSE(PlayMetafileIntoBitmap(badSum, target));
    // A wrong key.
    auto badKey = wmf;
    badKey[0] ^= 1;
    EXPECT_FALSE(PlayMetafileIntoBitmap(badKey, target));
    // An enhanced metafile without its signature, and no data at all.
    auto emf = test::EmfBuilder(10, 10).Finish();
    EXPECT_TRUE(PlayMetafileIntoBitmap(emf, target));
    emf[41] ^= 1;
    EXPECT_FALSE(PlayMetafileIntoBitmap(emf, target));
    EXPECT_FALSE(PlayMetafileIntoBitmap({}, target));
    // Pictures of no size, of absurd size, or without a reference device.
    auto empty = test::WmfBuilder(0, 10).Finish();
    EXPECT_FALSE(PlayMetafileIntoBitmap(empty, target));
    auto huge = test::EmfBuilder(10, 10).Finish();
    for (std::size_t at : {32u, 36u}) huge[at + 3] = 0x7F;  // frame of 20 km
    EXPECT_FALSE(PlayMetafileIntoBitmap(huge, target));
    auto noDevice = test::EmfBuilder(10, 10).Finish();
    for (std::size_t at = 80; at < 88; ++at) noDevice[at] = 0;
    EXPECT_FALSE(PlayMetafileIntoBitmap(noDevice, target));
}

std::string Reason(const std::vector<std::uint8_t>& data) {
    Bitmap target;
    std::string reason;
    EXPECT_FALSE(PlayMetafileIntoBitmap(data, target, &reason));
    return reason;
}

TEST(ozmEmfUnit, EveryRefusalSaysWhy) {
    EXPECT_EQ(Reason({}), "not a metafile");
    EXPECT_EQ(Reason(std::vector<std::uint8_t>(64, 'x')), "not a metafile");
    auto wmf = test::WmfBuilder(10, 10).Finish();
    EXPECT_EQ(Reason(std::vector<std::uint8_t>(wmf.begin() + 22, wmf.end())),
              "non-placeable WMF files are not supported");
    auto badSum = wmf;
    badSum[20] ^= 1;
    EXPECT_EQ(Reason(badSum), "placeable metafile header has a wrong checksum");
    // 46 bytes: placeable header at 0 units per inch, metafile header, end record.
    const auto zeroUnits = test::WmfBuilder(16384, 16384, 1, 0).Finish();
    EXPECT_EQ(zeroUnits.size(), 46u);
    EXPECT_EQ(Reason(zeroUnits), "units per inch of 0");
    EXPECT_EQ(Reason(test::WmfBuilder(0, 10).Finish()).rfind("image ", 0), 0u);
    auto huge = test::EmfBuilder(10, 10).Finish();
    for (std::size_t at : {32u, 36u}) huge[at + 3] = 0x7F;  // frame of 20 km
    EXPECT_EQ(Reason(huge).rfind("image too large: ", 0), 0u) << Reason(huge);
    auto noDevice = test::EmfBuilder(10, 10).Finish();
    for (std::size_t at = 80; at < 88; ++at) noDevice[at] = 0;
    EXPECT_EQ(Reason(noDevice), "metafile reference device has no size");
    auto cut = test::EmfBuilder(10, 10).Finish(false);
    EXPECT_EQ(Reason(cut), "metafile ends without its end record");
}

std::vector<std::uint8_t> EmfPlusComment() {
    test::ByteSink plus;
    plus.U32(16);
    plus.U32(0x2B464D45);  // "EMF+"
    for (std::uint32_t v : {0x4001u, 12u, 0u, 0u}) plus.U32(v);
    return plus.bytes;
}

TEST(ozmEmfUnit, PicturesOnlyInEmfPlusRecordsAreRefused) {
    test::EmfBuilder only(20, 20);
    only.Raw(70, EmfPlusComment()).Rec(33, {}).Raw(70, EmfPlusComment());  // a save is no drawing
    EXPECT_EQ(Reason(only.Finish()), "EMF+ records are not supported");
    // A dual file also carries the picture as plain records: those are drawn.
    test::EmfBuilder dual(20, 20);
    dual.Raw(70, EmfPlusComment());
    dual.Rec(39, {1, 0, 0x00FF0000, 0}).Rec(37, {1}).Rec(43, {0, 0, 20, 20});
    Bitmap target;
    ASSERT_TRUE(PlayMetafileIntoBitmap(dual.Finish(), target));
    EXPECT_EQ(target.PixelAt(10, 10), (RgbQuad{255, 0, 0, 0}));
}

TEST(ozmEmfUnit, APictureDoesNotDependOnTheBitmapReadBefore) {
    test::EmfBuilder e(40, 30);
    e.Rec(39, {1, 0, 0x003080F0, 0}).Rec(37, {1}).Rec(42, {2, 2, 30, 25});  // orange ellipse
    e.Rec(39, {2, 0, 0x00A03010, 0}).Rec(37, {2}).Rec(43, {20, 10, 38, 28});
    const auto emf = e.Finish();
    test::WmfBuilder w(40, 30, 2);
    w.Rec(0x02FC, {0, 0xC040, 0x0020, 0}).Rec(0x012D, {0}).Rec(0x0418, {25, 30, 2, 2});
    const auto wmf = w.Finish();

    Bitmap grey;
    ASSERT_TRUE(grey.Create(5, 5, 8));
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        grey.Palette()[static_cast<std::size_t>(i)] = RgbQuad{v, v, v, 0};
    }
    const Bitmap before[] = {test::MakePatternBitmap(9, 9, 1), test::MakePatternBitmap(9, 9, 4),
                             grey, test::MakePatternBitmap(9, 9, 24)};
    for (const auto* data : {&emf, &wmf}) {
        Bitmap fresh;
        ASSERT_TRUE(PlayMetafileIntoBitmap(*data, fresh));
        EXPECT_EQ(fresh.BitCount(), 24);
        for (const Bitmap& previous : before) {
            Bitmap target = previous;
            ASSERT_TRUE(PlayMetafileIntoBitmap(*data, target));
            EXPECT_TRUE(target == fresh) << "after a " << previous.BitCount() << "-bit bitmap";
        }
    }
}

// One polygon whose edges zigzag over the whole picture: each edge crosses every scan line.
std::vector<std::uint8_t> ZigzagEmf(int side, int edges) {
    test::EmfBuilder e(side, side);
    test::ByteSink poly;
    for (int v : {0, 0, side - 1, side - 1}) poly.U32(static_cast<std::uint32_t>(v));
    poly.U32(static_cast<std::uint32_t>(edges));
    for (int i = 0; i < edges; ++i) {
        poly.U16(static_cast<std::uint32_t>(static_cast<std::int64_t>(i) * (side - 1) / edges));
        poly.U16(i % 2 ? static_cast<std::uint32_t>(side - 1) : 0u);
    }
    e.Raw(86, poly.bytes);
    return e.Finish();
}

TEST(ozmEmfUnit, PicturesTooCostlyToDrawAreRefusedBeforeTheWork) {
    // 400 KB asking for 100,000 edges times 4096 scan lines: refused at once, not drawn for
    // a minute. The same polygon over a few lines, and a few thousand edges, still draw.
    EXPECT_EQ(Reason(ZigzagEmf(4096, 100000)), "metafile too complex to draw");
    Bitmap target;
    EXPECT_TRUE(PlayMetafileIntoBitmap(ZigzagEmf(40, 100000), target));
    EXPECT_TRUE(PlayMetafileIntoBitmap(ZigzagEmf(600, 2000), target));
    // Hundreds of rectangles over a large picture: 7 KB, each a full repaint.
    test::WmfBuilder w(4096, 4096);
    for (int i = 0; i < 500; ++i) w.Rec(0x041B, {4096, 4096, 0, 0});
    EXPECT_EQ(Reason(w.Finish()), "metafile too complex to draw");
}

TEST(ozmEmfUnit, WrittenRowsHaveZeroPadding) {
    // A 3-pixel 24-bit row has 3 bytes of padding, a 5-pixel 1-bit row 5 unused bits and 3
    // bytes; whatever the bitmap's memory holds there, the file holds zeros.
    for (const auto& [width, depth] : {std::pair{3, 24}, {5, 1}}) {
        Bitmap bitmap = test::MakePatternBitmap(width, 2, depth);
        for (int y = 0; y < 2; ++y) {
            std::uint8_t* row = bitmap.Row(y);
            const std::size_t used = (static_cast<std::size_t>(width) * depth + 7) / 8;
            if (depth == 1) row[0] |= 0x07;
            for (std::size_t i = used; i < bitmap.Stride(); ++i) row[i] = 0xAB;
        }
        const auto emf = Build(bitmap, MetafileKind::Emf);
        const std::size_t bits = 108 + Le32(emf, 108 + 56);
        for (int y = 0; y < 2; ++y) {
            const std::size_t at = bits + bitmap.Stride() * static_cast<std::size_t>(y);
            if (depth == 1) {
                EXPECT_EQ(emf[at] & 0x07, 0);
            }
            const std::size_t used = (static_cast<std::size_t>(width) * depth + 7) / 8;
            for (std::size_t i = used; i < bitmap.Stride(); ++i) EXPECT_EQ(emf[at + i], 0);
        }
        Bitmap back;
        ASSERT_TRUE(PlayMetafileIntoBitmap(emf, back));
        EXPECT_EQ(test::CountDifferences(test::ToRgb(bitmap), test::ToRgb(back)), 0);
    }
}

TEST(ozmEmfUnit, WriterChoosesWmfByCodeAndUpperCaseExtension) {
    test::ScratchDir dir;
    const Bitmap bitmap = test::MakePatternBitmap(100, 50, 24);
    ASSERT_TRUE(WriteImageFile(bitmap, dir / "pic.WMF", FormatCode::Wmf));
    const auto wmf = test::ReadAll(dir / "pic.WMF");
    ASSERT_GE(wmf.size(), 4u);
    EXPECT_EQ(Le32(wmf, 0), 0x9AC6CDD7u);
    ASSERT_TRUE(WriteImageFile(bitmap, dir / "pic.emf", FormatCode::Emf));
    EXPECT_EQ(Le32(test::ReadAll(dir / "pic.emf"), 0), 1u);
    Bitmap back;
    ASSERT_TRUE(ReadImageFile(dir / "pic.WMF", back));
    EXPECT_EQ(back.Width(), 100);
    EXPECT_EQ(back.Height(), 50);
    // A side beyond the 16-bit box cannot be a placeable metafile.
    Bitmap wide;
    ASSERT_TRUE(wide.Create(40000, 1, 1));
    EXPECT_FALSE(WriteImageFile(wide, dir / "wide.wmf", FormatCode::Wmf));
    EXPECT_FALSE(std::filesystem::exists(dir / "wide.wmf"));
}

TEST(ozmEmfUnit, RoundTripGivesBackEveryDepthPixelForPixel) {
    for (int depth : {1, 4, 8, 16, 24, 32}) {
        for (const auto& [w, h] : {std::pair{100, 50}, {13, 7}}) {
            const Bitmap source = test::MakePatternBitmap(w, h, depth, depth * 7 + w);
            for (MetafileKind kind : {MetafileKind::Emf, MetafileKind::Wmf}) {
                Bitmap target = source;  // what the working bitmap held has no say
                ASSERT_TRUE(PlayMetafileIntoBitmap(Build(source, kind), target));
                EXPECT_EQ(target.BitCount(), 24);
                EXPECT_EQ(test::CountDifferences(test::ToRgb(source), test::ToRgb(target)), 0)
                    << "depth " << depth << " size " << w << "x" << h
                    << (kind == MetafileKind::Wmf ? " wmf" : " emf");
            }
        }
    }
}

}  // namespace
}  // namespace ozm
