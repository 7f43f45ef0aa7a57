// The players' drawing model, checked on small hand-made metafiles, and their answers to
// damaged ones.

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/formats/metafile/MetafileBuilders.h"
#include "core/formats/metafile/ozmEmfUnit.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

// cairo and fontconfig keep font caches for the life of the process, which the leak checker
// of the sanitizer build reports at exit. Once every test has run, they are released.
class FontCachesRelease : public testing::Environment {
  public:
    void TearDown() override {
        cairo_debug_reset_static_data();
        FcFini();
    }
};
[[maybe_unused]] testing::Environment* const kFontCachesRelease =
    testing::AddGlobalTestEnvironment(new FontCachesRelease);

using test::ByteSink;
using test::EmfBuilder;
using test::WmfBuilder;

constexpr std::int64_t kStock = 0x80000000LL;
constexpr std::int64_t kNullPen = kStock | 8;
constexpr std::int64_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000;

// EMF record types used below.
enum : std::uint32_t {
    kPolygon16 = 86,
    kPolyline = 4,
    kSetWindowExt = 9,
    kSetViewportExt = 11,
    kSetMapMode = 17,
    kSetRop2 = 20,
    kSetBkMode = 18,
    kSetTextAlign = 22,
    kSetTextColor = 24,
    kExcludeClip = 29,
    kIntersectClip = 30,
    kSaveDc = 33,
    kRestoreDc = 34,
    kSetWorldTransform = 35,
    kSelectObject = 37,
    kCreatePen = 38,
    kCreateBrush = 39,
    kEllipse = 42,
    kRectangle = 43,
    kComment = 70,
    kExtSelectClipRgn = 75,
    kBitBlt = 76,
    kStretchDiBits = 81,
    kFont = 82,
    kTextW = 84,
    kPolyPolygon = 8,
    kAlphaBlend = 114,
    kGradientFill = 118,
    kExtCreatePen = 95,
};

RgbQuad At(const Bitmap& b, int x, int y) { return b.PixelAt(x, y); }
constexpr RgbQuad kWhitePixel{255, 255, 255, 0};
constexpr RgbQuad kRedPixel{0, 0, 255, 0};
constexpr RgbQuad kGreenPixel{0, 255, 0, 0};
constexpr RgbQuad kBluePixel{255, 0, 0, 0};
constexpr RgbQuad kBlackPixel{0, 0, 0, 0};

Bitmap Play(const std::vector<std::uint8_t>& data) {
    Bitmap b;
    EXPECT_TRUE(PlayMetafileIntoBitmap(data, b));
    return b;
}

int DarkPixels(const Bitmap& b, int x0, int y0, int x1, int y1);

// Selects a solid brush of `colour` in slot 1 and the null pen.
EmfBuilder& SolidBrush(EmfBuilder& e, std::int64_t colour) {
    return e.Rec(kCreateBrush, {1, 0, colour, 0})
        .Rec(kSelectObject, {1})
        .Rec(kSelectObject, {kNullPen});
}

std::vector<std::uint8_t> XformBody(float m11, float m12, float m21, float m22, float dx,
                                    float dy) {
    std::vector<std::uint8_t> b(24);
    const float v[6] = {m11, m12, m21, m22, dx, dy};
    std::memcpy(b.data(), v, 24);
    return b;
}

TEST(MetafilePlayer, EnhancedMappingTransformsAndDcStack) {
    EmfBuilder e(40, 40);
    // Logical 0..400 onto 40 device pixels.
    e.Rec(kSetMapMode, {8}).Rec(kSetWindowExt, {400, 400}).Rec(kSetViewportExt, {40, 40});
    SolidBrush(e, kRed);
    e.Rec(kSaveDc, {});
    e.Raw(kSetWorldTransform, XformBody(0.5f, 0, 0, 0.5f, 0, 0));
    e.Rec(kCreateBrush, {2, 0, kBlue, 0}).Rec(kSelectObject, {2});
    e.Rec(kRectangle, {0, 0, 400, 100});  // halved by the world transform: top 5 rows, 20 wide
    e.Rec(kRestoreDc, {-1});              // back to red, no world transform
    e.Rec(kRectangle, {100, 200, 300, 400});
    const Bitmap b = Play(e.Finish());
    ASSERT_EQ(b.Width(), 40);
    EXPECT_EQ(At(b, 2, 2), kBluePixel);
    EXPECT_EQ(At(b, 30, 2), kWhitePixel);
    EXPECT_EQ(At(b, 20, 30), kRedPixel);
    EXPECT_EQ(At(b, 5, 30), kWhitePixel);
    EXPECT_EQ(At(b, 20, 12), kWhitePixel);
}

