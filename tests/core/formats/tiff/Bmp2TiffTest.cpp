#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/formats/ImgConvertUnit.h"
#include "core/formats/tiff/Bmp2Tiff.h"
#include "core/formats/tiff/LibtiffDecode.h"
#include "support/TestSupport.h"

namespace ozm::test {
namespace {

struct Entry {
    unsigned tag, type;
    std::uint32_t count, value;
    friend bool operator==(const Entry&, const Entry&) = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << "{" << e.tag << ", " << e.type << ", " << e.count << ", " << e.value << "}";
}

unsigned U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return U16(b, at) | (std::uint32_t{U16(b, at + 2)} << 16);
}

// The directory that the header points to, entries as written; the next-directory offset
// must be 0 and end the file.
std::vector<Entry> Directory(const std::vector<std::uint8_t>& file) {
    std::vector<Entry> entries;
    const std::uint32_t at = U32(file, 4);
    const unsigned count = U16(file, at);
    EXPECT_EQ(at + 2 + 12 * count + 4, file.size());
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t e = at + 2 + 12 * i;
        entries.push_back({U16(file, e), U16(file, e + 2), U32(file, e + 4), U32(file, e + 8)});
    }
    EXPECT_EQ(U32(file, at + 2 + 12 * count), 0u);
    return entries;
}

std::vector<std::uint8_t> WriteToBytes(const Bitmap& bitmap) {
    ScratchDir dir;
    EXPECT_TRUE(WriteImageFile(bitmap, dir / "out.tif", FormatCode::Tiff));
    return ReadAll(dir / "out.tif");
}

// The Software text with its terminating NUL, which the count includes.
const std::string kSoftware("Vandertool\0", 11);
constexpr unsigned kAscii = 2, kShort = 3, kLong = 4, kRational = 5;

void ExpectResolutionsAndSoftware(const std::vector<std::uint8_t>& file, std::uint32_t x,
                                  std::uint32_t y, std::uint32_t software) {
    EXPECT_EQ(U32(file, x), 877u);
    EXPECT_EQ(U32(file, x + 4), 10u);
    EXPECT_EQ(U32(file, y), 877u);
    EXPECT_EQ(U32(file, y + 4), 10u);
    EXPECT_EQ(std::string(file.begin() + software, file.begin() + software + 11), kSoftware);
}

TEST(Bmp2Tiff, WritesRgbByteForByte) {
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.Create(3, 2, 24));
    for (int y = 0; y < 2; ++y) {
        for (int i = 0; i < 9; ++i) bitmap.Row(y)[i] = static_cast<std::uint8_t>(10 * y + i);
    }
    const auto file = WriteToBytes(bitmap);
    // The Software text's NUL moves the strip from 40 to 41 and the directory from 58 to 59.
    ASSERT_EQ(file.size(), 245u);
    const std::vector<std::uint8_t> head = {'I',  'I', 42, 0, 59, 0, 0, 0,  // directory at 59
                                            0x6D, 3,   0,  0, 10, 0, 0, 0,  // 877 / 10
                                            0x6D, 3,   0,  0, 10, 0, 0, 0,  //
                                            8,    0,   8,  0, 8,  0};       // BitsPerSample
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 30), head);
    ExpectResolutionsAndSoftware(file, 8, 16, 30);
    // The top row first, red, green, blue.
    const std::vector<std::uint8_t> strip = {2,  1,  0,  5,  4,  3,  8,  7,  6,
                                             12, 11, 10, 15, 14, 13, 18, 17, 16};
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 41, file.begin() + 59), strip);
    const std::vector<Entry> expected = {
        {254, kLong, 1, 0},  {256, kShort, 1, 3}, {257, kShort, 1, 2},    {258, kShort, 3, 24},
        {259, kShort, 1, 1}, {262, kShort, 1, 2}, {273, kLong, 1, 41},    {277, kShort, 1, 3},
        {278, kLong, 1, 2},  {279, kLong, 1, 18}, {282, kRational, 1, 8}, {283, kRational, 1, 16},
        {284, kShort, 1, 1}, {296, kShort, 1, 2}, {305, kAscii, 11, 30},
    };
    EXPECT_EQ(Directory(file), expected);

    // 32 bits: the fourth byte is dropped and the file is the same.
    Bitmap wide;
    ASSERT_TRUE(wide.Create(3, 2, 32));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            for (int c = 0; c < 3; ++c) wide.Row(y)[4 * x + c] = bitmap.Row(y)[3 * x + c];
            wide.Row(y)[4 * x + 3] = 0xEE;
        }
    }
    EXPECT_EQ(WriteToBytes(wide), file);

    // No padding is added: with the strip at 41, an odd number of pixels puts the directory
    // at an even offset and an even number at an odd one.
    Bitmap odd = MakePatternBitmap(3, 1, 24);
    const auto oddFile = WriteToBytes(odd);
    EXPECT_EQ(oddFile.size(), 227u + 9);
    EXPECT_EQ(U32(oddFile, 4), 50u);
    const auto evenFile = WriteToBytes(MakePatternBitmap(2, 1, 24));
    EXPECT_EQ(evenFile.size(), 227u + 6);
    EXPECT_EQ(U32(evenFile, 4), 47u);
}

