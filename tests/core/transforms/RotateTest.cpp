#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/transforms/Rotate.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using test::MakePatternBitmap;

constexpr RgbQuad kFill{255, 0, 0, 0};

// A 24-bit bitmap whose every pixel carries its own position: blue = x, green = y, red = 7.
Bitmap MakeCoordinateBitmap(int width, int height) {
    Bitmap bmp;
    EXPECT_TRUE(bmp.Create(width, height, 24));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = bmp.Row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = 7;
        }
    }
    return bmp;
}

RgbQuad Source(int x, int y) {
    return RgbQuad{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7, 0};
}

Bitmap Rotated(const Bitmap& source, int degrees, int hundredths = 0) {
    Bitmap target;
    EXPECT_TRUE(RotateBitmap(source, target, degrees, hundredths));
    return target;
}

int CountFill(const Bitmap& bmp) {
    int n = 0;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) n += bmp.PixelAt(x, y) == kFill;
    return n;
}

bool ColumnIsFill(const Bitmap& bmp, int x) {
    for (int y = 0; y < bmp.Height(); ++y)
        if (!(bmp.PixelAt(x, y) == kFill)) return false;
    return true;
}

bool RowIsFill(const Bitmap& bmp, int y) {
    for (int x = 0; x < bmp.Width(); ++x)
        if (!(bmp.PixelAt(x, y) == kFill)) return false;
    return true;
}

// --- The rule, transcribed as plainly as possible (slow) -----------------------------------

long double RoundHalfEven(long double v) {
    const long double f = std::floor(v);
    const long double d = v - f;
    if (d > 0.5L) return f + 1;
    if (d < 0.5L) return f;
    return std::fmod(f, 2.0L) == 0 ? f : f + 1;
}

Bitmap ReferenceRotate(const Bitmap& source, int degrees, int hundredths) {
    const long double pi = 3.141592653589793238462643383279502884L;
    const double theta = static_cast<double>(
        -(static_cast<long double>(degrees) + hundredths / 100.0L) * pi / 180.0L);
    const double s = static_cast<double>(std::sin(static_cast<long double>(theta)));
    const double c = static_cast<double>(std::cos(static_cast<long double>(theta)));
    const long long w = source.Width(), h = source.Height();
    const long long nw =
        std::llabs(static_cast<long long>(RoundHalfEven(h * static_cast<long double>(s)))) +
        std::llabs(static_cast<long long>(RoundHalfEven(w * static_cast<long double>(c))));
    const long long nh =
        std::llabs(static_cast<long long>(RoundHalfEven(w * static_cast<long double>(s)))) +
        std::llabs(static_cast<long long>(RoundHalfEven(h * static_cast<long double>(c))));
    const long long iAxis = w / 2, jAxis = h / 2;
    const long long dx = (nw - w) / 2, dy = (nh - h) / 2;
    Bitmap target;
    EXPECT_TRUE(target.Create(static_cast<int>(nw), static_cast<int>(nh), 24));
    for (long long j = nh - 1; j >= 0; --j) {
        const long long jP = 2 * (j - dy - jAxis) + 1;
        for (long long i = nw - 1; i >= 0; --i) {
            const long long iP = 2 * (i - dx - iAxis) + 1;
            const double x = static_cast<double>(iP) * c - static_cast<double>(jP) * s;
            const double y = static_cast<double>(iP) * s + static_cast<double>(jP) * c;
            const long long iR = static_cast<long long>(RoundHalfEven(x));
            const long long jR = static_cast<long long>(RoundHalfEven(y));
            const long long iO = (iR - 1) / 2 + iAxis;
            const long long jO = (jR - 1) / 2 + jAxis;
            std::uint8_t* out = target.Row(static_cast<int>(j)) + 3 * i;
            if (0 <= iO && iO <= w - 1 && 0 <= jO && jO <= h - 1) {
                const std::uint8_t* in = source.Row(static_cast<int>(jO)) + 3 * iO;
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
            } else {
                out[0] = 255;
                out[1] = 0;
                out[2] = 0;
            }
        }
    }
    return target;
}

