#pragma once
// The formats this program knows, in one table. A row says everything about its format: the
// code by which a caller asks the image writer for it, its name, the extensions read as it and
// the one written, its MIME types, its decoder and encoder, and where the desktop program
// shows it (the main window's tick box, the quick menu's submenu). Every list of formats (the
// window's boxes and their settings keys, the quick menu, the command line's --to, the
// file-manager hooks' filters) is drawn from it. A file's format is decided by its extension
// alone; contents are never sniffed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace ozm {

class Bitmap;
struct WriteSettings;

using ImageFormatCode = std::uint8_t;

namespace FormatCode {
inline constexpr ImageFormatCode Jpg = 1;
inline constexpr ImageFormatCode Png = 2;
inline constexpr ImageFormatCode Bmp = 3;
inline constexpr ImageFormatCode Jpeg = 4;
inline constexpr ImageFormatCode Wmf = 5;
inline constexpr ImageFormatCode Emf = 6;
inline constexpr ImageFormatCode Gif = 7;
inline constexpr ImageFormatCode Tiff = 8;
// Written by the command line only; 9 stays unused so that it keeps writing nothing.
inline constexpr ImageFormatCode Webp = 10;
}  // namespace FormatCode

// A message that a reader shows to the user (the TIFF reader's refusals). The desktop program
// shows it in a message box; the command line prints it on stderr. An empty callback drops it.
using MessageCallback = std::function<void(const std::string& text)>;

// Reads a whole file into the bitmap; false, with `reason` (when given) saying why, when it
// cannot.
using ImageDecoder = bool (*)(const std::filesystem::path& path, Bitmap& target,
                              const MessageCallback& onMessage, std::string* reason);
// Writes the bitmap to an open file. Every encoder takes every bit depth (1, 4, 8, 16, 24,
// 32) and converts what it cannot store itself: the writer hands each bitmap on as it is.
using ImageEncoder = bool (*)(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings);

struct ReadExtension {
    std::string_view text;  // lower-case, with the dot; empty ends a row's list
    // 0: not listed. Otherwise the extension is listed (shown by the desktop lists and
    // accepted from the command line), and this is its place, from 1, in the file managers'
    // filters, which keep an order of their own.
    std::uint8_t listPlace = 0;
};

// The row's tick box in the main window.
struct FormatBoxPlace {
    std::uint8_t place = 0;  // among the boxes as the settings file stores them, from 1; 0: none
    std::string_view key;    // its settings key, which is also the box's object name
    int row = -1;            // in the window's grid; -1: hidden, the box only keeps its setting
    int column = -1;
    bool ticked = false;  // when the settings file does not say
};

// The row's submenu in the quick conversion menu.
struct QuickMenuPlace {
    std::uint8_t place = 0;    // in the menu, from 1; 0: none
    std::string_view caption;  // the JPG caption is replaced by the quality's
    std::string_view objectName;
    bool underOtherFormats = false;  // under "转换为其他图片格式"
};

struct ImageFormat {
    std::string_view name;         // "BMP", "JPG", ... as the command line and the window show it
    ImageFormatCode code = 0;      // 0: never written
    std::string_view extension{};  // written, lower-case, with the dot; empty when not written
    std::array<ReadExtension, 4> reads{};
    // As the file managers match files by type; a type another row gave already is not
    // repeated in their lists.
    std::array<std::string_view, 3> mimeTypes{};
    ImageDecoder decoder = nullptr;  // nullptr: listed but not read
    ImageEncoder encoder = nullptr;  // nullptr: not written
    // False for a format only the command line reads and writes (WebP): the desktop
    // program's tables, lists and menus never show it.
    bool listed = true;
    FormatBoxPlace box{};
    QuickMenuPlace quick{};
};

