#include "core/formats/ImageFormats.h"

#include <algorithm>
#include <span>

#include "core/formats/ImgConvertUnit.h"
#include "core/formats/io/FileBytes.h"
#include "core/formats/metafile/ozmEmfUnit.h"
#include "core/formats/raster/BmpCodec.h"
#include "core/formats/raster/GifCodec.h"
#include "core/formats/raster/JpegCodec.h"
#include "core/formats/raster/PngCodec.h"
#include "core/formats/raster/WebpCodec.h"
#include "core/formats/tiff/Bmp2Tiff.h"
#include "core/formats/tiff/ReadTiff.h"
#include "core/text/TextRules.h"

namespace ozm {

namespace {

using BytesDecoder = bool (*)(std::span<const std::uint8_t>, Bitmap&, std::string*);

// A decoder of bytes in memory, given the file's bytes once its length and start fit the
// format.
template <BytesDecoder decode, const FileShape& shape>
bool DecodeFile(const std::filesystem::path& path, Bitmap& target, const MessageCallback&,
                std::string* reason) {
    const auto bytes = ReadFileBytes(path, reason, shape);
    return bytes && decode(*bytes, target, reason);
}

constexpr FileShape kAnyShape{};

bool DecodeTiffFile(const std::filesystem::path& path, Bitmap& target,
                    const MessageCallback& onMessage, std::string* reason) {
    return ReadTiffFile(path, target, onMessage, reason);
}

bool EncodeJpegFile(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    // Only the low byte of the quality reaches the encoder.
    return EncodeJpeg(bitmap, file, settings.jpegQuality & 0xFF);
}
bool EncodePngFile(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    PngWriteOptions options;
    options.filterSet = settings.pngFilterSet;
    options.threads = settings.threads;
    return EncodePng(bitmap, file, options);
}
bool EncodeBmpFile(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    return EncodeBmp(bitmap, file, settings.threads);
}
bool EncodeEmfFile(const Bitmap& bitmap, std::FILE* file, const WriteSettings&) {
    return BuildMetafileFromBitmap(bitmap, file, MetafileKind::Emf);
}
bool EncodeWmfFile(const Bitmap& bitmap, std::FILE* file, const WriteSettings&) {
    return BuildMetafileFromBitmap(bitmap, file, MetafileKind::Wmf);
}
bool EncodeGifFile(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    return EncodeGif(bitmap, file, settings.threads);
}
bool EncodeWebpFile(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    return EncodeWebp(bitmap, file, settings.jpegQuality, settings.lossless);
}
bool DecodeWebpBytes(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason) {
    return DecodeWebp(data, out, reason);
}
bool EncodeTiffFile(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    return WriteTiffFile(bitmap, file, settings.threads);
}

constexpr auto kJpeg = &DecodeFile<&DecodeJpeg, kJpegFileShape>;
constexpr auto kBmp = &DecodeFile<&DecodeBmp, kBmpFileShape>;
constexpr auto kPng = &DecodeFile<&DecodePng, kPngFileShape>;
constexpr auto kGif = &DecodeFile<&DecodeGif, kGifFileShape>;
constexpr auto kWebp = &DecodeFile<&DecodeWebpBytes, kWebpFileShape>;
constexpr auto kMetafile = &DecodeFile<&PlayMetafileIntoBitmap, kAnyShape>;

// JPG and JPEG write the same bytes under two extensions; the reading extensions of JPEG
// files sit with JPG but for ".jpeg" itself.
constexpr std::array<ImageFormat, 10> kFormats = {{
    {"BMP", FormatCode::Bmp, ".bmp", {{{".bmp", true}, {".dib", true}}}, kBmp, &EncodeBmpFile},
    {"JPG",
     FormatCode::Jpg,
     ".jpg",
     {{{".jpg", true}, {".jpe", true}, {".jfif", true}}},
     kJpeg,
     &EncodeJpegFile},
    {"JPEG", FormatCode::Jpeg, ".jpeg", {{{".jpeg", true}}}, kJpeg, &EncodeJpegFile},
    {"PNG", FormatCode::Png, ".png", {{{".png", true}}}, kPng, &EncodePngFile},
    {"EMF", FormatCode::Emf, ".emf", {{{".emf", true}}}, kMetafile, &EncodeEmfFile},
    {"WMF", FormatCode::Wmf, ".wmf", {{{".wmf", true}}}, kMetafile, &EncodeWmfFile},
    {"GIF", FormatCode::Gif, ".gif", {{{".gif", true}}}, kGif, &EncodeGifFile},
    {"TIFF",
     FormatCode::Tiff,
     ".tif",
     {{{".tif", true}, {".tiff", false}}},
     &DecodeTiffFile,
     &EncodeTiffFile},
    // Icons are listed, so that a user sees them, but nothing reads or writes them.
    {"ICO", 0, "", {{{".ico", true}}}, nullptr, nullptr},
    // The command line's own; after the listed rows, which ImageFormatTable ends with.
    {"WEBP", FormatCode::Webp, ".webp", {{{".webp", false}}}, kWebp, &EncodeWebpFile, false},
}};

constexpr std::size_t kListedRows = 9;
static_assert(kFormats[kListedRows - 1].listed && !kFormats[kListedRows].listed);

}  // namespace

std::span<const ImageFormat> ImageFormatTable() { return std::span(kFormats).first(kListedRows); }

std::span<const ImageFormat> AllImageFormats() { return kFormats; }

const std::array<const ImageFormat*, 9>& WrittenFormats() {
    static const std::array<const ImageFormat*, 9> kWritten = {
        &kFormats[0], &kFormats[1], &kFormats[2], &kFormats[3], &kFormats[4],
        &kFormats[5], &kFormats[6], &kFormats[7], &kFormats[9]};
    return kWritten;
}

std::span<const ImageFormat> OutputFormatTable() { return std::span(kFormats).first(8); }

const ImageFormat* FormatForCode(ImageFormatCode code) {
    for (const ImageFormat& format : kFormats) {
        if (code != 0 && format.code == code) return &format;
    }
    return nullptr;
}

const ImageFormat* FormatForReadExtension(std::string_view ext) {
    for (const ImageFormat& format : kFormats) {
        for (const ReadExtension& read : format.reads) {
            if (!read.text.empty() && read.text == ext) return &format;
        }
    }
    return nullptr;
}

const std::array<std::string_view, 12>& SupportedImageExtensions() {
    static const std::array<std::string_view, 12> kListed = [] {
        std::array<std::string_view, 12> listed{};
        std::size_t n = 0;
        for (const ImageFormat& format : kFormats) {
            for (const ReadExtension& read : format.reads) {
                if (read.listed && n < listed.size()) listed[n++] = read.text;
            }
        }
        return listed;
    }();
    return kListed;
}

bool IsSupportedImageExtension(std::string_view ext) {
    const std::string folded = AsciiLower(TrimControl(ext));
    const auto& all = SupportedImageExtensions();
    return std::find(all.begin(), all.end(), folded) != all.end();
}

bool IsSupportedImageFile(std::string_view path) {
    return IsSupportedImageExtension(ExtractFileExt(path));
}

std::string_view OutputExtension(ImageFormatCode code) {
    const ImageFormat* format = FormatForCode(code);
    return format ? format->extension : std::string_view{};
}

}  // namespace ozm
