#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/text/TextRules.h"
#include "core/transforms/Resize.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using test::MakePatternBitmap;

// Blue = x, green = y: every pixel tells where it came from (sides up to 256).
Bitmap MakeCoordinateBitmap(int width, int height) {
    Bitmap bmp;
    EXPECT_TRUE(bmp.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = bmp.Row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = 0;
        }
    return bmp;
}

TransformSettings ToSize(const char* width, const char* height, bool keepAspect) {
    TransformSettings o;
    o.resizeMode = ResizeMode::ToSize;
    o.width = ParseWholeNumber(width);
    o.height = ParseWholeNumber(height);
    o.keepAspect = keepAspect;
    return o;
}

TransformSettings ByPercent(const char* percent) {
    TransformSettings o;
    o.resizeMode = ResizeMode::ByPercent;
    o.percentage = ParseWholeNumber(percent);
    return o;
}

struct Counter : TransformHost {
    int steps = 0, pending = 0;
    void StepProgress() override { ++steps; }
    void ProcessPendingWork() override { ++pending; }
};

TEST(ResizeTest, TargetSizeForEveryMode) {
    const auto target = [](int w, int h, const TransformSettings& o) {
        return ComputeResizeTarget(w, h, o);
    };
    const ResizeTarget none{};
    EXPECT_EQ(target(640, 480, TransformSettings{}), none);
    TransformSettings odd;
    odd.resizeMode = static_cast<ResizeMode>(3);
    EXPECT_EQ(target(640, 480, odd), none);

    // Keeping the aspect: the width wins, products exact, divisions truncate.
    EXPECT_EQ(target(1024, 768, ToSize("800", "600", true)), (ResizeTarget{true, 800, 600}));
    EXPECT_EQ(target(1000, 333, ToSize("500", "Auto", true)), (ResizeTarget{true, 500, 166}));
    EXPECT_EQ(target(640, 480, ToSize("Auto", "240", true)), (ResizeTarget{true, 320, 240}));
    EXPECT_EQ(target(640, 480, ToSize("自动调整", "", true)), (ResizeTarget{true, 640, 480}));
    EXPECT_EQ(target(640, 480, ToSize("-64", "", true)), (ResizeTarget{true, -64, -48}));
    EXPECT_EQ(target(1000, 1, ToSize("10", "", true)), (ResizeTarget{true, 10, 0}));
    // 70000 x 61440 would wrap in 32 bits and give a plausible but wrong height.
    EXPECT_EQ(target(60000, 61440, ToSize("70000", "", true)), (ResizeTarget{true, 70000, 71680}));
    EXPECT_EQ(target(0, 480, ToSize("100", "", true)), (ResizeTarget{true, 100, 0}));
    EXPECT_EQ(target(640, 0, ToSize("", "100", true)), (ResizeTarget{true, 0, 100}));

    // Without the aspect both entries are needed.
    EXPECT_EQ(target(640, 480, ToSize("800", "Auto", false)), (ResizeTarget{true, 640, 480}));
    EXPECT_EQ(target(640, 480, ToSize("800", "$258", false)), (ResizeTarget{true, 800, 600}));
    EXPECT_EQ(target(640, 480, ToSize("0", "10", false)), (ResizeTarget{true, 0, 10}));

    // Percentages: 100 means no resample, anything else truncates, no number keeps the size.
    EXPECT_EQ(target(640, 480, ByPercent("100")), none);
    EXPECT_EQ(target(640, 480, ByPercent("0x64")), none);
    EXPECT_EQ(target(101, 51, ByPercent(" 50")), (ResizeTarget{true, 50, 25}));
    EXPECT_EQ(target(100, 50, ByPercent("$14")), (ResizeTarget{true, 20, 10}));
    EXPECT_EQ(target(100, 50, ByPercent("20 ")), (ResizeTarget{true, 100, 50}));
    EXPECT_EQ(target(3, 1, ByPercent("150")), (ResizeTarget{true, 4, 1}));
    EXPECT_EQ(target(3, 1, ByPercent("-150")), (ResizeTarget{true, -4, -1}));
    EXPECT_EQ(target(50000, 1, ByPercent("90000")), (ResizeTarget{true, 45000000, 900}));
}