void ExpectSameAsReference(int width, int height, int degrees, int hundredths) {
    const Bitmap source = MakePatternBitmap(width, height, 24, width * 131 + height);
    Bitmap target;
    ASSERT_TRUE(RotateBitmap(source, target, degrees, hundredths));
    const Bitmap expected = ReferenceRotate(source, degrees, hundredths);
    EXPECT_TRUE(target == expected)
        << width << " x " << height << " at " << degrees << " degrees " << hundredths
        << " hundredths: got " << target.Width() << " x " << target.Height() << ", want "
        << expected.Width() << " x " << expected.Height();
    // Row padding is defined, so that written files never carry stale memory.
    for (int y = 0; y < target.Height(); ++y)
        for (std::size_t p = 3 * static_cast<std::size_t>(target.Width()); p < target.Stride(); ++p)
            ASSERT_EQ(target.Row(y)[p], 0);
}

// --- Tests ---------------------------------------------------------------------------------

TEST(RotateTest, QuarterTurnsOfEvenSidesAreExactPermutations) {
    const Bitmap src = MakeCoordinateBitmap(640, 480);
    const Bitmap r90 = Rotated(src, 90);
    ASSERT_EQ(r90.Width(), 480);
    ASSERT_EQ(r90.Height(), 640);
    const Bitmap r180 = Rotated(src, 180);
    ASSERT_EQ(r180.Width(), 640);
    ASSERT_EQ(r180.Height(), 480);
    const Bitmap r270 = Rotated(src, 270);
    ASSERT_EQ(r270.Width(), 480);
    ASSERT_EQ(r270.Height(), 640);
    // 640 x 480 exceeds the 8-bit coordinates; compare the raw bytes of the mapped positions.
    const auto same = [&](const Bitmap& t, int i, int j, int x, int y) {
        return std::memcmp(t.Row(j) + 3 * i, src.Row(y) + 3 * x, 3) == 0;
    };
    int mismatches = 0;
    for (int j = 0; j < 640; ++j) {
        for (int i = 0; i < 480; ++i) {
            mismatches += !same(r90, i, j, j, 479 - i);
            mismatches += !same(r270, i, j, 639 - j, i);
        }
    }
    for (int j = 0; j < 480; ++j)
        for (int i = 0; i < 640; ++i) mismatches += !same(r180, i, j, 639 - i, 479 - j);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(CountFill(r90), 0);

    const Bitmap small = MakeCoordinateBitmap(4, 2);
    EXPECT_EQ(Rotated(small, 90).PixelAt(0, 0), Source(0, 1));
}

TEST(RotateTest, OddSidesShiftByOnePixelAsTheGridFalls) {
    {  // 5 x 3 at 90: right column fill, row j is source column j from row 1 up to row 0.
        const Bitmap t = Rotated(MakeCoordinateBitmap(5, 3), 90);
        ASSERT_EQ(t.Width(), 3);
        ASSERT_EQ(t.Height(), 5);
        EXPECT_TRUE(ColumnIsFill(t, 2));
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(t.PixelAt(0, j), Source(j, 1));
            EXPECT_EQ(t.PixelAt(1, j), Source(j, 0));
        }
    }
    {  // 5 x 5 at 180.
        const Bitmap t = Rotated(MakeCoordinateBitmap(5, 5), 180);
        ASSERT_EQ(t.Width(), 5);
        EXPECT_TRUE(ColumnIsFill(t, 4));
        EXPECT_TRUE(RowIsFill(t, 4));
        EXPECT_EQ(CountFill(t), 9);
        EXPECT_EQ(t.PixelAt(0, 0), Source(3, 3));
    }
    {  // 5 x 4 at 90: every source pixel exactly once.
        const Bitmap t = Rotated(MakeCoordinateBitmap(5, 4), 90);
        ASSERT_EQ(t.Width(), 4);
        ASSERT_EQ(t.Height(), 5);
        EXPECT_EQ(CountFill(t), 0);
        EXPECT_EQ(t.PixelAt(0, 0), Source(0, 3));
        std::vector<int> uses(20, 0);
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 4; ++i) {
                const RgbQuad q = t.PixelAt(i, j);
                ++uses[q.green * 5 + q.blue];
            }
        EXPECT_EQ(uses, std::vector<int>(20, 1));
    }
    {  // 4 x 5 at 90.
        const Bitmap t = Rotated(MakeCoordinateBitmap(4, 5), 90);
        ASSERT_EQ(t.Width(), 5);
        ASSERT_EQ(t.Height(), 4);
        EXPECT_TRUE(ColumnIsFill(t, 4));
        EXPECT_EQ(CountFill(t), 4);
    }
    {  // 6 x 3 at 90.
        const Bitmap t = Rotated(MakeCoordinateBitmap(6, 3), 90);
        ASSERT_EQ(t.Width(), 3);
        ASSERT_EQ(t.Height(), 6);
        EXPECT_TRUE(RowIsFill(t, 5));
        EXPECT_EQ(CountFill(t), 3);
        EXPECT_EQ(t.PixelAt(0, 0), Source(1, 2));
    }
    {  // 3 x 6 at 90.
        const Bitmap t = Rotated(MakeCoordinateBitmap(3, 6), 90);
        ASSERT_EQ(t.Width(), 6);
        ASSERT_EQ(t.Height(), 3);
        EXPECT_TRUE(RowIsFill(t, 0));
        EXPECT_TRUE(ColumnIsFill(t, 5));
        EXPECT_EQ(CountFill(t), 8);
        EXPECT_EQ(t.PixelAt(0, 1), Source(0, 4));
    }
    {  // A full turn gives the source back, odd sides included.
        const Bitmap src = MakeCoordinateBitmap(5, 3);
        EXPECT_TRUE(Rotated(src, 360) == src);
    }
}