TEST(MetafilePlayer, ArcsFollowTheArcDirectionAndMetricModesPointUp) {
    EmfBuilder e(80, 40);
    SolidBrush(e, kRed);
    // A pie from east to north: anticlockwise the upper right quarter, clockwise the rest.
    e.Rec(47, {0, 0, 40, 40, 40, 20, 20, 0});
    e.Rec(57, {2});  // AD_CLOCKWISE
    e.Rec(47, {40, 0, 80, 40, 80, 20, 60, 0});
    // Hundredths of a millimetre (26.46 to a pixel here), y upwards.
    e.Rec(kSetMapMode, {3}).Rec(kCreateBrush, {2, 0, kBlue, 0}).Rec(kSelectObject, {2});
    e.Rec(kRectangle, {0, -794, 264, -1058});  // x 0..10 px, y 30..40 px
    const Bitmap b = Play(e.Finish());
    EXPECT_EQ(At(b, 28, 8), kRedPixel);
    EXPECT_EQ(At(b, 12, 28), kWhitePixel);
    EXPECT_EQ(At(b, 28, 28), kWhitePixel);
    EXPECT_EQ(At(b, 68, 8), kWhitePixel);
    EXPECT_EQ(At(b, 52, 28), kRedPixel);
    EXPECT_EQ(At(b, 68, 28), kRedPixel);
    EXPECT_EQ(At(b, 5, 35), kBluePixel);
    EXPECT_EQ(At(b, 15, 35), kWhitePixel);
}

TEST(MetafilePlayer, HatchedBrushesAndRotatedWindowsText) {
    WmfBuilder w(60, 60, 4);
    w.Rec(0x0102, {1});                                  // transparent background
    w.Rec(0x02FC, {2, kBlue & 0xFFFF, kBlue >> 16, 4});  // blue cross hatch
    w.Rec(0x02FA, {5, 0, 0, 0, 0});
    w.Rec(0x012D, {0}).Rec(0x012D, {1});
    w.Rec(0x041B, {20, 60, 0, 0});  // rectangle over the top third
    ByteSink font;
    for (int v : {-20, 0, 900, 900, 400}) font.U16(static_cast<std::uint32_t>(v));
    for (int i = 0; i < 8; ++i) font.U8(0);
    for (char c : std::string("DejaVu Sans")) font.U8(static_cast<std::uint8_t>(c));
    font.U8(0);
    w.Raw(0x02FB, font.bytes).Rec(0x012D, {2});
    w.Rec(0x012E, {24});                 // baseline alignment
    w.Rec(0x0521, {2, 0x4848, 55, 25});  // "HH" at x 25, y 55, written upwards
    const Bitmap b = Play(w.Finish());
    int blue = 0, white = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 60; ++x) {
            blue += At(b, x, y) == kBluePixel;
            white += At(b, x, y) == kWhitePixel;
        }
    }
    EXPECT_GT(blue, 100);   // the hatch lines
    EXPECT_GT(white, 600);  // and the background between them
    // Letters stand left of the upward baseline, between its start and 30 pixels above.
    EXPECT_GT(DarkPixels(b, 5, 25, 25, 55), 30);
    EXPECT_EQ(DarkPixels(b, 27, 21, 60, 60), 0);
}

TEST(MetafilePlayer, ClippingRecords) {
    EmfBuilder e(40, 40);
    SolidBrush(e, kRed);
    e.Rec(kIntersectClip, {0, 0, 20, 40}).Rec(kExcludeClip, {0, 0, 10, 10});
    e.Rec(kRectangle, {0, 0, 40, 40});
    // An empty region copied in restores the whole picture as the clip.
    e.Rec(kExtSelectClipRgn, {0, 5});
    e.Rec(kCreateBrush, {2, 0, kGreen, 0}).Rec(kSelectObject, {2});
    e.Rec(kRectangle, {30, 30, 40, 40});
    // A region of one device rectangle.
    std::vector<std::uint8_t> rgn;
    {
        ByteSink s;
        s.U32(48);  // region data size
        s.U32(5);   // RGN_COPY
        for (std::uint32_t v : {32u, 1u, 1u, 16u, 0u, 30u, 10u, 40u}) s.U32(v);
        for (std::uint32_t v : {0u, 30u, 10u, 40u}) s.U32(v);
        rgn = s.bytes;
    }
    e.Raw(kExtSelectClipRgn, rgn);
    e.Rec(kCreateBrush, {3, 0, kBlue, 0}).Rec(kSelectObject, {3});
    e.Rec(kRectangle, {0, 20, 40, 40});
    const Bitmap b = Play(e.Finish());
    EXPECT_EQ(At(b, 15, 15), kRedPixel);
    EXPECT_EQ(At(b, 5, 5), kWhitePixel);    // excluded
    EXPECT_EQ(At(b, 25, 15), kWhitePixel);  // outside the intersection
    EXPECT_EQ(At(b, 35, 35), kGreenPixel);  // clip was reset
    EXPECT_EQ(At(b, 5, 35), kBluePixel);    // inside the region
    EXPECT_EQ(At(b, 15, 25), kRedPixel);    // outside the region: earlier red stays
}