// The codecs as the table calls them (ImageFormats.cpp): each hands the file, or the bitmap
// and the writer's settings, on to its codec.
namespace codec {
bool ReadBmp(const std::filesystem::path&, Bitmap&, const MessageCallback&, std::string*);
bool ReadJpeg(const std::filesystem::path&, Bitmap&, const MessageCallback&, std::string*);
bool ReadPng(const std::filesystem::path&, Bitmap&, const MessageCallback&, std::string*);
bool ReadGif(const std::filesystem::path&, Bitmap&, const MessageCallback&, std::string*);
bool ReadMetafile(const std::filesystem::path&, Bitmap&, const MessageCallback&, std::string*);
bool ReadTiff(const std::filesystem::path&, Bitmap&, const MessageCallback&, std::string*);
bool ReadWebp(const std::filesystem::path&, Bitmap&, const MessageCallback&, std::string*);
bool WriteBmp(const Bitmap&, std::FILE*, const WriteSettings&);
bool WriteJpeg(const Bitmap&, std::FILE*, const WriteSettings&);
bool WritePng(const Bitmap&, std::FILE*, const WriteSettings&);
bool WriteEmf(const Bitmap&, std::FILE*, const WriteSettings&);
bool WriteWmf(const Bitmap&, std::FILE*, const WriteSettings&);
bool WriteGif(const Bitmap&, std::FILE*, const WriteSettings&);
bool WriteTiff(const Bitmap&, std::FILE*, const WriteSettings&);
bool WriteWebp(const Bitmap&, std::FILE*, const WriteSettings&);
}  // namespace codec

// The written formats come first, in the order a conversion writes the ticked formats of one
// file (BMP, JPG, JPEG, PNG, EMF, WMF, GIF, TIFF), then the ones the desktop program only
// lists or keeps a hidden box for, then the command line's own. JPG and JPEG write the same
// bytes under two extensions; the reading extensions of JPEG files sit with JPG but for
// ".jpeg" itself.
inline constexpr std::array<ImageFormat, 11> kImageFormats = {{
    {.name = "BMP",
     .code = FormatCode::Bmp,
     .extension = ".bmp",
     .reads = {{{".bmp", 5}, {".dib", 6}}},
     .mimeTypes = {"image/bmp", "image/x-bmp", "image/x-ms-bmp"},
     .decoder = &codec::ReadBmp,
     .encoder = &codec::WriteBmp,
     .box = {3, "CBBMP", 0, 1},
     .quick = {3, "转换为BMP图片", "MnBMP"}},
    {.name = "JPG",
     .code = FormatCode::Jpg,
     .extension = ".jpg",
     .reads = {{{".jpg", 1}, {".jpe", 3}, {".jfif", 4}}},
     .mimeTypes = {"image/jpeg", "image/pjpeg"},
     .decoder = &codec::ReadJpeg,
     .encoder = &codec::WriteJpeg,
     .box = {1, "CbJPG", 0, 0, true},
     .quick = {1, "转换为JPG图片, 75%", "MnJPG"}},
    {.name = "JPEG",
     .code = FormatCode::Jpeg,
     .extension = ".jpeg",
     .reads = {{{".jpeg", 2}}},
     .mimeTypes = {"image/jpeg", "image/pjpeg"},
     .decoder = &codec::ReadJpeg,
     .encoder = &codec::WriteJpeg,
     .box = {4, "CBJPEG", 1, 1},
     .quick = {4, "JPEG", "MnJPEG", true}},
    {.name = "PNG",
     .code = FormatCode::Png,
     .extension = ".png",
     .reads = {{{".png", 9}}},
     .mimeTypes = {"image/png"},
     .decoder = &codec::ReadPng,
     .encoder = &codec::WritePng,
     .box = {2, "CbPNG", 1, 0},
     .quick = {2, "转换为PNG图片", "MnPNG"}},
    {.name = "EMF",
     .code = FormatCode::Emf,
     .extension = ".emf",
     .reads = {{{".emf", 10}}},
     .mimeTypes = {"image/emf", "image/x-emf"},
     .decoder = &codec::ReadMetafile,
     .encoder = &codec::WriteEmf,
     .box = {7, "CBEMF", 3, 0},
     .quick = {8, "EMF", "MnEMF", true}},
    {.name = "WMF",
     .code = FormatCode::Wmf,
     .extension = ".wmf",
     .reads = {{{".wmf", 11}}},
     .mimeTypes = {"image/wmf", "image/x-wmf"},
     .decoder = &codec::ReadMetafile,
     .encoder = &codec::WriteWmf,
     .box = {8, "CBWMF", 3, 1},
     .quick = {7, "WMF", "MnWMF", true}},
    {.name = "GIF",
     .code = FormatCode::Gif,
     .extension = ".gif",
     .reads = {{{".gif", 7}}},
     .mimeTypes = {"image/gif"},
     .decoder = &codec::ReadGif,
     .encoder = &codec::WriteGif,
     .box = {5, "CBGIF", 2, 0},
     .quick = {5, "GIF", "MnGIF", true}},
    {.name = "TIFF",
     .code = FormatCode::Tiff,
     .extension = ".tif",
     .reads = {{{".tif", 8}, {".tiff", 0}}},
     .mimeTypes = {"image/tiff"},
     .decoder = &codec::ReadTiff,
     .encoder = &codec::WriteTiff,
     .box = {10, "CBTIFF", 2, 1},
     .quick = {6, "TIF", "MnTIF", true}},
    // Icons are listed, so that a user sees them, but nothing reads or writes them.
    {.name = "ICO",
     .reads = {{{".ico", 12}}},
     .mimeTypes = {"image/vnd.microsoft.icon", "image/x-icon"},
     .box = {6, "CBICO"}},
    // Known only by the window's hidden box.
    {.name = "PCX", .box = {9, "CBPCX"}},
    {.name = "WEBP",
     .code = FormatCode::Webp,
     .extension = ".webp",
     .reads = {{{".webp", 0}}},
     .mimeTypes = {"image/webp"},
     .decoder = &codec::ReadWebp,
     .encoder = &codec::WriteWebp,
     .listed = false},
}};

