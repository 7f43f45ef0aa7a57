#include <gtest/gtest.h>

#include "core/transforms/TransformArguments.h"

namespace ozm {
namespace {

TEST(TransformArgumentsTest, ResizeAndScaleForms) {
    TransformSettings o;
    EXPECT_FALSE(ApplyResizeArgument("800x600", o));
    EXPECT_EQ(o.resizeMode, ResizeMode::ToSize);
    EXPECT_EQ(o.width, 800);
    EXPECT_EQ(o.height, 600);
    EXPECT_FALSE(o.keepAspect);

    EXPECT_FALSE(ApplyResizeArgument("800x", o));
    EXPECT_EQ(o.width, 800);
    EXPECT_FALSE(o.height);
    EXPECT_TRUE(o.keepAspect);

    EXPECT_FALSE(ApplyResizeArgument("X240", o));
    EXPECT_FALSE(o.width);
    EXPECT_EQ(o.height, 240);
    EXPECT_TRUE(o.keepAspect);

    // Hexadecimal sides, whose prefixes contain the separator letter.
    EXPECT_FALSE(ApplyResizeArgument("0x140x0xF0", o));
    EXPECT_EQ(o.width, 320);
    EXPECT_EQ(o.height, 240);
    EXPECT_FALSE(ApplyResizeArgument("$140X$F0", o));
    EXPECT_EQ(o.width, 320);

    const TransformSettings before = o;
    for (const char* bad : {"", "x", "800", "800*600", "800x600x", "0x10", "800x0", "-5x10",
                            "800 x600", "x0x1", "axb", "99999999999x1"}) {
        TransformSettings t = before;
        EXPECT_TRUE(ApplyResizeArgument(bad, t).has_value()) << bad;
        EXPECT_EQ(t.width, before.width) << bad;
        EXPECT_EQ(t.height, before.height) << bad;
    }

    EXPECT_FALSE(ApplyScaleArgument("50", o));
    EXPECT_EQ(o.resizeMode, ResizeMode::ByPercent);
    EXPECT_EQ(o.percentage, 50);
    EXPECT_FALSE(ApplyScaleArgument("$14", o));
    EXPECT_EQ(o.percentage, 20);
    for (const char* bad : {"", "0", "-50", "50%", "50 ", "1.5"}) {
        EXPECT_TRUE(ApplyScaleArgument(bad, o).has_value()) << bad;
        EXPECT_EQ(o.percentage, 20);
    }
}

TEST(TransformArgumentsTest, RotateDegreesAndHundredths) {
    const struct {
        const char* text;
        int degrees, hundredths;
    } good[] = {{"90", 90, 0}, {"32.5", 32, 50}, {"32.05", 32, 5},    {"32.50", 32, 50},
                {"0", 0, 0},   {"400", 400, 0},  {"359.99", 359, 99}, {"$5A", 90, 0}};
    for (const auto& g : good) {
        TransformSettings o;
        EXPECT_FALSE(ApplyRotateArgument(g.text, o)) << g.text;
        EXPECT_EQ(o.rotateDegrees, g.degrees) << g.text;
        EXPECT_EQ(o.rotateHundredths, g.hundredths) << g.text;
    }
    for (const char* bad : {"", ".5", "32.", "32.123", "32.-5", "32.5 ", "-90", "0.5", "-0.5",
                            "abc", "32,5", "1.2.3"}) {
        TransformSettings o;
        o.rotateDegrees = 7;
        EXPECT_TRUE(ApplyRotateArgument(bad, o).has_value()) << bad;
        EXPECT_EQ(o.rotateDegrees, 7) << bad;
    }
}

}  // namespace
}  // namespace ozm