TEST(ResizeTest, WorkBitmapIsReplacedOrLeftExactlyAsRead) {
    const Bitmap grey = MakePatternBitmap(101, 51, 8, 9);
    Bitmap grey24;
    ASSERT_TRUE(ConvertTo24(grey, grey24));

    {  // Mode 0: untouched, no progress at all.
        Bitmap work = grey;
        Counter host;
        EXPECT_FALSE(ResizeWorkBitmap(work, TransformSettings{}, host));
        EXPECT_TRUE(work == grey);
        EXPECT_EQ(host.steps, 0);
        EXPECT_EQ(host.pending, 0);
    }
    {  // 100 percent: untouched, three steps.
        Bitmap work = grey;
        Counter host;
        EXPECT_FALSE(ResizeWorkBitmap(work, ByPercent("100"), host));
        EXPECT_TRUE(work == grey);
        EXPECT_EQ(host.steps, 3);
        EXPECT_EQ(host.pending, 3);
    }
    {  // A word as percentage: resampled at its own size, same colours, now 24 bits.
        Bitmap work = grey;
        Counter host;
        EXPECT_TRUE(ResizeWorkBitmap(work, ByPercent("Auto"), host));
        EXPECT_TRUE(work == grey24);
        EXPECT_EQ(host.steps, 6);
        EXPECT_EQ(host.pending, 5);
    }
    {  // " 50": 50 x 25.
        Bitmap work = grey;
        EXPECT_TRUE(ResizeWorkBitmap(work, ByPercent(" 50")));
        EXPECT_EQ(work.Width(), 50);
        EXPECT_EQ(work.Height(), 25);
        EXPECT_EQ(work.BitCount(), 24);
    }
    // Refused targets leave the image as read: a side below 1 (typed, truncated, or derived
    // from a very thin image), a source side of 0, a target above the size limit.
    for (const TransformSettings& o :
         {ToSize("0", "10", false), ToSize("-5", "", true), ByPercent("1"), ByPercent("-50"),
          ToSize("100000", "100000", false), ToSize("2000000000", "", true)}) {
        Bitmap work = grey;
        Counter host;
        EXPECT_FALSE(ResizeWorkBitmap(work, o, host));
        EXPECT_TRUE(work == grey);
        EXPECT_EQ(host.steps, 3);
    }
    {
        const Bitmap thin = MakePatternBitmap(1000, 1, 24, 2);
        Bitmap work = thin;
        EXPECT_FALSE(ResizeWorkBitmap(work, ToSize("10", "", true)));
        EXPECT_TRUE(work == thin);
    }
    for (const TransformSettings& o :
         {ToSize("100", "", true), ToSize("", "100", true), ByPercent("50")}) {
        Bitmap empty;
        ASSERT_TRUE(empty.Create(0, 5, 24));
        EXPECT_FALSE(ResizeWorkBitmap(empty, o));
        EXPECT_EQ(empty.Width(), 0);
        EXPECT_EQ(empty.Height(), 5);
    }
}

// Number of target columns (rows) that take each source column (row).
std::vector<int> ColumnUses(const Bitmap& t, int sourceWidth) {
    std::vector<int> uses(sourceWidth, 0);
    for (int x = 0; x < t.Width(); ++x) ++uses[t.PixelAt(x, 0).blue];
    return uses;
}

std::vector<int> RowUses(const Bitmap& t, int sourceHeight) {
    std::vector<int> uses(sourceHeight, 0);
    for (int y = 0; y < t.Height(); ++y) ++uses[t.PixelAt(0, y).green];
    return uses;
}