TEST(Bmp2Tiff, WritesBilevelAndPaletteLayouts) {
    {  // 1 bit, 9 pixels wide: 2 bytes per row, strip at 8, resolutions right after it.
        Bitmap bitmap;
        ASSERT_TRUE(bitmap.Create(9, 3, 1));
        bitmap.Palette() = {{0, 0, 0, 0}, {255, 255, 255, 0}};
        bitmap.Row(0)[0] = 0x80;
        bitmap.Row(0)[1] = 0xFF;  // only the first bit of this byte is a pixel
        bitmap.Row(2)[1] = 0x80;
        const auto file = WriteToBytes(bitmap);
        // The Software text's NUL puts the directory at 41, not 40.
        ASSERT_EQ(file.size(), 209u + 3 * 2);
        EXPECT_EQ(U32(file, 4), 41u);
        EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 8, file.begin() + 14),
                  (std::vector<std::uint8_t>{0x80, 0x80, 0, 0, 0, 0x80}));
        ExpectResolutionsAndSoftware(file, 14, 22, 30);
        const std::vector<Entry> expected = {
            {254, kLong, 1, 0},  {256, kShort, 1, 9},     {257, kShort, 1, 3},
            {258, kShort, 1, 1}, {259, kShort, 1, 1},     {262, kShort, 1, 1},
            {273, kLong, 1, 8},  {277, kShort, 1, 1},     {278, kLong, 1, 3},
            {279, kLong, 1, 6},  {282, kRational, 1, 14}, {283, kRational, 1, 22},
            {296, kShort, 1, 2}, {305, kAscii, 11, 30},
        };
        EXPECT_EQ(Directory(file), expected);
    }
    {  // 4 bits, 10 pixels wide: all 10 columns, 5 bytes per row; colour map of 16 x 3. The
       // strip follows the Software text and its NUL.
        Bitmap bitmap = MakePatternBitmap(10, 2, 4);
        bitmap.Palette()[15] = RgbQuad{3, 2, 255, 0};
        const auto file = WriteToBytes(bitmap);
        ASSERT_EQ(file.size(), 317u + 2 * 5);
        const std::uint32_t strip = 8 + 96 + 16 + 11;
        EXPECT_EQ(U16(file, 8 + 2 * 15), 65280u);
        EXPECT_EQ(U16(file, 8 + 2 * (16 + 15)), 0x200u);
        EXPECT_EQ(U16(file, 8 + 2 * (32 + 15)), 0x300u);
        ExpectResolutionsAndSoftware(file, 104, 112, 120);
        for (int y = 0; y < 2; ++y) {
            EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + strip + 5 * y,
                                                file.begin() + strip + 5 * y + 5),
                      std::vector<std::uint8_t>(bitmap.Row(y), bitmap.Row(y) + 5));
        }
        const std::vector<Entry> expected = {
            {254, kLong, 1, 0},     {256, kShort, 1, 10},     {257, kShort, 1, 2},
            {258, kShort, 1, 4},    {259, kShort, 1, 1},      {262, kShort, 1, 3},
            {273, kLong, 1, strip}, {277, kShort, 1, 1},      {278, kLong, 1, 2},
            {279, kLong, 1, 10},    {282, kRational, 1, 104}, {283, kRational, 1, 112},
            {296, kShort, 1, 2},    {305, kAscii, 11, 120},   {320, kShort, 48, 8},
        };
        EXPECT_EQ(Directory(file), expected);
    }
    {  // 8 bits: 768 colour-map values; full red is 65280.
        Bitmap bitmap = MakePatternBitmap(5, 2, 8);
        bitmap.Palette()[0] = RgbQuad{0, 0, 255, 0};
        const auto file = WriteToBytes(bitmap);
        ASSERT_EQ(file.size(), 1757u + 2 * 5);
        EXPECT_EQ(U16(file, 8), 65280u);
        const auto dir = Directory(file);
        ASSERT_EQ(dir.size(), 15u);
        EXPECT_EQ(dir[1], (Entry{256, kShort, 1, 5}));
        EXPECT_EQ(dir[3], (Entry{258, kShort, 1, 8}));
        EXPECT_EQ(dir[6], (Entry{273, kLong, 1, 8 + 1536 + 27}));
        EXPECT_EQ(dir[14], (Entry{320, kShort, 768, 8}));
    }
}