// Filling and framing a region name their brush by object index; a stock index (high bit
// set) names a stock brush for both, whatever brush is selected.
TEST(MetafilePlayer, RegionRecordsTakeStockBrushes) {
    constexpr std::uint32_t kFillRgn = 71, kFrameRgn = 72;
    constexpr std::int64_t kBlackBrush = kStock | 4;
    auto regionRecord = [](std::initializer_list<std::uint32_t> head, std::uint32_t left,
                           std::uint32_t top, std::uint32_t right, std::uint32_t bottom) {
        ByteSink s;
        for (std::uint32_t v : {left, top, right, bottom}) s.U32(v);  // bounds
        s.U32(48);                                                    // region data size
        for (std::uint32_t v : head) s.U32(v);
        for (std::uint32_t v : {32u, 1u, 1u, 16u, left, top, right, bottom}) s.U32(v);
        for (std::uint32_t v : {left, top, right, bottom}) s.U32(v);
        return s.bytes;
    };
    EmfBuilder e(40, 40);
    SolidBrush(e, kRed);
    e.Raw(kFillRgn, regionRecord({std::uint32_t(kBlackBrush)}, 0, 0, 20, 20));
    // Frame lines 2 units wide and high.
    e.Raw(kFrameRgn, regionRecord({std::uint32_t(kBlackBrush), 2, 2}, 22, 22, 38, 38));
    const Bitmap b = Play(e.Finish());
    EXPECT_EQ(At(b, 10, 10), kBlackPixel);
    EXPECT_EQ(At(b, 23, 30), kBlackPixel);
    EXPECT_EQ(At(b, 30, 23), kBlackPixel);
    EXPECT_EQ(At(b, 30, 30), kWhitePixel);  // inside the frame
}

TEST(MetafilePlayer, CommentsAreSkippedAndFiguresAfterThemDrawn) {
    EmfBuilder e(20, 20);
    ByteSink plus;
    plus.U32(16);
    plus.U32(0x2B464D45);  // "EMF+"
    for (std::uint32_t v : {0x4001u, 12u, 0u, 0u}) plus.U32(v);
    e.Raw(kComment, plus.bytes);
    SolidBrush(e, kBlue);
    ByteSink poly;
    for (int v : {0, 0, 20, 20}) poly.U32(static_cast<std::uint32_t>(v));
    poly.U32(3);
    for (int v : {0, 0, 20, 0, 0, 20}) poly.U16(static_cast<std::uint32_t>(v));
    e.Raw(kPolygon16, poly.bytes);
    const Bitmap b = Play(e.Finish());
    EXPECT_EQ(At(b, 3, 3), kBluePixel);
    EXPECT_EQ(At(b, 17, 17), kWhitePixel);
}

std::vector<std::uint8_t> FontBody(std::uint32_t index, std::int32_t height, const char* face,
                                   std::int32_t escapement = 0) {
    ByteSink s;
    s.U32(index);
    for (std::int32_t v : {height, 0, escapement, escapement, 400})
        s.U32(static_cast<std::uint32_t>(v));
    for (int i = 0; i < 8; ++i) s.U8(0);
    for (int i = 0; i < 32; ++i) s.U16(i < static_cast<int>(std::strlen(face)) ? face[i] : 0);
    return s.bytes;
}

std::vector<std::uint8_t> TextBody(std::int32_t x, std::int32_t y, const std::u16string& text,
                                   const std::vector<std::int32_t>& dx = {}) {
    ByteSink s;
    for (int i = 0; i < 4; ++i) s.U32(0);  // bounds
    s.U32(1);                              // compatible graphics mode
    s.U32(0);
    s.U32(0);
    const std::uint32_t offString = 76;
    const std::uint32_t offDx = dx.empty() ? 0 : offString + ((2 * text.size() + 3) & ~3u);
    s.U32(static_cast<std::uint32_t>(x));
    s.U32(static_cast<std::uint32_t>(y));
    s.U32(static_cast<std::uint32_t>(text.size()));
    s.U32(offString);
    s.U32(0);  // options
    for (int i = 0; i < 4; ++i) s.U32(0);
    s.U32(offDx);
    for (char16_t c : text) s.U16(c);
    while ((s.bytes.size() + 8) % 4) s.U8(0);
    for (std::int32_t d : dx) s.U32(static_cast<std::uint32_t>(d));
    return s.bytes;
}

int DarkPixels(const Bitmap& b, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const RgbQuad q = b.PixelAt(x, y);
            if (q.red + q.green + q.blue < 300) ++n;
        }
    }
    return n;
}

