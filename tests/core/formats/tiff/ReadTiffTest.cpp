#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/formats/tiff/LibtiffDecode.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/formats/tiff/ReadTiff.h"
#include "core/formats/tiff/ReadTiffTags.h"
#include "support/TestSupport.h"

namespace ozm::test {
namespace {

constexpr std::uint16_t kShort = 3, kLong = 4;

struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
};

// A TIFF file put together piece by piece, in either byte order.
class TiffBuilder {
  public:
    explicit TiffBuilder(bool bigEndian = false) : big_(bigEndian) {
        Append({std::uint8_t(big_ ? 'M' : 'I'), std::uint8_t(big_ ? 'M' : 'I')});
        Number(42, 2);
        Number(0, 4);
    }
    std::uint32_t Append(const std::vector<std::uint8_t>& data) {
        const auto at = Size();
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return at;
    }
    std::uint32_t Numbers(const std::vector<std::uint32_t>& values, int size) {
        const auto at = Size();
        for (std::uint32_t v : values) Number(v, size);
        return at;
    }
    // A single SHORT goes into the first two bytes of the value field. The header points to
    // the first directory added unless told otherwise.
    std::uint32_t AddDirectory(const std::vector<Entry>& entries, std::uint32_t next = 0) {
        const auto at = Size();
        Number(static_cast<std::uint32_t>(entries.size()), 2);
        for (const Entry& e : entries) {
            Numbers({e.tag, e.type}, 2);
            Number(e.count, 4);
            if (e.type == kShort && e.count == 1) {
                Numbers({e.value, 0}, 2);
            } else {
                Number(e.value, 4);
            }
        }
        Number(next, 4);
        if (!hasFirst_) Put32(4, at);
        hasFirst_ = true;
        return at;
    }
    void Put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes_[at + i] = static_cast<std::uint8_t>(big_ ? v >> (24 - 8 * i) : v >> (8 * i));
        }
    }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

  private:
    void Number(std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = big_ ? 8 * (size - 1 - i) : 8 * i;
            bytes_.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }
    bool big_;
    bool hasFirst_ = false;
    std::vector<std::uint8_t> bytes_;
};

// The entries of a one-strip image.
std::vector<Entry> ImageEntries(unsigned width, unsigned height, unsigned photometric,
                                unsigned bits, std::uint32_t strip, std::uint32_t stripBytes) {
    return {{256, kShort, 1, width}, {257, kShort, 1, height},      {258, kShort, 1, bits},
            {259, kShort, 1, 1},     {262, kShort, 1, photometric}, {273, kLong, 1, strip},
            {278, kLong, 1, height}, {279, kLong, 1, stripBytes}};
}

using Messages = std::vector<std::string>;

struct ReadResult {
    bool ok = false;
    Messages messages;
};

ReadResult Read(const std::vector<std::uint8_t>& bytes, Bitmap& out, const char* name = "x.tif") {
    ReadResult r;
    r.ok = ReadTiffData(
        bytes, out, [&](const std::string& m) { r.messages.push_back(m); }, name);
    return r;
}

TEST(ReadTiff, DecodesFilesMadeByLibtiffAsLibtiffDoes) {
    struct Case {
        const char* name;
        int bitCount;
        int page;  // the last page: the last directory decoded wins
    };
    const Case cases[] = {
        {"rgb_le_1row.tif", 24, 0},        {"rgb_be_5rows.tif", 24, 0},
        {"grey8_2rows.tif", 8, 0},         {"grey8_2strips_inline.tif", 8, 0},
        {"grey8_miniswhite_be.tif", 8, 0}, {"grey4.tif", 4, 0},
        {"grey4_miniswhite.tif", 4, 0},    {"bilevel_miniswhite.tif", 1, 0},
        {"bilevel_minisblack.tif", 1, 0},  {"palette8.tif", 8, 0},
        {"palette4_be.tif", 4, 0},         {"multipage.tif", 8, 2},
    };
    std::string why;
    const bool haveLibtiff = HaveLibtiffTools(why);
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Through the image reader, under an upper-case extension.
        const auto path = dir / (std::string(c.name) + ".TIFF");
        WriteAll(path, ReadAll(DataFile(std::string("tiff/") + c.name)));
        Bitmap bitmap;
        Messages messages;
        ASSERT_TRUE(
            ReadImageFile(path, bitmap, [&](const std::string& m) { messages.push_back(m); }));
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(bitmap.BitCount(), c.bitCount);
        if (!haveLibtiff) continue;
        const auto expected = DecodeWithLibtiff(path, c.page, why);
        ASSERT_TRUE(expected) << why;
        EXPECT_EQ(CountDifferences(ToRgb(bitmap), *expected), 0);
    }
    Bitmap bitmap;
    Messages messages;
    EXPECT_FALSE(ReadImageFile(dir / "missing.tif", bitmap,
                               [&](const std::string& m) { messages.push_back(m); }));
    EXPECT_TRUE(messages.empty());
    if (!haveLibtiff) GTEST_SKIP() << "pixels not compared: " << why;
}