TEST(Bmp2Tiff, EmptyHugeAndUnusualBitmaps) {
    ScratchDir dir;
    EXPECT_TRUE(WriteImageFile(Bitmap(), dir / "empty.tif", FormatCode::Tiff));
    EXPECT_TRUE(std::filesystem::exists(dir / "empty.tif"));
    EXPECT_EQ(std::filesystem::file_size(dir / "empty.tif"), 0u);

    Bitmap wide;
    ASSERT_TRUE(wide.Create(65536, 1, 24));
    EXPECT_FALSE(WriteImageFile(wide, dir / "wide.tif", FormatCode::Tiff));
    EXPECT_FALSE(std::filesystem::exists(dir / "wide.tif"));

    // 16 bits become RGB.
    const Bitmap bits16 = MakePatternBitmap(7, 3, 16);
    const auto file16 = WriteToBytes(bits16);
    EXPECT_EQ(file16.size(), 227u + 7 * 3 * 3);
    Bitmap back;
    WriteAll(dir / "16.tif", file16);
    ASSERT_TRUE(ReadImageFile(dir / "16.tif", back));
    EXPECT_EQ(CountDifferences(ToRgb(back), ToRgb(bits16)), 0);

    // Colours a bilevel file cannot hold go into an 8-bit palette file with nothing lost.
    {
        const Bitmap bitmap = MakePatternBitmap(11, 2, 1);
        const auto file = WriteToBytes(bitmap);
        EXPECT_EQ(file.size(), 1757u + bitmap.Width() * 2);
        WriteAll(dir / "p.tif", file);
        ASSERT_TRUE(ReadImageFile(dir / "p.tif", back));
        EXPECT_EQ(back.BitCount(), 8);
        EXPECT_EQ(CountDifferences(ToRgb(back), ToRgb(bitmap)), 0);
    }
    // A 4-bit bitmap keeps its depth at any width: 3 pixels are 2 bytes per row.
    {
        const Bitmap bitmap = MakePatternBitmap(3, 2, 4);
        const auto file = WriteToBytes(bitmap);
        EXPECT_EQ(file.size(), 317u + 2 * 2);
        WriteAll(dir / "p.tif", file);
        ASSERT_TRUE(ReadImageFile(dir / "p.tif", back));
        EXPECT_EQ(back.BitCount(), 4);
        EXPECT_EQ(CountDifferences(ToRgb(back), ToRgb(bitmap)), 0);
    }
}