TEST(MetafilePlayer, TextSitsOnItsAlignmentPointWithItsAdvances) {
    EmfBuilder e(120, 60);
    e.Raw(kFont, FontBody(1, -20, "DejaVu Sans")).Rec(kSelectObject, {1});
    e.Rec(kSetBkMode, {1}).Rec(kSetTextColor, {0});
    e.Rec(kSetTextAlign, {24});  // baseline, left
    e.Raw(kTextW, TextBody(10, 30, u"HH"));
    // Centred at 60, top-aligned at 35, letters pushed 40 apart by the advances.
    e.Rec(kSetTextAlign, {6});
    e.Raw(kTextW, TextBody(60, 35, u"II", {40, 40}));
    const Bitmap b = Play(e.Finish());
    EXPECT_GT(DarkPixels(b, 10, 14, 40, 30), 40);  // "HH" above its baseline
    EXPECT_EQ(DarkPixels(b, 0, 31, 60, 35), 0);    // nothing below the baseline
    // The two I's stand at about 20 and 60 (centre 60, total advance 80), below y=35.
    EXPECT_GT(DarkPixels(b, 18, 36, 28, 56), 10);
    EXPECT_GT(DarkPixels(b, 58, 36, 68, 56), 10);
    EXPECT_EQ(DarkPixels(b, 30, 36, 56, 60), 0);
}

TEST(MetafilePlayer, RasterOperationsAreBitwise) {
    EmfBuilder e(40, 10);
    SolidBrush(e, 0x336699);
    ByteSink none;  // BitBlt without a source: only pattern and destination take part
    auto blt = [&](std::int32_t x, std::uint32_t rop) {
        ByteSink s;
        for (int i = 0; i < 4; ++i) s.U32(0);
        for (std::int32_t v : {x, 0, 10, 10}) s.U32(static_cast<std::uint32_t>(v));
        s.U32(rop);
        s.U32(0);
        s.U32(0);
        for (float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) {
            std::uint32_t bits;
            std::memcpy(&bits, &f, 4);
            s.U32(bits);
        }
        for (int i = 0; i < 6; ++i) s.U32(0);
        e.Raw(kBitBlt, s.bytes);
    };
    blt(0, 0x00F00021);   // PATCOPY
    blt(10, 0x00000042);  // BLACKNESS
    blt(20, 0x00FF0062);  // WHITENESS, then inverted: black
    blt(20, 0x00550009);  // DSTINVERT
    blt(30, 0x00F00021);
    blt(30, 0x005A0049);  // PATINVERT over the pattern: black
    // A figure drawn twice in exclusive-or pen mode leaves no trace.
    e.Rec(kSetRop2, {7}).Rec(kEllipse, {0, 0, 9, 9}).Rec(kEllipse, {0, 0, 9, 9});
    const Bitmap b = Play(e.Finish());
    EXPECT_EQ(At(b, 5, 5), (RgbQuad{0x33, 0x66, 0x99, 0}));
    EXPECT_EQ(At(b, 15, 5), kBlackPixel);
    EXPECT_EQ(At(b, 25, 5), kBlackPixel);
    EXPECT_EQ(At(b, 35, 5), kBlackPixel);
}

TEST(MetafilePlayer, DashedPensAndGradients) {
    EmfBuilder e(60, 20);
    // A geometric pen 4 wide with a user style of 10 on, 10 off.
    ByteSink pen;
    for (std::uint32_t v : {1u, 0u, 0u, 0u, 0u, 0x10207u, 4u, 0u, 0u, 0u, 2u, 10u, 10u}) pen.U32(v);
    e.Raw(kExtCreatePen, pen.bytes).Rec(kSelectObject, {1});
    ByteSink line;
    for (int v : {0, 0, 60, 10}) line.U32(static_cast<std::uint32_t>(v));
    line.U32(2);
    for (int v : {0, 5, 60, 5}) line.U32(static_cast<std::uint32_t>(v));
    e.Raw(kPolyline, line.bytes);
    // A horizontal gradient from black to white over the lower half.
    ByteSink g;
    for (int i = 0; i < 4; ++i) g.U32(0);
    g.U32(2);
    g.U32(1);
    g.U32(0);  // GRADIENT_FILL_RECT_H
    for (std::uint32_t v : {0u, 10u}) g.U32(v);
    for (int i = 0; i < 4; ++i) g.U16(0);
    for (std::uint32_t v : {60u, 20u}) g.U32(v);
    for (std::uint32_t v : {0xFF00u, 0xFF00u, 0xFF00u, 0u}) g.U16(v);
    g.U32(0);
    g.U32(1);
    e.Raw(kGradientFill, g.bytes);
    const Bitmap b = Play(e.Finish());
    EXPECT_EQ(At(b, 5, 5), kBlackPixel);   // in a dash
    EXPECT_EQ(At(b, 15, 5), kWhitePixel);  // in a gap
    EXPECT_EQ(At(b, 25, 5), kBlackPixel);
    EXPECT_LT(At(b, 2, 15).red, 30);
    EXPECT_NEAR(At(b, 30, 15).red, 128, 12);
    EXPECT_GT(At(b, 58, 15).red, 225);
}

