#include <gtest/gtest.h>

#include <string>

#include "core/text/TextRules.h"

namespace ozm {
namespace {

TEST(TextRulesTest, WholeNumbersInDecimalAndHexadecimal) {
    const struct {
        const char* text;
        std::int32_t value;
    } good[] = {
        {"0", 0},
        {"42", 42},
        {"+42", 42},
        {"-42", -42},
        {"  7", 7},
        {" -0", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$14", 20},
        {"$ff", 255},
        {"$FF", 255},
        {"x1a", 26},
        {"X1A", 26},
        {"0x10", 16},
        {"0X10", 16},
        {"-$10", -16},
        {"+0x7fffffff", INT32_MAX},
        {" $0", 0},
        {"00000000000000000001", 1},
        // Hexadecimal may use all 32 bits, as typed masks do.
        {"$FFFFFFFF", -1},
        {"0x80000000", INT32_MIN},
        {"-$80000000", INT32_MIN},
        {"$00000000FFFFFFFF", -1},
    };
    for (const auto& g : good) {
        const auto v = ParseWholeNumber(g.text);
        ASSERT_TRUE(v.has_value()) << '"' << g.text << '"';
        EXPECT_EQ(*v, g.value) << '"' << g.text << '"';
    }
}

TEST(TextRulesTest, AnythingElseIsNotAWholeNumber) {
    for (const char* text :
         {"",           " ",           "+",           "-",          "$",
          "x",          "0x",          "-0x",         "20 ",        "1 2",
          "1.5",        "1e3",         "Auto",        "自动调整",   "\t5",
          "5\n",        "--5",         "+-5",         "- 5",        "$-5",
          "0x-5",       "$g",          "0xx1",        "00x1",       "12a",
          "a12",        "2147483648",  "-2147483649", "4294967295", "99999999999999999999",
          "$100000000", "0x1FFFFFFFF", "$$1",         "0$1",        "1x",
          "x",          "１２"}) {
        EXPECT_FALSE(ParseWholeNumber(text).has_value()) << '"' << text << '"';
    }
    // A NUL inside the text is not the end of it.
    EXPECT_FALSE(ParseWholeNumber(std::string("12\0", 3)).has_value());
    EXPECT_FALSE(ParseWholeNumber(std::string_view{}).has_value());
}

TEST(TextRulesTest, Utf8OfEachLengthAndReplacement) {
    std::string out;
    for (std::uint32_t cp : {0x41u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu,
                             0xD800u, 0xDFFFu, 0x110000u}) {
        AppendUtf8(out, cp);
    }
    EXPECT_EQ(out,
              "A\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80"
              "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace ozm