TEST(RotateTest, TargetSizesAndTinyImages) {
    const Bitmap one = MakeCoordinateBitmap(1, 1);
    for (int degrees : {90, 180}) {
        const Bitmap t = Rotated(one, degrees);
        ASSERT_EQ(t.Width(), 1);
        ASSERT_EQ(t.Height(), 1);
        EXPECT_EQ(t.PixelAt(0, 0), kFill);
    }
    const Bitmap t45 = Rotated(one, 45);
    ASSERT_EQ(t45.Width(), 2);
    ASSERT_EQ(t45.Height(), 2);
    EXPECT_EQ(CountFill(t45), 3);

    const Bitmap two = Rotated(MakeCoordinateBitmap(2, 2), 45);
    EXPECT_EQ(two.Width(), 2);
    EXPECT_EQ(two.Height(), 2);
    EXPECT_EQ(CountFill(two), 0);

    struct Case {
        int w, h, degrees, hundredths, nw, nh;
    };
    for (const Case& c : {Case{100, 50, 30, 0, 112, 93}, Case{100, 50, 45, 0, 106, 106},
                          Case{100, 100, 1, 50, 103, 103}, Case{100, 100, 0, 50, 101, 101},
                          Case{100, 50, 30, 250, 111, 96}}) {
        const RotatedSize size =
            ComputeRotatedSize(c.w, c.h, ComputeRotationAngle(c.degrees, c.hundredths));
        EXPECT_EQ(size.width, c.nw)
            << c.w << "x" << c.h << " at " << c.degrees << "." << c.hundredths;
        EXPECT_EQ(size.height, c.nh)
            << c.w << "x" << c.h << " at " << c.degrees << "." << c.hundredths;
    }
    // 30 degrees and 250 hundredths is 32.5 degrees.
    EXPECT_TRUE(Rotated(MakeCoordinateBitmap(9, 4), 30, 250) ==
                Rotated(MakeCoordinateBitmap(9, 4), 32, 50));
    // A stored 400 degrees turns by 400, which comes out as 40.
    const Bitmap r400 = Rotated(MakeCoordinateBitmap(90, 40), 400);
    const Bitmap r40 = Rotated(MakeCoordinateBitmap(90, 40), 40);
    EXPECT_EQ(r400.Width(), r40.Width());
    EXPECT_EQ(r400.Height(), r40.Height());
}

