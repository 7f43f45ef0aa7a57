#include "core/formats/ReadTiff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/formats/ImgConvertUnit.h"
#include "core/formats/ReadTiffTags.h"
#include "core/LibtiffDecode.h"
#include "support/TestSupport.h"

namespace ozm::test {
namespace {

// A TIFF file put together entry by entry, in either byte order.
class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian = false) : big_(bigEndian) {
        bytes_ = {std::uint8_t(big_ ? 'M' : 'I'), std::uint8_t(big_ ? 'M' : 'I')};
        U16(42);
        U32(0);
    }
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };

    std::uint32_t Append(const std::vector<std::uint8_t>& data) {
        const auto at = Size();
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return at;
    }
    std::uint32_t AppendShorts(const std::vector<unsigned>& values) {
        const auto at = Size();
        for (unsigned v : values) U16(v);
        return at;
    }
    std::uint32_t AppendLongs(const std::vector<std::uint32_t>& values) {
        const auto at = Size();
        for (std::uint32_t v : values) U32(v);
        return at;
    }
    // A directory with the entries as given; a single SHORT goes into the first two bytes of
    // the value field. The first directory added becomes the header's first directory.
    std::uint32_t AddDirectory(const std::vector<Entry>& entries, std::uint32_t next = 0) {
        const auto at = Size();
        U16(static_cast<unsigned>(entries.size()));
        for (const Entry& e : entries) {
            U16(e.tag);
            U16(e.type);
            U32(e.count);
            if (e.type == 3 && e.count == 1) {
                U16(e.value);
                U16(0);
            } else {
                U32(e.value);
            }
        }
        U32(next);
        if (!first_) SetFirstDirectory(at);
        first_ = true;
        return at;
    }
    void SetFirstDirectory(std::uint32_t offset) { Put32(4, offset); }
    void Put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes_[at + i] = static_cast<std::uint8_t>(big_ ? v >> (24 - 8 * i) : v >> (8 * i));
        }
    }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

private:
    void U16(unsigned v) {
        if (big_) {
            bytes_.push_back(std::uint8_t(v >> 8));
            bytes_.push_back(std::uint8_t(v));
        } else {
            bytes_.push_back(std::uint8_t(v));
            bytes_.push_back(std::uint8_t(v >> 8));
        }
    }
    void U32(std::uint32_t v) {
        bytes_.resize(bytes_.size() + 4);
        Put32(bytes_.size() - 4, v);
    }
    bool big_;
    bool first_ = false;
    std::vector<std::uint8_t> bytes_;
};

constexpr std::uint16_t kShort = 3, kLong = 4;

// The usual entries of a one-strip image whose strip is at `strip`.
std::vector<TiffBuilder::Entry> ImageEntries(unsigned width, unsigned height, unsigned photometric,
                                             unsigned bits, std::uint32_t strip,
                                             std::uint32_t stripBytes) {
    return {{256, kShort, 1, width},      {257, kShort, 1, height},
            {258, kShort, 1, bits},       {259, kShort, 1, 1},
            {262, kShort, 1, photometric}, {273, kLong, 1, strip},
            {278, kLong, 1, height},      {279, kLong, 1, stripBytes}};
}

struct ReadResult {
    bool ok = false;
    std::vector<std::string> messages;
};

ReadResult Read(const std::vector<std::uint8_t>& bytes, Bitmap& out, const char* name = "x.tif") {
    ReadResult r;
    r.ok = ReadTiffData(bytes, out, [&](const std::string& m) { r.messages.push_back(m); }, name);
    return r;
}

using Messages = std::vector<std::string>;

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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = DataFile(std::string("tiff/") + c.name);
        Bitmap bitmap;
        Messages messages;
        ASSERT_TRUE(ReadImageFile(path, bitmap, [&](const std::string& m) {
            messages.push_back(m);
        }));
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(bitmap.BitCount(), c.bitCount);
        std::string why;
        const auto expected = DecodeWithLibtiff(path, c.page, why);
        if (!expected) GTEST_SKIP() << why;
        EXPECT_EQ(CountDifferences(ToRgb(bitmap), *expected), 0);
    }
}

