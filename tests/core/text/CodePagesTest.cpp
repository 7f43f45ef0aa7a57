#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/text/CodePages.h"

namespace ozm {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Code points and byte counts, flattened for comparison.
std::vector<std::uint32_t> Decoded(const std::string& text, std::uint8_t charSet) {
    std::vector<std::uint32_t> out;
    for (const AnsiChar& c : DecodeAnsiText(Bytes(text), charSet)) {
        out.push_back(c.codePoint);
        out.push_back(c.bytes);
    }
    return out;
}

TEST(CodePages, SingleByteSetsMapTheirHighHalf) {
    // Western (and unknown sets): Windows-1252, whose 0x80..0x9F are not Latin-1.
    EXPECT_EQ(Decoded("A\x80\x9F\xE9", 0),
              (std::vector<std::uint32_t>{'A', 1, 0x20AC, 1, 0x178, 1, 0xE9, 1}));
    EXPECT_EQ(Decoded("\x80", 77), (std::vector<std::uint32_t>{0x20AC, 1}));
    // The symbol set keeps the byte: it is the glyph's code.
    EXPECT_EQ(Decoded("\x80\xF0", 2), (std::vector<std::uint32_t>{0x80, 1, 0xF0, 1}));
    // Cyrillic and Greek pages.
    EXPECT_EQ(Decoded("\xC0\xFF", 204), (std::vector<std::uint32_t>{0x410, 1, 0x44F, 1}));
    EXPECT_EQ(Decoded("\xC1", 161), (std::vector<std::uint32_t>{0x391, 1}));
}

TEST(CodePages, DoubleByteSetsTakeTwoBytesAndMarkBrokenOnes) {
    // Shift-JIS: a double-byte hiragana, a single-byte half-width katakana, ASCII.
    EXPECT_EQ(Decoded("\x82\xA0\xB1z", 128),
              (std::vector<std::uint32_t>{0x3042, 2, 0xFF71, 1, 'z', 1}));
    // A lead byte with nothing after it, and one followed by a byte that ends no character.
    EXPECT_EQ(Decoded("a\x82", 128), (std::vector<std::uint32_t>{'a', 1, 0xFFFD, 1}));
    EXPECT_EQ(Decoded("\x82\x20", 128), (std::vector<std::uint32_t>{0xFFFD, 1, ' ', 1}));
    // GBK.
    EXPECT_EQ(Decoded("\xCE\xD2", 134), (std::vector<std::uint32_t>{0x6211, 2}));
}

TEST(CodePages, ConverterTakesWholeTextsOrNothing) {
    TextConverter gbk("UTF-8", "GBK");
    ASSERT_TRUE(gbk.Ok());
    EXPECT_EQ(gbk.Convert("a\xCE\xD2"), "a\xE6\x88\x91");
    EXPECT_EQ(gbk.Convert(""), "");
    EXPECT_EQ(gbk.Convert("\xCE"), std::nullopt);        // incomplete
    EXPECT_EQ(gbk.Convert("\xFF"), std::nullopt);        // invalid
    EXPECT_EQ(gbk.Convert("\xCE\xD2"), "\xE6\x88\x91");  // a failure leaves no state behind
    TextConverter none("UTF-8", "NO-SUCH-SET");
    EXPECT_FALSE(none.Ok());
    EXPECT_EQ(none.Convert("a"), std::nullopt);
}

TEST(CodePages, Utf16PairsJoinAndLoneSurrogatesAreMarked) {
    const std::vector<std::uint16_t> text = {'A', 0xD83D, 0xDE00, 0xDC00, 0x00E9, 0xD800};
    EXPECT_EQ(Utf16ToUtf8(text), "A\xF0\x9F\x98\x80\xEF\xBF\xBD\xC3\xA9\xEF\xBF\xBD");
}

}  // namespace
}  // namespace ozm