TEST(ReadTiff, TellsEveryRefusalInItsOwnWords) {
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.Create(2, 2, 24));
    const Bitmap before = bitmap;
    Messages messages;
    const MessageCallback tell = [&](const std::string& m) { messages.push_back(m); };
    EXPECT_FALSE(ReadTiffFile(DataFile("tiff/rgb_lzw.tif"), bitmap, tell));
    EXPECT_FALSE(ReadTiffFile(DataFile("tiff/palette8_lzw.tif"), bitmap, tell));
    EXPECT_EQ(messages, (Messages{"Cant read compressed RGB Full Color Image",
                                  "Cant read compressed ColorPaletImage\n\n"
                                  "feel free to implement this type of image\n"
                                  "or send such images to tiff-samples@ozm-imgconv.example"}));
    EXPECT_TRUE(bitmap == before);

    // Each case drops or adds entries of an otherwise good 4 x 1 image; an added tag comes
    // after the one it repeats, and the last one wins.
    struct Case {
        unsigned photometric, bits;
        std::vector<std::uint16_t> drop;
        std::vector<Entry> add;
        const char* message;
    };
    const Case cases[] = {
        {1, 8, {256}, {}, "Error reading tag Image Width"},
        {2, 8, {257}, {}, "Error reading tag Image Height"},
        {1, 8, {259}, {}, "Error reading tag Compression"},
        {1, 1, {}, {{259, kShort, 1, 5}}, "Cant read compressed bilevel image"},
        {0, 8, {}, {{259, kShort, 1, 5}}, "Cant read compressed Gray Scale Image"},
        {3, 8, {258}, {}, "Error reading tag Bits Per Sample"},
        {2, 8, {258}, {}, "Error reading tag Bits Per Sample"},
        {3, 8, {}, {}, "Error reading tag Color Table Offset"},
        {3, 8, {}, {{320, kShort, 768, 0xFFFFFF00u}}, "Error reading tag Color Table Offset"},
        {3, 2, {}, {{320, kShort, 12, 8}}, "Error: Bits Per Sample (Palette) not 1, 4 or 8"},
        {1, 8, {}, {{277, kShort, 1, 2}}, "Error: Samples Per Pixel not 1"},
        {2, 8, {}, {{277, kShort, 1, 4}}, "Error: Samples Per Pixel (RGB) not 3"},
        {2, 8, {}, {{277, kShort, 1, 3}, {284, kShort, 1, 2}}, "Error: Planar Configuration not 1"},
        {2, 8, {}, {{258, kShort, 3, 20}}, "Error: Bits Per Sample (RGB) not 8"},
        {5, 8, {}, {}, "Error evaluating Photometric interpretation: 5"},
        {1, 8, {262}, {}, "Error reading tag Photometric interpretation"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TiffBuilder b;
        const auto strip = b.Append(std::vector<std::uint8_t>(12, 0x55));
        b.Numbers({8, 8, 16}, 2);  // at 20: a BitsPerSample of 8, 8, 16
        auto entries = ImageEntries(4, 1, c.photometric, c.bits, strip, 12);
        std::erase_if(entries, [&](const Entry& e) {
            return std::find(c.drop.begin(), c.drop.end(), e.tag) != c.drop.end();
        });
        entries.insert(entries.end(), c.add.begin(), c.add.end());
        b.AddDirectory(entries);
        const auto r = Read(b.Bytes(), bitmap);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, Messages{c.message});
    }

    TiffBuilder notTiff;
    notTiff.Bytes()[2] = 43;
    notTiff.AddDirectory({});
    EXPECT_EQ(Read(notTiff.Bytes(), bitmap, "/tmp/a b.tif").messages,
              Messages{"</tmp/a b.tif> is not a valid TIFF file"});
    EXPECT_EQ(Read({'I', 'I', 42, 0, 8}, bitmap, "s.tif").messages,
              Messages{"<s.tif> is not a valid TIFF file"});
}