// tiffinfo finds nothing to complain about and libtiff reads the file's pixels as
// `expected` (it scales the colour map's 65280 to 254, hence the tolerance).
void ExpectLibtiffReads(const std::filesystem::path& path, const RgbImage& expected) {
    EXPECT_EQ(TiffinfoComplaints(path), "");
    std::string why;
    const auto libtiff = DecodeWithLibtiff(path, 0, why);
    ASSERT_TRUE(libtiff) << why;
    EXPECT_EQ(libtiff->width, expected.width);
    EXPECT_EQ(CountDifferences(*libtiff, expected, 1), 0);
}

TEST(Bmp2Tiff, RoundTripsAndLibtiffReadsTheSamePixels) {
    std::string why;
    const bool haveLibtiff = HaveLibtiffTools(why);
    ScratchDir dir;
    for (int bitCount : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bitCount);
        Bitmap bitmap = MakePatternBitmap(bitCount == 4 ? 36 : 37, 23, bitCount, 5);
        if (bitCount == 1) bitmap.Palette() = {{0, 0, 0, 0}, {255, 255, 255, 0}};
        const auto path = dir / ("d" + std::to_string(bitCount) + ".tif");
        ASSERT_TRUE(WriteImageFile(bitmap, path, FormatCode::Tiff));
        Bitmap back;
        ASSERT_TRUE(ReadImageFile(path, back));
        EXPECT_EQ(back.BitCount(), bitCount >= 16 ? 24 : bitCount);
        const RgbImage expected = ToRgb(bitmap);
        EXPECT_EQ(CountDifferences(ToRgb(back), expected), 0);
        if (haveLibtiff) ExpectLibtiffReads(path, expected);
    }
    if (!haveLibtiff) GTEST_SKIP() << "libtiff's opinion not asked: " << why;
}

TEST(Bmp2Tiff, EveryDepthAndNarrowWidthKeepsEveryColumn) {
    // Widths 1 to 9 cover every remainder of 2-, 4- and 8-pixel packing; each file is read by
    // our reader and by libtiff, and passes libtiff's and ImageMagick's strict checks.
    std::string why;
    const bool haveLibtiff = HaveLibtiffTools(why) && HaveTool("identify");
    ScratchDir dir;
    std::vector<std::filesystem::path> written;
    for (int bitCount : {1, 4, 8, 16, 24, 32}) {
        for (int width = 1; width <= 9; ++width) {
            SCOPED_TRACE(std::to_string(bitCount) + " bits, width " + std::to_string(width));
            Bitmap bitmap = MakePatternBitmap(width, 3, bitCount, 40 + width);
            if (bitCount == 1) bitmap.Palette() = {{0, 0, 0, 0}, {255, 255, 255, 0}};
            const auto path =
                dir / ("w" + std::to_string(bitCount) + "_" + std::to_string(width) + ".tif");
            ASSERT_TRUE(WriteImageFile(bitmap, path, FormatCode::Tiff));
            written.push_back(path);
            const auto file = ReadAll(path);
            const auto entries = Directory(file);
            ASSERT_GE(entries.size(), 2u);
            EXPECT_EQ(entries[1], (Entry{256, kShort, 1, static_cast<std::uint32_t>(width)}));
            Bitmap back;
            ASSERT_TRUE(ReadImageFile(path, back));
            ASSERT_EQ(back.Width(), width);
            const RgbImage expected = ToRgb(bitmap);
            EXPECT_EQ(CountDifferences(ToRgb(back), expected), 0);
            if (haveLibtiff) ExpectLibtiffReads(path, expected);
        }
    }
    if (!haveLibtiff) GTEST_SKIP() << "libtiff's opinion not asked: " << why;
    EXPECT_EQ(StrictImageMagickComplaints(written), "");
}

}  // namespace
}  // namespace ozm::test