// Letter pairs a font may join into one ligature glyph. A text record places every
// character at its own advance, so the word must draw like its characters drawn one record
// each at the same places: a joined "fi" would leave the i's place empty.
const char* const kLigatureWords[] = {"fi", "fl", "ff", "ffi", "Metafile", "five"};

std::u16string Utf16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

TEST(MetafilePlayer, EnhancedTextDrawsEveryCharacterAsItsOwnGlyph) {
    constexpr std::uint32_t kMoveTo = 27;
    for (const std::string word : kLigatureWords) {
        for (const bool withDx : {true, false}) {
            auto start = [&] {
                EmfBuilder e(160, 40);
                e.Raw(kFont, FontBody(1, -24, "DejaVu Sans")).Rec(kSelectObject, {1});
                e.Rec(kSetBkMode, {1}).Rec(kSetTextColor, {0});
                // Baseline; without advances the current position carries the letters on.
                e.Rec(kSetTextAlign, {withDx ? 24 : 25}).Rec(kMoveTo, {8, 30});
                return e;
            };
            EmfBuilder whole = start();
            const std::vector<std::int32_t> dx(word.size(), 17);
            whole.Raw(kTextW,
                      TextBody(8, 30, Utf16(word), withDx ? dx : std::vector<std::int32_t>{}));
            EmfBuilder single = start();
            for (std::size_t i = 0; i < word.size(); ++i) {
                single.Raw(
                    kTextW,
                    TextBody(8 + 17 * static_cast<std::int32_t>(i), 30, Utf16(word.substr(i, 1)),
                             withDx ? std::vector<std::int32_t>{17} : std::vector<std::int32_t>{}));
            }
            const Bitmap a = Play(whole.Finish());
            const Bitmap b = Play(single.Finish());
            EXPECT_GT(DarkPixels(a, 0, 0, 160, 40), 20) << word;
            // Where neighbouring letters overlap, one record blends their edges in one pass
            // and separate records one after the other: a quarter of full ink at most.
            EXPECT_EQ(test::CountDifferences(test::ToRgb(a), test::ToRgb(b), 70), 0)
                << word << (withDx ? " with advances" : " without advances");
        }
    }
}

// An office suite writes a group the font joins (fi, fl, ff, ffi, ffl) as the ligature's
// advance on its first letter and 0 on the others: the word draws as if written with the
// font's ligature character. Zero advances that are no such group keep their letters where
// the advances put them, stacked.
TEST(MetafilePlayer, ZeroAdvancesAfterAJoinedGroupDrawTheLigature) {
    auto start = [] {
        EmfBuilder e(120, 40);
        e.Raw(kFont, FontBody(1, -24, "DejaVu Sans")).Rec(kSelectObject, {1});
        e.Rec(kSetBkMode, {1}).Rec(kSetTextColor, {0}).Rec(kSetTextAlign, {24});
        return e;
    };
    auto drawn = [&](const std::u16string& text, const std::vector<std::int32_t>& dx) {
        EmfBuilder e = start();
        e.Raw(kTextW, TextBody(8, 30, text, dx));
        return test::ToRgb(Play(e.Finish()));
    };
    const std::pair<std::u16string, char16_t> groups[] = {
        {u"fi", 0xFB01}, {u"fl", 0xFB02}, {u"ff", 0xFB00}, {u"ffi", 0xFB03}, {u"ffl", 0xFB04}};
    for (const auto& [group, ligature] : groups) {
        // At 24 pixels the two-letter ligatures are 15 to 17 wide, the three-letter ones 23.
        const std::int32_t width = group.size() == 2 ? 16 : 23;
        std::vector<std::int32_t> dx = {15, width};
        dx.resize(group.size() + 1, 0);
        dx.push_back(14);
        const auto written = drawn(u"o" + group + u"e", dx);
        EXPECT_EQ(test::CountDifferences(
                      written, drawn(u"o" + std::u16string(1, ligature) + u"e", {15, width, 14})),
                  0)
            << std::string(group.begin(), group.end());
    }
    // The f's own advance before the zero, and letters that do not join.
    const std::pair<std::u16string, std::vector<std::int32_t>> overlapping[] = {
        {u"fie", {8, 0, 14}}, {u"foe", {16, 0, 14}}};
    for (const auto& [word, dx] : overlapping) {
        EmfBuilder single = start();
        std::int32_t x = 8;
        for (std::size_t i = 0; i < word.size(); ++i) {
            single.Raw(kTextW, TextBody(x, 30, word.substr(i, 1), {dx[i]}));
            x += dx[i];
        }
        // Letters drawn over each other blend in one pass within a record: a quarter of full
        // ink at most.
        EXPECT_EQ(test::CountDifferences(drawn(word, dx), test::ToRgb(Play(single.Finish())), 70),
                  0)
            << std::string(word.begin(), word.end());
    }
}

