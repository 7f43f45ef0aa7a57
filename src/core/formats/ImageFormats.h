#pragma once
// The formats this program knows, in one table: for each, the code by which a caller asks the
// image writer for it, its name, the extensions read as it (and whether the desktop lists show
// them), the extension written, its decoder and its encoder. A file's format is decided by
// its extension alone; contents are never sniffed.

#include <array>
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
// Writes the bitmap to an open file.
using ImageEncoder = bool (*)(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings);

struct ReadExtension {
    std::string_view text;  // lower-case, with the dot; empty ends a row's list
    bool listed = false;    // shown by the desktop lists and accepted from the command line
};

struct ImageFormat {
    std::string_view name;       // "BMP", "JPG", ... as the command line and the window show it
    ImageFormatCode code;        // 0: never written
    std::string_view extension;  // written, lower-case, with the dot; empty when not written
    std::array<ReadExtension, 4> reads;
    ImageDecoder decoder;  // nullptr: listed but not read
    ImageEncoder encoder;  // nullptr: not written
    // False for a format only the command line reads and writes (WebP): the desktop
    // program's tables, lists and menus never show it.
    bool listed = true;
};

// Every format the desktop program knows, the written ones first in the order a conversion
// writes the ticked formats of one file (BMP, JPG, JPEG, PNG, EMF, WMF, GIF, TIFF), then the
// ones only listed.
std::span<const ImageFormat> ImageFormatTable();

// ImageFormatTable followed by the rows that are not listed (WebP).
std::span<const ImageFormat> AllImageFormats();

// Every written format in writing order: the eight of OutputFormatTable, then WebP.
const std::array<const ImageFormat*, 9>& WrittenFormats();

// The eight written formats, in writing order.
std::span<const ImageFormat> OutputFormatTable();

// The row that writes `code`; nullptr for codes outside 1..8 and 10 (WebP).
const ImageFormat* FormatForCode(ImageFormatCode code);

// The row that reads the lower-cased, untrimmed extension `ext` (".webp" included); nullptr
// when none does.
const ImageFormat* FormatForReadExtension(std::string_view ext);

// The twelve lower-case extensions, dot included, of files the program lists and accepts.
// ".ico" is listed although nothing decodes it; ".tiff" is decoded but not listed.
const std::array<std::string_view, 12>& SupportedImageExtensions();

// True when `ext`, trimmed of characters up to code 32 and ASCII-lower-cased, is one of
// SupportedImageExtensions.
bool IsSupportedImageExtension(std::string_view ext);

// IsSupportedImageExtension of the path's extension (ExtractFileExt).
bool IsSupportedImageFile(std::string_view path);

// Extension the writer forces onto the output name for a code (".jpg" for 1, ..., ".webp"
// for 10); empty for other codes.
std::string_view OutputExtension(ImageFormatCode code);

}  // namespace ozm