TEST(ReadTiff, RefusesCompressedFilesWithTheKindsMessage) {
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.Create(2, 2, 24));
    const Bitmap before = bitmap;
    Messages messages;
    const MessageCallback tell = [&](const std::string& m) { messages.push_back(m); };
    EXPECT_FALSE(ReadImageFile(DataFile("tiff/rgb_lzw.tif"), bitmap, tell));
    EXPECT_EQ(messages, Messages{"Cant read compressed RGB Full Color Image"});
    messages.clear();
    EXPECT_FALSE(ReadTiffFile(DataFile("tiff/palette8_lzw.tif"), bitmap, tell));
    EXPECT_EQ(messages, Messages{"Cant read compressed ColorPaletImage\n\n"
                                 "feel free to implement this type of image\n"
                                 "or send such images to tiff-samples@ozm-imgconv.example"});
    EXPECT_TRUE(bitmap == before);

    // The other kinds, made by changing the compression of small files of our own.
    for (unsigned photometric : {0u, 1u}) {
        for (unsigned bits : {1u, 8u}) {
            TiffBuilder b;
            const auto strip = b.Append(std::vector<std::uint8_t>(4, 0));
            auto entries = ImageEntries(4, 1, photometric, bits, strip, bits == 1 ? 1 : 4);
            entries[3].value = 5;
            b.AddDirectory(entries);
            const auto r = Read(b.Bytes(), bitmap);
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.messages, Messages{bits == 1 ? "Cant read compressed bilevel image"
                                                     : "Cant read compressed Gray Scale Image"});
        }
    }
}

