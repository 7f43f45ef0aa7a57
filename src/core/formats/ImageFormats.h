#pragma once
// The formats this program knows, the extensions that stand for them, and ImageFormatCode,
// the small number by which a caller asks the image writer for an output format. A file's
// format is decided by its extension alone; contents are never sniffed.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ozm {

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
}  // namespace FormatCode

// The twelve lower-case extensions, dot included, of files the program lists and accepts.
// ".ico" is listed although nothing decodes it; ".tiff" is decoded but not listed.
const std::array<std::string_view, 12>& SupportedImageExtensions();

// True when `ext`, trimmed of characters up to code 32 and ASCII-lower-cased, is one of
// SupportedImageExtensions.
bool IsSupportedImageExtension(std::string_view ext);

// IsSupportedImageExtension of the path's extension (ExtractFileExt).
bool IsSupportedImageFile(std::string_view path);

// Extension the writer forces onto the output name for a code (".jpg" for 1, ...); empty
// for codes outside 1..8.
std::string_view OutputExtension(ImageFormatCode code);

// The order in which a conversion writes the ticked formats of one file.
struct OutputFormatRow {
    std::string_view name;  // "BMP", "JPG", ... as the command line and the window show it
    ImageFormatCode code;
    std::string_view extension;  // lower-case, with the dot
};
const std::array<OutputFormatRow, 8>& OutputFormatTable();

// A message that a reader shows to the user (the TIFF reader's refusals). The desktop program
// shows it in a message box; the command line prints it on stderr. An empty callback drops it.
using MessageCallback = std::function<void(const std::string& text)>;

}  // namespace ozm