TEST(ReadTiff, DecodesTheClassicCornerCases) {
    Bitmap bitmap;
    {  // Big-endian with a SHORT width of 100.
        TiffBuilder b(true);
        const auto strip = b.Append(std::vector<std::uint8_t>(100, 7));
        b.AddDirectory(ImageEntries(100, 1, 1, 8, strip, 100));
        ASSERT_TRUE(Read(b.Bytes(), bitmap).ok);
        EXPECT_EQ(bitmap.Width(), 100);
        EXPECT_EQ(bitmap.PixelAt(99, 0), (RgbQuad{7, 7, 7, 0}));
    }
    {  // WhiteIsZero 8-bit grey, 3 pixels wide (rows of 3 bytes padded to 4), 2 rows.
        TiffBuilder b;
        const auto strip = b.Append({0, 128, 255, 10, 20, 30});
        b.AddDirectory(ImageEntries(3, 2, 0, 8, strip, 6));
        ASSERT_TRUE(Read(b.Bytes(), bitmap).ok);
        EXPECT_EQ(bitmap.Stride(), 4u);
        EXPECT_EQ(bitmap.PixelAt(0, 0), (RgbQuad{255, 255, 255, 0}));
        EXPECT_EQ(bitmap.PixelAt(2, 0), (RgbQuad{0, 0, 0, 0}));
        EXPECT_EQ(bitmap.PixelAt(0, 1), (RgbQuad{245, 245, 245, 0}));
    }
    {  // A 16-colour palette with 48 ColorMap values: index 15 takes the sixteenth values.
        TiffBuilder b;
        std::vector<std::uint32_t> map(48, 0);
        map[15] = 0xAB12;
        map[31] = 0xCD34;
        map[47] = 0xEF56;
        const auto mapAt = b.Numbers(map, 2);
        const auto strip = b.Append({0xF0, 0x1F});
        auto entries = ImageEntries(4, 1, 3, 4, strip, 2);
        entries.push_back({320, kShort, 48, mapAt});
        b.AddDirectory(entries);
        ASSERT_TRUE(Read(b.Bytes(), bitmap).ok);
        EXPECT_EQ(bitmap.BitCount(), 4);
        EXPECT_EQ(bitmap.PixelAt(0, 0), (RgbQuad{0xEF, 0xCD, 0xAB, 0}));
        EXPECT_EQ(bitmap.PixelAt(1, 0), (RgbQuad{0, 0, 0, 0}));
    }
    {  // Bilevel without BitsPerSample, BlackIsZero.
        TiffBuilder b;
        const auto strip = b.Append({0xA0});
        auto entries = ImageEntries(3, 1, 1, 1, strip, 1);
        entries.erase(entries.begin() + 2);
        b.AddDirectory(entries);
        ASSERT_TRUE(Read(b.Bytes(), bitmap).ok);
        EXPECT_EQ(bitmap.BitCount(), 1);
        EXPECT_EQ(bitmap.PixelAt(0, 0), (RgbQuad{255, 255, 255, 0}));
        EXPECT_EQ(bitmap.PixelAt(1, 0), (RgbQuad{0, 0, 0, 0}));
    }
    {  // Two decodable pages: the second one wins. Its third row crosses from the second
       // strip into the third.
        TiffBuilder b;
        const auto s1 = b.Append({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
        const auto s2 = b.Append({13, 14, 15});
        const auto s3 = b.Append({16, 17, 18});
        auto second = ImageEntries(2, 3, 2, 8, 0, 0);
        second[5] = {273, kLong, 3, b.Numbers({s1, s2, s3}, 4)};
        second[6].value = 2;
        second[7] = {279, kShort, 3, b.Numbers({12, 3, 3}, 2)};
        second.push_back({277, kShort, 1, 3});
        const auto page2 = b.AddDirectory(second);
        const auto strip = b.Append({9});
        b.Put32(4, b.AddDirectory(ImageEntries(1, 1, 1, 8, strip, 1), page2));
        ASSERT_TRUE(Read(b.Bytes(), bitmap).ok);
        ASSERT_EQ(bitmap.Width(), 2);
        ASSERT_EQ(bitmap.Height(), 3);
        EXPECT_EQ(bitmap.PixelAt(0, 0), (RgbQuad{3, 2, 1, 0}));
        EXPECT_EQ(bitmap.PixelAt(1, 2), (RgbQuad{18, 17, 16, 0}));
    }
}

TEST(ReadTiff, DamagedFilesFailCleanly) {
    Bitmap bitmap;
    // A 4 x 4 grey image: strip at 8, directory at 24.
    const auto good = [] {
        TiffBuilder b;
        const auto strip = b.Append(std::vector<std::uint8_t>(16, 1));
        b.AddDirectory(ImageEntries(4, 4, 1, 8, strip, 16));
        return b;
    };
    const std::uint32_t dir = 24;
    const auto field = [&](int index) { return dir + 2 + 12 * index + 8; };
    const auto expectFalse = [&](TiffBuilder b, const Messages& messages) {
        const auto r = Read(b.Bytes(), bitmap);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, messages);
    };
    ASSERT_TRUE(Read(good().Bytes(), bitmap).ok);

    auto pastEnd = good();
    pastEnd.Put32(4, 100000);
    expectFalse(pastEnd, {"Error reading tag Photometric interpretation"});
    auto cut = good();
    cut.Bytes().resize(dir + 30);
    expectFalse(cut, {"Error reading tag Photometric interpretation"});

    auto loop = good();
    loop.Put32(dir + 2 + 8 * 12, dir);
    EXPECT_TRUE(Read(loop.Bytes(), bitmap).ok);
    TFileTiff file;
    file.LoadData(loop.Bytes());
    EXPECT_EQ(file.DirectoryCount(), 1);

    // Strips outside the file, sums that overflow 32 bits, rows the strips do not hold,
    // RowsPerStrip 0, and a width whose rows are longer than the strip's.
    const std::pair<int, std::uint32_t> shortData[] = {
        {5, 100000}, {5, 0xFFFFFFF0u}, {7, 0xFFFFFFFFu}, {7, 15}, {6, 0}, {0, 5}};
    for (const auto& [index, value] : shortData) {
        SCOPED_TRACE(index);
        auto b = good();
        b.Put32(field(index), value);
        expectFalse(b, {"Error reading image data"});
    }
    // Sides of 65535 need more data than there is; anything above fails the read, as do a
    // strip table past the end, strip tags that disagree, and a missing RowsPerStrip.
    auto big = good();
    big.Put32(field(0), 65535);
    big.Put32(field(1), 65535);
    expectFalse(big, {"Error reading image data"});
    for (std::uint32_t side : {65536u, 0xFFFFFFFFu, 0u}) {
        auto b = good();
        b.Bytes()[dir + 2 + 2] = kLong;  // ImageWidth as LONG
        b.Put32(field(0), side);
        expectFalse(b, {});
    }
    auto table = good();
    table.Put32(field(5) - 4, 2);
    table.Put32(field(7) - 4, 2);
    table.Put32(field(5), 0xFFFFFFF0u);
    expectFalse(table, {});
    auto disagree = good();
    disagree.Put32(field(7) - 4, 2);
    expectFalse(disagree, {});
    auto noRows = good();
    noRows.Bytes()[dir + 2 + 6 * 12] = 0x20;  // tag 278 becomes 288
    expectFalse(noRows, {});

    TiffBuilder many;  // 300 directories, each pointing at the one added before
    const auto strip = many.Append({1});
    std::uint32_t next = 0;
    for (int i = 0; i < 300; ++i)
        next = many.AddDirectory(ImageEntries(1, 1, 1, 8, strip, 1), next);
    many.Put32(4, next);
    expectFalse(many, {});

    const auto bytes = ReadAll(DataFile("tiff/multipage.tif"));
    for (std::size_t n = 0; n < bytes.size(); n += 7) {
        Read(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + n), bitmap);
    }
}