TEST(ResizeTest, PointSamplingTakesWholePixelsSpreadEvenly) {
    const Bitmap src = MakeCoordinateBitmap(200, 120);
    Bitmap t;
    ASSERT_TRUE(PointSampleTo24(src, t, 200, 120));
    EXPECT_TRUE(t == src);

    ASSERT_TRUE(PointSampleTo24(src, t, 400, 240));
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 400; ++x) ASSERT_EQ(t.PixelAt(x, y), src.PixelAt(x / 2, y / 2));

    ASSERT_TRUE(PointSampleTo24(src, t, 100, 60));
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(t.PixelAt(x, y), src.PixelAt(2 * x + 1, 2 * y + 1));

    // Any ratio: every target pixel is one source pixel, in order; when enlarging every source
    // column is used floor or ceil of the ratio times, when shrinking the kept ones are spread
    // with gaps differing by at most one.
    for (int w : {1, 2, 3, 7, 13, 64, 199, 200, 201, 255, 256, 333, 1000}) {
        for (int h : {1, 5, 119, 121, 480}) {
            ASSERT_TRUE(PointSampleTo24(src, t, w, h));
            ASSERT_EQ(t.BitCount(), 24);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const RgbQuad q = t.PixelAt(x, y);
                    ASSERT_EQ(q, src.PixelAt(t.PixelAt(x, 0).blue, t.PixelAt(0, y).green));
                }
            for (auto [uses, target] : {std::pair{ColumnUses(t, 200), w}, {RowUses(t, 120), h}}) {
                const int source = static_cast<int>(uses.size());
                if (target >= source) {
                    const int lo = target / source;
                    for (int u : uses) EXPECT_TRUE(u == lo || u == lo + 1) << w << "x" << h;
                } else {
                    std::vector<int> kept;
                    for (int i = 0; i < source; ++i) {
                        EXPECT_LE(uses[i], 1);
                        if (uses[i]) kept.push_back(i);
                    }
                    ASSERT_EQ(static_cast<int>(kept.size()), target);
                    // Gaps between kept neighbours, and the margins at both ends.
                    std::vector<int> gaps;
                    for (std::size_t k = 1; k < kept.size(); ++k)
                        gaps.push_back(kept[k] - kept[k - 1]);
                    if (!gaps.empty()) {
                        const auto [mn, mx] = std::minmax_element(gaps.begin(), gaps.end());
                        EXPECT_LE(*mx - *mn, 1) << w << "x" << h;
                        EXPECT_LE(kept.front(), *mx) << w << "x" << h;
                        EXPECT_LE(source - 1 - kept.back(), *mx) << w << "x" << h;
                    }
                }
            }
        }
    }
    EXPECT_FALSE(PointSampleTo24(src, t, 0, 5));
    EXPECT_FALSE(PointSampleTo24(src, t, 5, -1));
    EXPECT_TRUE(t.Empty());
}

TEST(ResizeTest, EveryReaderDepthComesOutAsItsColoursIn24Bits) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        for (int width : {1, 3, 4, 13, 33}) {
            Bitmap src = MakePatternBitmap(width, 5, bits, width + bits);
            if (bits == 8) src.Palette().resize(100);  // short palette: high indexes read black
            Bitmap out;
            ASSERT_TRUE(ConvertTo24(src, out));
            ASSERT_EQ(out.BitCount(), 24);
            for (int y = 0; y < 5; ++y) {
                for (int x = 0; x < width; ++x)
                    ASSERT_EQ(out.PixelAt(x, y), src.PixelAt(x, y)) << bits;
                for (std::size_t p = 3 * width; p < out.Stride(); ++p) ASSERT_EQ(out.Row(y)[p], 0);
            }
        }
        Bitmap empty;
        ASSERT_TRUE(empty.Create(0, 7, bits));
        Bitmap out;
        EXPECT_TRUE(ConvertTo24(empty, out));
        EXPECT_EQ(out.Height(), 7);
        EXPECT_TRUE(ConvertTo24InPlace(empty));
        EXPECT_EQ(empty.BitCount(), 24);
    }
}

}  // namespace
}  // namespace ozm