TEST(ReadTiff, TellsEveryMissingOrWrongTag) {
    const std::vector<std::uint8_t> pixels(12, 0x55);
    // Each case removes or changes entries of an otherwise good 4 x 1 RGB or grey image.
    struct Case {
        unsigned photometric, bits;
        std::vector<std::uint16_t> drop;
        std::vector<TiffBuilder::Entry> add;
        const char* message;
    };
    const Case cases[] = {
        {1, 8, {256}, {}, "Error reading tag Image Width"},
        {2, 8, {257}, {}, "Error reading tag Image Height"},
        {1, 8, {259}, {}, "Error reading tag Compression"},
        {3, 8, {258}, {}, "Error reading tag Bits Per Sample"},
        {2, 8, {258}, {}, "Error reading tag Bits Per Sample"},
        {3, 8, {}, {}, "Error reading tag Color Table Offset"},
        {3, 8, {}, {{320, kShort, 768, 0xFFFFFF00u}}, "Error reading tag Color Table Offset"},
        {3, 2, {}, {{320, kShort, 12, 8}}, "Error: Bits Per Sample (Palette) not 1, 4 or 8"},
        {1, 8, {}, {{277, kShort, 1, 2}}, "Error: Samples Per Pixel not 1"},
        {2, 8, {}, {{277, kShort, 1, 4}}, "Error: Samples Per Pixel (RGB) not 3"},
        {2, 8, {}, {{277, kShort, 1, 3}, {284, kShort, 1, 2}}, "Error: Planar Configuration not 1"},
        {7, 8, {}, {}, "Error evaluating Photometric interpretation: 7"},
        {1, 8, {262}, {}, "Error reading tag Photometric interpretation"},
        {2, 8, {}, {{258, kShort, 3, 8}}, "Error: Bits Per Sample (RGB) not 8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TiffBuilder b;
        const auto strip = b.Append(pixels);
        b.AppendShorts({8, 8, 16});  // at 20: BitsPerSample 8, 8, 16
        auto entries = ImageEntries(4, 1, c.photometric, c.bits, strip, c.photometric == 2 ? 12 : 4);
        std::erase_if(entries, [&](const auto& e) {
            return std::find(c.drop.begin(), c.drop.end(), e.tag) != c.drop.end();
        });
        for (auto e : c.add) {
            if (e.tag == 258) e.value = 20;
            entries.push_back(e);  // a repeated tag: the last one wins
        }
        b.AddDirectory(entries);
        Bitmap bitmap;
        const auto r = Read(b.Bytes(), bitmap);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, Messages{c.message});
    }

    Bitmap bitmap;
    TiffBuilder notTiff;
    notTiff.Bytes()[2] = 43;
    notTiff.AddDirectory({});
    EXPECT_EQ(Read(notTiff.Bytes(), bitmap, "/tmp/a b.tif").messages,
              Messages{"</tmp/a b.tif> is not a valid TIFF file"});
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
    {  // A 16-colour palette with 48 ColorMap values; index 15 takes the sixteenth values.
        TiffBuilder b;
        std::vector<unsigned> map(48, 0);
        map[15] = 0xAB12;
        map[31] = 0xCD34;
        map[47] = 0xEF56;
        const auto mapAt = b.AppendShorts(map);
        const auto strip = b.Append({0xF0, 0x1F});
        auto entries = ImageEntries(4, 1, 3, 4, strip, 2);
        entries.push_back({320, kShort, 48, mapAt});
        b.AddDirectory(entries);
        ASSERT_TRUE(Read(b.Bytes(), bitmap).ok);
        EXPECT_EQ(bitmap.BitCount(), 4);
        EXPECT_EQ(bitmap.PixelAt(0, 0), (RgbQuad{0xEF, 0xCD, 0xAB, 0}));
        EXPECT_EQ(bitmap.PixelAt(1, 0), (RgbQuad{0, 0, 0, 0}));
        EXPECT_EQ(bitmap.PixelAt(3, 0), (RgbQuad{0xEF, 0xCD, 0xAB, 0}));
    }
    {  // Bilevel without BitsPerSample; BlackIsZero.
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
        second[5] = {273, kLong, 3, b.AppendLongs({s1, s2, s3})};
        second[6].value = 2;
        second[7] = {279, kShort, 3, b.AppendShorts({12, 3, 3})};
        second.push_back({277, kShort, 1, 3});
        const auto page2 = b.AddDirectory(second);
        const auto strip = b.Append({9});
        const auto page1 = b.AddDirectory(ImageEntries(1, 1, 1, 8, strip, 1), page2);
        b.SetFirstDirectory(page1);
        ASSERT_TRUE(Read(b.Bytes(), bitmap).ok);
        ASSERT_EQ(bitmap.Width(), 2);
        ASSERT_EQ(bitmap.Height(), 3);
        EXPECT_EQ(bitmap.PixelAt(0, 0), (RgbQuad{3, 2, 1, 0}));
        EXPECT_EQ(bitmap.PixelAt(1, 0), (RgbQuad{6, 5, 4, 0}));
        EXPECT_EQ(bitmap.PixelAt(1, 2), (RgbQuad{18, 17, 16, 0}));
    }
}