std::vector<std::int32_t> WmfFont(std::int16_t height, const char* face) {
    std::vector<std::int32_t> p = {height, 0, 0, 0, 400, 0, 0, 0};  // 8 words before the face
    for (std::size_t i = 0; i < 16; ++i) {
        const auto lo = static_cast<std::uint8_t>(2 * i < std::strlen(face) ? face[2 * i] : 0);
        const auto hi =
            static_cast<std::uint8_t>(2 * i + 1 < std::strlen(face) ? face[2 * i + 1] : 0);
        p.push_back(lo | (hi << 8));
    }
    return p;
}

std::vector<std::uint8_t> WmfExtText(std::int16_t x, std::int16_t y, const std::string& text,
                                     const std::vector<std::int16_t>& dx) {
    ByteSink s;
    s.U16(static_cast<std::uint16_t>(y));
    s.U16(static_cast<std::uint16_t>(x));
    s.U16(static_cast<std::uint16_t>(text.size()));
    s.U16(0);  // options
    for (char c : text) s.U8(static_cast<std::uint8_t>(c));
    if (text.size() % 2) s.U8(0);
    for (std::int16_t d : dx) s.U16(static_cast<std::uint16_t>(d));
    return s.bytes;
}

TEST(MetafilePlayer, WindowsTextDrawsEveryCharacterAsItsOwnGlyph) {
    for (const std::string word : kLigatureWords) {
        for (const bool withDx : {true, false}) {
            auto start = [&] {
                WmfBuilder w(160, 40, 2);
                const auto font = WmfFont(-24, "DejaVu Sans");
                WmfBuilder& r = w;
                ByteSink body;
                for (std::int32_t v : font) body.U16(static_cast<std::uint32_t>(v));
                r.Raw(0x02FB, body.bytes).Rec(0x012D, {0});
                r.Rec(0x0102, {1}).Rec(0x0209, {0, 0});
                r.Rec(0x012E, {withDx ? 24 : 25}).Rec(0x0214, {30, 8});
                return w;
            };
            WmfBuilder whole = start();
            const std::vector<std::int16_t> dx(word.size(), 17);
            whole.Raw(0x0A32, WmfExtText(8, 30, word, withDx ? dx : std::vector<std::int16_t>{}));
            WmfBuilder single = start();
            for (std::size_t i = 0; i < word.size(); ++i) {
                single.Raw(0x0A32,
                           WmfExtText(static_cast<std::int16_t>(8 + 17 * i), 30, word.substr(i, 1),
                                      withDx ? std::vector<std::int16_t>{17}
                                             : std::vector<std::int16_t>{}));
            }
            const Bitmap a = Play(whole.Finish());
            const Bitmap b = Play(single.Finish());
            EXPECT_GT(DarkPixels(a, 0, 0, 160, 40), 20) << word;
            // Where neighbouring letters overlap, one record blends their edges in one pass
            // and separate records one after the other: a quarter of full ink at most.
            EXPECT_EQ(test::CountDifferences(test::ToRgb(a), test::ToRgb(b), 70), 0)
                << word << (withDx ? " with advances" : " without advances");
        }
    }
}

TEST(MetafilePlayer, WindowsMetafileRecordsAndObjectTable) {
    WmfBuilder w(40, 20, 4);
    w.Rec(0x0103, {8}).Rec(0x020C, {20, 40}).Rec(0x020B, {0, 0});  // anisotropic 40 x 20
    w.Rec(0x02FC, {0, kRed & 0xFFFF, kRed >> 16, 0});              // brush red: slot 0
    w.Rec(0x02FC, {0, kGreen & 0xFFFF, kGreen >> 16, 0});          // brush green: slot 1
    w.Rec(0x02FA, {5, 0, 0, 0, 0});                                // null pen: slot 2
    w.Rec(0x012D, {2});
    w.Rec(0x01F0, {0});                                  // slot 0 freed
    w.Rec(0x02FC, {0, kBlue & 0xFFFF, kBlue >> 16, 0});  // blue takes slot 0
    w.Rec(0x012D, {0});
    w.Rec(0x041B, {20, 20, 0, 0});  // rectangle 0,0 - 20,20 (reversed)
    w.Rec(0x012D, {1});
    w.Rec(0x0324, {3, 20, 0, 40, 0, 40, 20});  // polygon, green
    const Bitmap b = Play(w.Finish());
    ASSERT_EQ(b.Width(), 40);
    EXPECT_EQ(At(b, 5, 10), kBluePixel);
    EXPECT_EQ(At(b, 37, 3), kGreenPixel);
    EXPECT_EQ(At(b, 22, 17), kWhitePixel);
}

