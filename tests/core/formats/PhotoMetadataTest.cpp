#include <gtest/gtest.h>

#include <filesystem>

#include "core/colour/SrgbConversion.h"
#include "core/formats/PhotoMetadata.h"
#include "core/formats/raster/JpegCodec.h"
#include "core/formats/raster/PngCodec.h"
#include "core/formats/raster/WebpCodec.h"
#include "core/formats/tiff/Bmp2Tiff.h"
#include "core/formats/tiff/ReadTiff.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An EXIF block laid out by hand, in either byte order:
//   8  IFD0: Orientation (SHORT or LONG), Make "Cam" (inline), the Exif IFD's offset; IFD1 next
//   50 Exif IFD: PixelXDimension, PixelYDimension (each SHORT or LONG); no next
//   80 IFD1: Compression 6; no next                                               (98 bytes)
struct ExifShape {
    bool le = true;
    std::uint16_t orientationType = 3;
    std::uint32_t orientation = 6;
    std::uint16_t xType = 3;
    std::uint32_t x = 64;
    std::uint16_t yType = 4;
    std::uint32_t y = 48;
    std::uint32_t ifd1 = 80;
};

class Writer {
  public:
    explicit Writer(bool le) : le_(le) {}
    void U16(std::uint32_t v) {
        if (le_) {
            b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
        } else {
            b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
        }
    }
    void U32(std::uint32_t v) {
        if (le_) {
            U16(v & 0xFFFF);
            U16(v >> 16);
        } else {
            U16(v >> 16);
            U16(v & 0xFFFF);
        }
    }
    // A one-value entry, the value left-justified in its field.
    void Entry(std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        U16(tag);
        U16(type);
        U32(1);
        if (type == 3) {
            U16(value);
            U16(0);
        } else {
            U32(value);
        }
    }
    Bytes b;

  private:
    bool le_;
};

Bytes MakeExif(const ExifShape& s) {
    Writer w(s.le);
    if (s.le) {
        w.b = {'I', 'I', 42, 0};
    } else {
        w.b = {'M', 'M', 0, 42};
    }
    w.U32(8);
    w.U16(3);
    w.Entry(0x0112, s.orientationType, s.orientation);
    w.U16(0x010F);
    w.U16(2);
    w.U32(4);
    w.b.insert(w.b.end(), {'C', 'a', 'm', 0});
    w.Entry(0x8769, 4, 50);
    w.U32(s.ifd1);
    w.U16(2);
    w.Entry(0xA002, s.xType, s.x);
    w.Entry(0xA003, s.yType, s.y);
    w.U32(0);
    w.U16(1);
    w.Entry(0x0103, 3, 6);
    w.U32(0);
    return w.b;
}

TEST(PhotoMetadata, ChangeExifRewritesOnlyItsFields) {
    for (bool le : {true, false}) {
        SCOPED_TRACE(le ? "little-endian" : "big-endian");
        // A size above 65535 widens its SHORT to LONG; a LONG takes a small one as it is.
        Bytes exif = MakeExif({.le = le});
        ASSERT_TRUE(ChangeExif(
            exif, {.orientation = 1, .width = 70000, .height = 30, .dropThumbnail = true}));
        EXPECT_EQ(
            exif,
            MakeExif({.le = le, .orientation = 1, .xType = 4, .x = 70000, .y = 30, .ifd1 = 0}));
        // Without an orientation to write and with the thumbnail kept, only the sizes change.
        exif = MakeExif({.le = le});
        ASSERT_TRUE(ChangeExif(exif, {.orientation = std::nullopt, .width = 640, .height = 480}));
        EXPECT_EQ(exif, MakeExif({.le = le, .x = 640, .y = 480}));
    }
    // An orientation of another type is removed: the entries after it move up, the link
    // follows them and the Exif directory is still found.
    Bytes exif = MakeExif({.orientationType = 4});
    ASSERT_TRUE(ChangeExif(exif, {.orientation = 1, .width = 7, .height = 5}));
    ASSERT_EQ(exif.size(), 98u);
    EXPECT_EQ(exif[8], 2);                        // two entries left
    EXPECT_EQ(exif[10] | exif[11] << 8, 0x010F);  // Make first
    EXPECT_EQ(exif[22] | exif[23] << 8, 0x8769);  // then the Exif pointer
    EXPECT_EQ(exif[34], 80);                      // the link, moved up
    EXPECT_EQ(Bytes(exif.begin() + 38, exif.begin() + 50), Bytes(12, 0));
    EXPECT_EQ(exif[50 + 2 + 8], 7);   // PixelXDimension
    EXPECT_EQ(exif[50 + 14 + 8], 5);  // PixelYDimension
}