TEST(ReadTiff, DamagedFilesFailCleanly) {
    Bitmap bitmap;
    const auto good = [] {
        TiffBuilder b;
        const auto strip = b.Append(std::vector<std::uint8_t>(16, 1));
        b.AddDirectory(ImageEntries(4, 4, 1, 8, strip, 16));
        return b;
    };
    ASSERT_TRUE(Read(good().Bytes(), bitmap).ok);
    const std::uint32_t dir = 8 + 16;
    const auto entryValue = [&](int index) { return dir + 2 + 12 * index + 8; };

    {  // Short header.
        const auto r = Read({'I', 'I', 42, 0, 8}, bitmap, "s.tif");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, Messages{"<s.tif> is not a valid TIFF file"});
    }
    {  // First directory past the end, and a directory cut inside its entries.
        auto b = good();
        b.SetFirstDirectory(100000);
        EXPECT_EQ(Read(b.Bytes(), bitmap).messages,
                  Messages{"Error reading tag Photometric interpretation"});
        auto c = good();
        c.Bytes().resize(dir + 30);
        EXPECT_FALSE(Read(c.Bytes(), bitmap).ok);
    }
    {  // A chain that comes back to itself is read once.
        auto b = good();
        b.Put32(dir + 2 + 8 * 12, dir);
        EXPECT_TRUE(Read(b.Bytes(), bitmap).ok);
        TFileTiff file;
        file.LoadData(b.Bytes());
        EXPECT_EQ(file.DirectoryCount(), 1);
    }
    // Strips outside the file, counts that overflow 32 bits, rows the strips do not hold.
    const std::vector<std::pair<int, std::uint32_t>> stripDamage = {
        {5, 100000},      {5, 0xFFFFFFF0u}, {7, 0xFFFFFFFFu}, {7, 15},
        {6, 0},           {0, 5},
    };
    for (const auto& [index, value] : stripDamage) {
        SCOPED_TRACE(index);
        auto b = good();
        b.Put32(entryValue(index), value);
        const auto r = Read(b.Bytes(), bitmap);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, Messages{"Error reading image data"});
    }
    {  // A strip table whose values lie past the end, or whose two tags disagree: no strips.
        auto b = good();
        b.Put32(entryValue(5) - 4, 2);
        b.Put32(entryValue(7) - 4, 2);
        b.Put32(entryValue(5), 0xFFFFFFF0u);
        EXPECT_FALSE(Read(b.Bytes(), bitmap).ok);
        auto c = good();
        c.Put32(entryValue(7) - 4, 2);
        const auto r = Read(c.Bytes(), bitmap);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.messages.empty());
    }
    {  // Huge sides: above 65535 fails; within 16 bits but bigger than the data, the data is
       // short. Nothing big is allocated either way.
        for (std::uint32_t side : {65536u, 0xFFFFFFFFu, 0u}) {
            auto b = good();
            b.Bytes()[dir + 2 + 2] = kLong;  // ImageWidth as LONG
            b.Put32(entryValue(0), side);
            const auto r = Read(b.Bytes(), bitmap);
            EXPECT_FALSE(r.ok);
            EXPECT_TRUE(r.messages.empty());
        }
        auto b = good();
        b.Put32(entryValue(0), 65535);
        b.Put32(entryValue(1), 65535);
        const auto r = Read(b.Bytes(), bitmap);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, Messages{"Error reading image data"});
    }
    {  // Without RowsPerStrip the read fails without a message of its own.
        auto b = good();
        b.Bytes()[dir + 2 + 6 * 12] = 0x20;  // tag 278 becomes 288
        const auto r = Read(b.Bytes(), bitmap);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.messages.empty());
    }
    {  // 300 directories (each pointing at the next) are more than the reader takes.
        TiffBuilder b;
        const auto strip = b.Append({1});
        std::uint32_t next = 0;
        for (int i = 0; i < 300; ++i) next = b.AddDirectory(ImageEntries(1, 1, 1, 8, strip, 1), next);
        b.SetFirstDirectory(next);
        const auto r = Read(b.Bytes(), bitmap);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.messages.empty());
    }
    {  // Every truncation of a good file: never a crash, never a read past the data.
        const auto bytes = ReadAll(DataFile("tiff/multipage.tif"));
        for (std::size_t n = 0; n < bytes.size(); n += 7) {
            const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + n);
            Read(cut, bitmap);
        }
    }
}

TEST(ReadTiff, TheImageReaderTakesBothExtensionsAndMissingFilesQuietly) {
    ScratchDir dir;
    const auto bytes = ReadAll(DataFile("tiff/grey8_2rows.tif"));
    WriteAll(dir / "a.TIFF", bytes);
    Bitmap bitmap;
    Messages messages;
    const MessageCallback tell = [&](const std::string& m) { messages.push_back(m); };
    EXPECT_TRUE(ReadImageFile(dir / "a.TIFF", bitmap, tell));
    EXPECT_EQ(bitmap.Width(), 37);
    EXPECT_FALSE(ReadImageFile(dir / "missing.tif", bitmap, tell));
    EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace ozm::test