TEST(RotateTest, WorkBitmapStepAngleRulesDepthAndFailure) {
    const Bitmap grey = MakePatternBitmap(100, 100, 8, 3);
    TransformSettings options;
    options.rotateDegrees = 0;
    options.rotateHundredths = 50;
    Bitmap work = grey;
    RotateWorkBitmap(work, options);
    EXPECT_TRUE(work == grey);  // not even brought to 24 bits
    options.rotateDegrees = -90;
    RotateWorkBitmap(work, options);
    EXPECT_TRUE(work == grey);

    // A palette image is turned as its 24-bit colours.
    options.rotateDegrees = 90;
    options.rotateHundredths = 0;
    RotateWorkBitmap(work, options);
    Bitmap grey24;
    ASSERT_TRUE(ConvertTo24(grey, grey24));
    EXPECT_EQ(work.BitCount(), 24);
    EXPECT_TRUE(work == Rotated(grey24, 90));

    // One progress step per target row; pending work never runs mid-rotation.
    struct Counter : TransformHost {
        int steps = 0, pending = 0;
        void StepProgress() override { ++steps; }
        void ProcessPendingWork() override { ++pending; }
    } host;
    Bitmap t;
    ASSERT_TRUE(RotateBitmap(MakeCoordinateBitmap(100, 50), t, 30, 0, host));
    EXPECT_EQ(host.steps, 93);
    EXPECT_EQ(host.pending, 0);

    // A target above the image size limit (about 21214 x 21214) cannot be made: the image
    // stays as it was and the step carries on.
    const Bitmap line = MakePatternBitmap(30000, 1, 24, 5);
    work = line;
    options.rotateDegrees = 45;
    RotateWorkBitmap(work, options);
    EXPECT_TRUE(work == line);
    EXPECT_FALSE(RotateBitmap(line, t, 45, 0));
    EXPECT_TRUE(t.Empty());
    EXPECT_FALSE(RotateBitmap(Bitmap{}, t, 45, 0));
}

TEST(RotateTest, MatchesThePlainRuleOnEverySizeParityAndManyAngles) {
    // Quarter turns (and their multiples, hundredths included) on every parity of width,
    // height and width - height; these take the fast path.
    for (int w = 1; w <= 9; ++w)
        for (int h = 1; h <= 9; ++h)
            for (auto [d, hh] : {std::pair{90, 0},
                                 {180, 0},
                                 {270, 0},
                                 {360, 0},
                                 {450, 0},
                                 {89, 100},
                                 {1, 8900},
                                 {720 + 270, 0},
                                 {1800000090, 0}})
                ExpectSameAsReference(w, h, d, hh);
    // Wider than a column block and taller than a band.
    for (auto [w, h] : {std::pair{300, 40}, {41, 301}, {257, 17}})
        for (int d : {90, 180, 270, 360, 30, 1}) ExpectSameAsReference(w, h, d, 0);
    // Large enough for the work to be shared by two threads: the same pixels as on one.
    for (int d : {30, 90, 181}) {
        ExpectSameAsReference(1203, 1001, d, 0);
        struct OneThread : TransformHost {
            int TransformThreads() const override { return 1; }
        } one;
        const Bitmap src = MakePatternBitmap(1203, 1001, 24, 11);
        Bitmap a, b;
        ASSERT_TRUE(RotateBitmap(src, a, d, 0, one));
        ASSERT_TRUE(RotateBitmap(src, b, d, 0));
        EXPECT_TRUE(a == b);
    }
    // Every whole degree on a few odd and even sizes.
    for (int d = 1; d <= 360; ++d) {
        ExpectSameAsReference(23, 14, d, 0);
        ExpectSameAsReference(20, 31, d, 0);
    }
    // Hundredth steps around 45 degrees and around the quarter turns.
    for (int hh = -60; hh <= 60; ++hh) {
        ExpectSameAsReference(33, 17, 45, hh);
        ExpectSameAsReference(16, 16, 45, hh);
    }
    for (int d : {90, 180, 270, 360})
        for (int hh : {-3, -2, -1, 1, 2, 3}) ExpectSameAsReference(37, 22, d, hh);
    // Odd and even sizes at angles whose rounded products sit near halves.
    for (int w = 1; w <= 12; ++w)
        for (int h = 1; h <= 12; ++h)
            for (auto [d, hh] : {std::pair{30, 0}, {45, 0}, {60, 0}, {135, 0}, {1, 50}, {359, 99}})
                ExpectSameAsReference(w, h, d, hh);
}

}  // namespace
}  // namespace ozm