TEST(PhotoMetadata, ChangeExifRefusesBlocksItCannotWalk) {
    // IFD0 past the end, more entries than the block holds, cut inside the directory.
    Bytes far = MakeExif({}), many = MakeExif({}), cut = MakeExif({});
    far[4] = 200;
    many[8] = 9;
    cut.resize(40);
    for (Bytes exif : {far, many, cut}) {
        const Bytes before = exif;
        EXPECT_FALSE(ChangeExif(exif, {.orientation = 1, .width = 1, .height = 1}));
        EXPECT_EQ(exif, before);
    }
}

// A profile the readers accept: its size first, at least the 128-byte header.
Bytes MakeProfile(std::size_t size) {
    Bytes icc(size);
    for (std::size_t i = 4; i < size; ++i) icc[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    icc[0] = static_cast<std::uint8_t>(size >> 24);
    icc[1] = static_cast<std::uint8_t>(size >> 16);
    icc[2] = static_cast<std::uint8_t>(size >> 8);
    icc[3] = static_cast<std::uint8_t>(size);
    return icc;
}

TEST(PhotoMetadata, WritersAndReaderRoundTrip) {
    PhotoMetadata meta;
    meta.exif = MakeExif({.le = false});
    meta.icc = MakeProfile(150000);  // three JPEG segments
    const Bitmap picture = test::MakePatternBitmap(21, 13, 24, 3);
    const Bitmap palette = test::MakePatternBitmap(21, 13, 8, 3);
    struct Case {
        const char* name;
        ImageFormatCode code;
        std::function<bool(std::FILE*)> encode;
    };
    PngWriteOptions banded;
    banded.metadata = &meta;
    PngWriteOptions throughLibpng = banded;
    throughLibpng.filterSet = 0x1F;
    const Case cases[] = {
        {"jpeg", FormatCode::Jpg, [&](std::FILE* f) { return EncodeJpeg(picture, f, 80, &meta); }},
        {"png banded", FormatCode::Png,
         [&](std::FILE* f) { return EncodePng(palette, f, banded); }},
        {"png libpng", FormatCode::Png,
         [&](std::FILE* f) { return EncodePng(palette, f, throughLibpng); }},
        {"webp", FormatCode::Webp,
         [&](std::FILE* f) { return EncodeWebp(picture, f, 80, true, &meta); }},
        // TIFF: the profile only, in colour and palette files.
        {"tiff", FormatCode::Tiff,
         [&](std::FILE* f) { return WriteTiffFile(picture, f, 1, meta.icc); }},
        {"tiff palette", FormatCode::Tiff,
         [&](std::FILE* f) { return WriteTiffFile(palette, f, 1, meta.icc); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = test::EncodeToBytes(c.encode);
        ASSERT_FALSE(file.empty());
        std::vector<std::string> notes;
        const PhotoMetadata back = ReadPhotoMetadata(file, c.code, &notes);
        const Bytes exif = c.code == FormatCode::Tiff ? Bytes{} : meta.exif;
        EXPECT_EQ(back.exif, exif);
        EXPECT_EQ(back.icc, meta.icc);
        EXPECT_TRUE(notes.empty());
        // The pictures still decode as before.
        Bitmap decoded;
        if (c.code == FormatCode::Png) {
            ASSERT_TRUE(DecodePng(file, decoded));
            EXPECT_EQ(test::CountDifferences(test::ToRgb(decoded), test::ToRgb(palette)), 0);
        } else if (c.code == FormatCode::Tiff) {
            ASSERT_TRUE(ReadTiffData(file, decoded, {}));
            const Bitmap& source = std::string_view(c.name) == "tiff" ? picture : palette;
            EXPECT_EQ(test::CountDifferences(test::ToRgb(decoded), test::ToRgb(source)), 0);
        } else if (c.code == FormatCode::Webp) {
            ASSERT_TRUE(DecodeWebp(file, decoded));
            EXPECT_EQ(test::CountDifferences(test::ToRgb(decoded), test::ToRgb(picture)), 0);
        } else {
            ASSERT_TRUE(DecodeJpeg(file, decoded));
        }
        // Every cut of the file is read without a fault, and whatever is kept is whole.
        for (std::size_t cut = 0; cut < file.size(); cut += 1 + cut / 64) {
            const PhotoMetadata part = ReadPhotoMetadata(std::span(file).first(cut), c.code);
            EXPECT_TRUE(part.exif.empty() || part.exif == exif);
            EXPECT_TRUE(part.icc.empty() || part.icc == meta.icc);
        }
    }
}

// A JPEG file of the given segments (marker, payload) between its start and a scan.
Bytes MakeJpeg(const std::vector<std::pair<std::uint8_t, Bytes>>& segments) {
    Bytes file{0xFF, 0xD8};
    for (const auto& [marker, payload] : segments) {
        const std::size_t length = payload.size() + 2;
        file.insert(file.end(), {0xFF, marker, std::uint8_t(length >> 8), std::uint8_t(length)});
        file.insert(file.end(), payload.begin(), payload.end());
    }
    file.insert(file.end(), {0xFF, 0xDA, 0, 2, 0xFF, 0xD9});
    return file;
}

Bytes IccPiece(int seq, int count, const Bytes& icc, std::size_t from, std::size_t to) {
    const std::string_view name("ICC_PROFILE\0", 12);
    Bytes piece(name.begin(), name.end());
    piece.push_back(static_cast<std::uint8_t>(seq));
    piece.push_back(static_cast<std::uint8_t>(count));
    piece.insert(piece.end(), icc.begin() + from, icc.begin() + to);
    return piece;
}

TEST(PhotoMetadata, JpegProfilePieces) {
    const Bytes icc = MakeProfile(300);
    const auto read = [](const Bytes& file, std::vector<std::string>* notes = nullptr) {
        return ReadPhotoMetadata(file, FormatCode::Jpg, notes).icc;
    };
    // Joined by their numbers, whatever their order.
    EXPECT_EQ(read(MakeJpeg(
                  {{0xE2, IccPiece(2, 2, icc, 100, 300)}, {0xE2, IccPiece(1, 2, icc, 0, 100)}})),
              icc);
    // A missing, repeated or disagreeing piece: nothing kept, one note.
    const std::vector<std::vector<std::pair<std::uint8_t, Bytes>>> broken = {
        {{0xE2, IccPiece(1, 2, icc, 0, 100)}},
        {{0xE2, IccPiece(1, 2, icc, 0, 100)}, {0xE2, IccPiece(1, 2, icc, 0, 100)}},
        {{0xE2, IccPiece(1, 2, icc, 0, 100)}, {0xE2, IccPiece(2, 3, icc, 100, 300)}},
        {{0xE2, IccPiece(0, 1, icc, 0, 300)}},
    };
    for (const auto& segments : broken) {
        std::vector<std::string> notes;
        EXPECT_TRUE(read(MakeJpeg(segments), &notes).empty());
        EXPECT_EQ(notes, std::vector<std::string>{"incomplete colour profile not kept"});
    }
    // A profile whose own size disagrees with its bytes is no profile.
    Bytes wrong = icc;
    wrong[3] ^= 1;
    std::vector<std::string> notes;
    EXPECT_TRUE(read(MakeJpeg({{0xE2, IccPiece(1, 1, wrong, 0, 300)}}), &notes).empty());
    EXPECT_EQ(notes, std::vector<std::string>{"damaged colour profile not kept"});
}

TEST(SrgbConversion, EveryDepthTheSameColours) {
    const std::filesystem::path swap = "/usr/share/color/icc/colord/SwappedRedAndGreen.icc";
    if (!std::filesystem::exists(swap)) GTEST_SKIP() << "colord-data is not installed";
    const Bytes icc = test::ReadAll(swap);
    const Bitmap source = test::MakePatternBitmap(19, 7, 8, 11);
    Bitmap palette = source;
    Bitmap bgr, bgrx;
    ASSERT_TRUE(ConvertTo24(source, bgr));
    ASSERT_TRUE(bgrx.Create(19, 7, 32));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 19; ++x) {
            std::copy_n(bgr.Row(y) + 3 * x, 3, bgrx.Row(y) + 4 * x);
            bgrx.Row(y)[4 * x + 3] = static_cast<std::uint8_t>(x * 13);
        }
    std::string why;
    ASSERT_TRUE(ConvertToSrgb(palette, icc, &why)) << why;
    ASSERT_TRUE(ConvertToSrgb(bgr, icc, &why)) << why;
    ASSERT_TRUE(ConvertToSrgb(bgrx, icc, &why)) << why;
    EXPECT_EQ(palette.BitCount(), 8);
    EXPECT_EQ(test::CountDifferences(test::ToRgb(palette), test::ToRgb(bgr)), 0);
    EXPECT_EQ(test::CountDifferences(test::ToRgb(bgrx), test::ToRgb(bgr)), 0);
    EXPECT_GT(test::CountDifferences(test::ToRgb(bgr), test::ToRgb(source), 60), 0);
    for (int x = 0; x < 19; ++x) EXPECT_EQ(bgrx.Row(3)[4 * x + 3], x * 13);
    // Profiles that cannot apply leave the pixels alone.
    const Bitmap before = bgr;
    Bytes junk = MakeProfile(400);
    EXPECT_FALSE(ConvertToSrgb(bgr, junk, &why));
    EXPECT_EQ(why, "damaged colour profile");
    EXPECT_TRUE(bgr == before);
}

}  // namespace
}  // namespace ozm