// The highest code of the table.
inline constexpr ImageFormatCode kHighestFormatCode = [] {
    ImageFormatCode highest = 0;
    for (const ImageFormat& row : kImageFormats) highest = row.code > highest ? row.code : highest;
    return highest;
}();

// How many rows `place` (a row's place in some list, from 1; 0 for none) gives a place to.
template <class Place>
consteval std::size_t CountPlaced(Place place) {
    std::size_t n = 0;
    for (const ImageFormat& row : kImageFormats) n += place(row) != 0 ? 1 : 0;
    return n;
}

// The rows that `place` gives a place to, in the order of their places. A place given twice,
// or one left out, does not compile.
template <std::size_t N, class Place>
consteval std::array<const ImageFormat*, N> RowsByPlace(Place place) {
    std::array<const ImageFormat*, N> rows{};
    for (const ImageFormat& row : kImageFormats) {
        const std::size_t at = place(row);
        if (at == 0) continue;
        if (at > N || rows[at - 1] != nullptr) throw "a place given twice or out of range";
        rows[at - 1] = &row;
    }
    return rows;
}

// Every format the desktop program knows (the listed rows).
std::span<const ImageFormat> ImageFormatTable();

// ImageFormatTable followed by the rows that are not listed (WebP).
std::span<const ImageFormat> AllImageFormats();

// Every written format in writing order: the desktop program's, then WebP.
std::span<const ImageFormat* const> WrittenFormats();

// The formats the desktop program writes (codes 1..8), in writing order.
std::span<const ImageFormat> OutputFormatTable();

// True for a code the desktop program writes (1..8): a stored or handed-over code outside
// them would write nothing.
bool WrittenByDesktop(ImageFormatCode code);

// The row that writes `code`; nullptr for codes outside 1..8 and 10 (WebP).
const ImageFormat* FormatForCode(ImageFormatCode code);

// The row that reads the lower-cased, untrimmed extension `ext` (".webp" included); nullptr
// when none does.
const ImageFormat* FormatForReadExtension(std::string_view ext);

// The twelve lower-case extensions, dot included, of files the program lists and accepts, in
// the table's order. ".ico" is listed although nothing decodes it; ".tiff" is decoded but not
// listed.
std::span<const std::string_view> SupportedImageExtensions();

// The same twelve in the order of their places in the file managers' filters.
std::span<const std::string_view> FileManagerExtensions();

// The MIME types of the rows with listed extensions, each once, in the order of the rows'
// first places in the file managers' filters.
std::span<const std::string_view> FileManagerMimeTypes();

// True when `ext`, trimmed of characters up to code 32 and ASCII-lower-cased, is one of
// SupportedImageExtensions.
bool IsSupportedImageExtension(std::string_view ext);

// IsSupportedImageExtension of the path's extension (ExtractFileExt).
bool IsSupportedImageFile(std::string_view path);

// True when the desktop program reads the path's extension (ASCII-lower-cased): a listed row
// decodes it. Unlike IsSupportedImageFile, ".tiff" is and ".ico" is not.
bool IsDesktopReadableFile(std::string_view path);

// Extension the writer forces onto the output name for a code (".jpg" for 1, ..., ".webp"
// for 10); empty for other codes.
std::string_view OutputExtension(ImageFormatCode code);

}  // namespace ozm