TEST(MetafilePlayer, WindowsMetafileCarryingAnEnhancedOnePlaysThatOne) {
    EmfBuilder e(30, 30);
    SolidBrush(e, kRed);
    e.Rec(kRectangle, {0, 0, 30, 30});
    const auto emf = e.Finish();
    WmfBuilder w(30, 30, 2);
    // The comment records carry the enhanced metafile in two pieces.
    const std::size_t half = emf.size() / 2;
    for (int piece = 0; piece < 2; ++piece) {
        const std::size_t from = piece ? half : 0, to = piece ? emf.size() : half;
        ByteSink s;
        s.U16(0x000F);  // MFCOMMENT
        s.U16(static_cast<std::uint32_t>(34 + (to - from)));
        for (std::uint32_t v : {0x43464D57u, 1u, 0x10000u}) s.U32(v);
        s.U16(0);  // checksum
        s.U32(0);
        s.U32(2);
        s.U32(static_cast<std::uint32_t>(to - from));
        s.U32(static_cast<std::uint32_t>(emf.size() - to));
        s.U32(static_cast<std::uint32_t>(emf.size()));
        s.bytes.insert(s.bytes.end(), emf.begin() + from, emf.begin() + to);
        w.Raw(0x0626, s.bytes);
    }
    // Its own records draw blue.
    w.Rec(0x02FC, {0, kBlue & 0xFFFF, kBlue >> 16, 0}).Rec(0x012D, {0});
    w.Rec(0x041B, {30, 30, 0, 0});
    auto data = w.Finish();
    EXPECT_EQ(At(Play(data), 15, 15), kRedPixel);
    // With a piece missing the 16-bit records are played.
    auto broken = data;
    broken[22 + 18 + 12] ^= 0xFF;  // first piece's identifier
    EXPECT_EQ(At(Play(broken), 15, 15), kBluePixel);
}

// A DIB of 2 x 2 pixels at 24 bits: blue, green / red, white (top row first).
std::vector<std::uint8_t> StretchDibBody(std::int32_t cx, std::int32_t cy) {
    ByteSink s;
    for (int v : {0, 0, cx - 1, cy - 1}) s.U32(static_cast<std::uint32_t>(v));
    for (int v : {0, 0, 0, 0, 2, 2}) s.U32(static_cast<std::uint32_t>(v));
    s.U32(80);
    s.U32(40);
    s.U32(120);
    s.U32(16);
    s.U32(0);
    s.U32(0x00CC0020);
    s.U32(static_cast<std::uint32_t>(cx));
    s.U32(static_cast<std::uint32_t>(cy));
    for (std::uint32_t v : {40u, 2u, 2u}) s.U32(v);
    s.U16(1);
    s.U16(24);
    for (int i = 0; i < 6; ++i) s.U32(0);
    // Bottom row first: red, white; then blue, green.
    for (int v : {0, 0, 255, 255, 255, 255, 0, 0}) s.U8(static_cast<std::uint8_t>(v));
    for (int v : {255, 0, 0, 0, 255, 0, 0, 0}) s.U8(static_cast<std::uint8_t>(v));
    return s.bytes;
}

TEST(MetafilePlayer, BitmapRecordsAreStretchedOverTheirDestination) {
    EmfBuilder e(20, 20);
    e.Raw(kStretchDiBits, StretchDibBody(20, 20));
    const Bitmap b = Play(e.Finish());
    EXPECT_EQ(At(b, 2, 2), kBluePixel);
    EXPECT_EQ(At(b, 17, 2), kGreenPixel);
    EXPECT_EQ(At(b, 2, 17), kRedPixel);
    EXPECT_EQ(At(b, 17, 17), kWhitePixel);
}