TEST(ReadTiff, RefusalsGiveAShortReasonBesideTheMessages) {
    Bitmap bitmap;
    std::string why;
    EXPECT_FALSE(ReadImageFile(DataFile("tiff/rgb_lzw.tif"), bitmap, {}, &why));
    EXPECT_EQ(why, "compressed TIFF is not supported");

    const auto reasonOf = [&](const std::vector<std::uint8_t>& bytes) {
        std::string text;
        EXPECT_FALSE(ReadTiffData(bytes, bitmap, {}, "x.tif", &text));
        return text;
    };
    const auto image = [](unsigned photometric, unsigned bits, std::uint32_t stripBytes,
                          const std::vector<Entry>& add) {
        TiffBuilder b;
        const auto strip = b.Append(std::vector<std::uint8_t>(12, 0x55));
        auto entries = ImageEntries(4, 1, photometric, bits, strip, stripBytes);
        entries.insert(entries.end(), add.begin(), add.end());
        b.AddDirectory(entries);
        return b.Bytes();
    };
    EXPECT_EQ(reasonOf(image(1, 8, 12, {{259, kShort, 1, 5}})), "compressed TIFF is not supported");
    EXPECT_EQ(reasonOf(image(2, 8, 12, {{277, kShort, 1, 4}})), "unsupported TIFF pixel format");
    EXPECT_EQ(reasonOf(image(5, 8, 12, {})), "unsupported TIFF pixel format");
    EXPECT_EQ(reasonOf(image(3, 8, 12, {})), "incomplete TIFF directory");
    EXPECT_EQ(reasonOf(image(1, 8, 3, {})), "truncated image data");
    EXPECT_EQ(reasonOf({'I', 'I', 43, 0, 8, 0, 0, 0}), "not a TIFF file");
    EXPECT_EQ(reasonOf({'I', 'I', 42, 0, 0, 0, 0, 0}), "no image in the TIFF file");
    TiffBuilder tooWide;
    const auto strip = tooWide.Append(std::vector<std::uint8_t>(70000, 0));
    auto wide = ImageEntries(70000, 1, 1, 8, strip, 70000);
    wide[0] = {256, kLong, 1, 70000};
    tooWide.AddDirectory(wide);
    EXPECT_EQ(reasonOf(tooWide.Bytes()), "image too large: 70000 x 1 pixels, limit 65535 per side");

    // Files that cannot be read at all: no message, a reason.
    ScratchDir dir;
    Messages messages;
    const MessageCallback tell = [&](const std::string& m) { messages.push_back(m); };
    why.clear();
    EXPECT_FALSE(ReadTiffFile(dir / "missing.tif", bitmap, tell, &why));
    EXPECT_EQ(why, "no such file or directory");
    std::filesystem::create_directory(dir / "folder.tif");
    why.clear();
    EXPECT_FALSE(ReadTiffFile(dir / "folder.tif", bitmap, tell, &why));
    EXPECT_EQ(why, "is a folder");
    // Offsets are 32-bit: a file past 4 GiB (sparse here) is longer than any TIFF can be.
    const auto good = ReadAll(DataFile("tiff/grey8_2rows.tif"));
    WriteAll(dir / "long.tif", good);
    std::filesystem::resize_file(dir / "long.tif", TFileTiff::kMaxFileBytes + 1);
    why.clear();
    EXPECT_FALSE(ReadTiffFile(dir / "long.tif", bitmap, tell, &why));
    EXPECT_EQ(why, "file too large for its format");
    std::filesystem::resize_file(dir / "long.tif", TFileTiff::kMaxFileBytes);
    EXPECT_TRUE(ReadTiffFile(dir / "long.tif", bitmap, tell));
    EXPECT_EQ(messages, Messages{});
}

}  // namespace
}  // namespace ozm::test