TEST(MetafilePlayer, DamagedEnhancedMetafilesAreRefused) {
    EmfBuilder good(20, 20);
    SolidBrush(good, kRed);
    good.Rec(kRectangle, {0, 0, 10, 10});
    good.Raw(kStretchDiBits, StretchDibBody(10, 10));
    const auto valid = good.Finish();
    Bitmap b;
    ASSERT_TRUE(PlayMetafileIntoBitmap(valid, b));
    // Every shorter file ends inside a record or without the end record.
    for (std::size_t n = 0; n < valid.size(); ++n) {
        const std::vector<std::uint8_t> cut(valid.begin(), valid.begin() + n);
        EXPECT_FALSE(PlayMetafileIntoBitmap(cut, b)) << n;
    }
    // A record whose size runs past the file, or is smaller than its header.
    for (std::uint32_t size : {0xFFFFFFF0u, 4u, 0u}) {
        auto lying = valid;
        test::ByteSink patch;
        lying[108 + 4] = static_cast<std::uint8_t>(size);
        lying[108 + 5] = static_cast<std::uint8_t>(size >> 8);
        lying[108 + 6] = static_cast<std::uint8_t>(size >> 16);
        lying[108 + 7] = static_cast<std::uint8_t>(size >> 24);
        EXPECT_FALSE(PlayMetafileIntoBitmap(lying, b)) << size;
    }
    // Counts and indexes that do not fit.
    auto one = [](auto build) {
        EmfBuilder e(10, 10, 4);
        build(e);
        Bitmap out;
        return PlayMetafileIntoBitmap(e.Finish(), out);
    };
    EXPECT_FALSE(one([](EmfBuilder& e) { e.Rec(kPolyline, {0, 0, 9, 9, 1000000, 1, 1}); }));
    EXPECT_FALSE(one([](EmfBuilder& e) {
        e.Rec(kPolyPolygon, {0, 0, 9, 9, 2, 3, 2, 2, 0, 0, 5, 5, 9, 0});
    }));
    EXPECT_FALSE(one([](EmfBuilder& e) { e.Rec(kSelectObject, {4}); }));
    EXPECT_FALSE(one([](EmfBuilder& e) { e.Rec(kCreateBrush, {0, 0, 0, 0}); }));
    EXPECT_FALSE(one([](EmfBuilder& e) { e.Rec(kCreatePen, {70000, 0, 1, 1, 0}); }));
    EXPECT_TRUE(one([](EmfBuilder& e) { e.Rec(kSelectObject, {3}); }));  // empty slot: ignored
    // A bitmap larger than its record.
    auto big = StretchDibBody(10, 10);
    big[80 - 8 + 4] = 0xE8;  // width 1000
    big[80 - 8 + 5] = 0x03;
    EXPECT_FALSE(one([&](EmfBuilder& e) { e.Raw(kStretchDiBits, big); }));
    auto outside = StretchDibBody(10, 10);
    outside[56 - 8] = 0xFF;  // bits offset beyond the record
    EXPECT_FALSE(one([&](EmfBuilder& e) { e.Raw(kStretchDiBits, outside); }));
    // Deep nesting and stray restores neither crash nor fail.
    EXPECT_TRUE(one([](EmfBuilder& e) {
        for (int i = 0; i < 3000; ++i) e.Rec(kSaveDc, {});
        for (int i = 0; i < 3100; ++i) e.Rec(kRestoreDc, {-1});
        e.Rec(kRestoreDc, {-100000}).Rec(kRestoreDc, {7});
    }));
}

TEST(MetafilePlayer, DamagedWindowsMetafilesAreRefused) {
    auto one = [](auto build, std::uint16_t objects = 2) {
        WmfBuilder w(10, 10, objects);
        build(w);
        Bitmap out;
        return PlayMetafileIntoBitmap(w.Finish(), out);
    };
    EXPECT_TRUE(one([](WmfBuilder& w) { w.Rec(0x0325, {2, 0, 0, 9, 9}); }));
    EXPECT_FALSE(one([](WmfBuilder& w) { w.Rec(0x0325, {200, 0, 0, 9, 9}); }));
    EXPECT_FALSE(one([](WmfBuilder& w) { w.Rec(0x0538, {2, 3, 3, 0, 0, 1, 1, 2, 2}); }));
    EXPECT_FALSE(one([](WmfBuilder& w) { w.Rec(0x012D, {2}); }));
    EXPECT_FALSE(one([](WmfBuilder& w) { w.Rec(0x01F0, {9}); }));
    EXPECT_FALSE(one([](WmfBuilder& w) {
        for (int i = 0; i < 3; ++i) w.Rec(0x02FC, {0, 0, 0, 0});  // a third object in two slots
    }));
    EXPECT_FALSE(one([](WmfBuilder& w) { w.Rec(0x0521, {50, 0x4141}); }));  // text past the record
    const auto valid = WmfBuilder(10, 10).Rec(0x041B, {9, 9, 0, 0}).Finish();
    Bitmap b;
    ASSERT_TRUE(PlayMetafileIntoBitmap(valid, b));
    for (std::size_t n = 22; n < valid.size(); ++n) {
        const std::vector<std::uint8_t> cut(valid.begin(), valid.begin() + n);
        EXPECT_FALSE(PlayMetafileIntoBitmap(cut, b)) << n;
    }
    auto lying = valid;
    lying[22 + 18] = 0xFF;  // first record's size
    lying[22 + 19] = 0xFF;
    EXPECT_FALSE(PlayMetafileIntoBitmap(lying, b));
}

TEST(MetafilePlayer, CostlyPicturesStillEnd) {
    // A line two million pixels long with a dash pattern of a pixel, and a thousand
    // full-picture exclusive-or fills.
    EmfBuilder e(500, 500);
    ByteSink pen;
    for (std::uint32_t v : {1u, 0u, 0u, 0u, 0u, 0x10207u, 1u, 0u, 0u, 0u, 2u, 1u, 1u}) pen.U32(v);
    e.Raw(kExtCreatePen, pen.bytes).Rec(kSelectObject, {1});
    e.Rec(kPolyline, {0, 0, 0, 0, 2, -1000000, 250, 1000000, 250});
    e.Rec(kSetRop2, {7});
    for (int i = 0; i < 1000; ++i) e.Rec(kRectangle, {0, 0, 500, 500});
    Bitmap b;
    EXPECT_TRUE(PlayMetafileIntoBitmap(e.Finish(), b));
    EXPECT_EQ(At(b, 100, 100), kWhitePixel);  // an even number of inversions
}

}  // namespace
}  // namespace ozm
