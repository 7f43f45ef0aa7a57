#include "core/formats/ImageFormats.h"

#include <algorithm>
#include <vector>

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
bool DecodeFile(const std::filesystem::path& path, Bitmap& target, std::string* reason) {
    const auto bytes = ReadFileBytes(path, reason, shape);
    return bytes && decode(*bytes, target, reason);
}

constexpr FileShape kAnyShape{};

bool DecodeWebpBytes(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason) {
    return DecodeWebp(data, out, reason);
}

constexpr bool IsListed(const ImageFormat& row) { return row.listed; }
constexpr bool IsDesktopOutput(const ImageFormat& row) { return row.listed && row.encoder; }

// The rows for which `keep` holds form a run at the table's start; its length.
template <class Keep>
consteval std::size_t LeadingRun(Keep keep) {
    std::size_t n = 0;
    while (n < kImageFormats.size() && keep(kImageFormats[n])) ++n;
    for (std::size_t i = n; i < kImageFormats.size(); ++i) {
        if (keep(kImageFormats[i])) throw "such rows must come first";
    }
    return n;
}

constexpr std::size_t kListedRows = LeadingRun(IsListed);
constexpr std::size_t kDesktopOutputRows = LeadingRun(IsDesktopOutput);

constexpr std::size_t kWrittenRows = [] {
    std::size_t n = 0;
    for (const ImageFormat& row : kImageFormats) n += row.encoder ? 1 : 0;
    return n;
}();

constexpr auto kWritten = [] {
    std::array<const ImageFormat*, kWrittenRows> written{};
    std::size_t n = 0;
    for (const ImageFormat& row : kImageFormats) {
        if (row.encoder) written[n++] = &row;
    }
    return written;
}();

constexpr std::size_t kListedExtensionCount = [] {
    std::size_t n = 0;
    for (const ImageFormat& row : kImageFormats) {
        for (const ReadExtension& read : row.reads) n += read.listPlace != 0 ? 1 : 0;
    }
    return n;
}();

// Listed extensions in the table's order.
constexpr auto kSupported = [] {
    std::array<std::string_view, kListedExtensionCount> listed{};
    std::size_t n = 0;
    for (const ImageFormat& row : kImageFormats) {
        for (const ReadExtension& read : row.reads) {
            if (read.listPlace != 0) listed[n++] = read.text;
        }
    }
    return listed;
}();

// Listed extensions by their places; a place given twice or left out does not compile.
constexpr auto kByPlace = [] {
    std::array<std::string_view, kListedExtensionCount> placed{};
    for (const ImageFormat& row : kImageFormats) {
        for (const ReadExtension& read : row.reads) {
            if (read.listPlace == 0) continue;
            if (read.listPlace > placed.size() || !placed[read.listPlace - 1].empty()) {
                throw "a list place given twice or out of range";
            }
            placed[read.listPlace - 1] = read.text;
        }
    }
    return placed;
}();

// A row's first place in the file managers' filters; 0 when none of its extensions is listed.
constexpr std::size_t FirstListPlace(const ImageFormat& row) {
    std::size_t first = 0;
    for (const ReadExtension& read : row.reads) {
        if (read.listPlace != 0 && (first == 0 || read.listPlace < first)) first = read.listPlace;
    }
    return first;
}

}  // namespace

namespace codec {

bool ReadBmp(const std::filesystem::path& path, Bitmap& target, const MessageCallback&,
             std::string* reason) {
    return DecodeFile<&DecodeBmp, kBmpFileShape>(path, target, reason);
}
bool ReadJpeg(const std::filesystem::path& path, Bitmap& target, const MessageCallback&,
              std::string* reason) {
    return DecodeFile<&DecodeJpeg, kJpegFileShape>(path, target, reason);
}
bool ReadPng(const std::filesystem::path& path, Bitmap& target, const MessageCallback&,
             std::string* reason) {
    return DecodeFile<&DecodePng, kPngFileShape>(path, target, reason);
}
bool ReadGif(const std::filesystem::path& path, Bitmap& target, const MessageCallback&,
             std::string* reason) {
    return DecodeFile<&DecodeGif, kGifFileShape>(path, target, reason);
}
bool ReadMetafile(const std::filesystem::path& path, Bitmap& target, const MessageCallback&,
                  std::string* reason) {
    return DecodeFile<&PlayMetafileIntoBitmap, kAnyShape>(path, target, reason);
}
bool ReadTiff(const std::filesystem::path& path, Bitmap& target, const MessageCallback& onMessage,
              std::string* reason) {
    return ReadTiffFile(path, target, onMessage, reason);
}
bool ReadWebp(const std::filesystem::path& path, Bitmap& target, const MessageCallback&,
              std::string* reason) {
    return DecodeFile<&DecodeWebpBytes, kWebpFileShape>(path, target, reason);
}

bool WriteBmp(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    return EncodeBmp(bitmap, file, settings.threads);
}
bool WriteJpeg(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    // Only the low byte of the quality reaches the encoder.
    return EncodeJpeg(bitmap, file, settings.jpegQuality & 0xFF, settings.metadata);
}
bool WritePng(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    PngWriteOptions options;
    options.filterSet = settings.pngFilterSet;
    options.threads = settings.threads;
    options.metadata = settings.metadata;
    return EncodePng(bitmap, file, options);
}
bool WriteEmf(const Bitmap& bitmap, std::FILE* file, const WriteSettings&) {
    return BuildMetafileFromBitmap(bitmap, file, MetafileKind::Emf);
}
bool WriteWmf(const Bitmap& bitmap, std::FILE* file, const WriteSettings&) {
    return BuildMetafileFromBitmap(bitmap, file, MetafileKind::Wmf);
}
bool WriteGif(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    return EncodeGif(bitmap, file, settings.threads);
}
bool WriteTiff(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    if (settings.metadata)
        return WriteTiffFile(bitmap, file, settings.threads, settings.metadata->icc);
    return WriteTiffFile(bitmap, file, settings.threads);
}
bool WriteWebp(const Bitmap& bitmap, std::FILE* file, const WriteSettings& settings) {
    return EncodeWebp(bitmap, file, settings.jpegQuality, settings.lossless, settings.metadata);
}

}  // namespace codec

std::span<const ImageFormat> ImageFormatTable() {
    return std::span(kImageFormats).first(kListedRows);
}

std::span<const ImageFormat> AllImageFormats() { return kImageFormats; }

std::span<const ImageFormat* const> WrittenFormats() { return kWritten; }

std::span<const ImageFormat> OutputFormatTable() {
    return std::span(kImageFormats).first(kDesktopOutputRows);
}

bool WrittenByDesktop(ImageFormatCode code) {
    const ImageFormat* format = FormatForCode(code);
    return format && IsDesktopOutput(*format);
}

const ImageFormat* FormatForCode(ImageFormatCode code) {
    for (const ImageFormat& format : kImageFormats) {
        if (code != 0 && format.code == code) return &format;
    }
    return nullptr;
}

const ImageFormat* FormatForReadExtension(std::string_view ext) {
    for (const ImageFormat& format : kImageFormats) {
        for (const ReadExtension& read : format.reads) {
            if (!read.text.empty() && read.text == ext) return &format;
        }
    }
    return nullptr;
}

std::span<const std::string_view> SupportedImageExtensions() { return kSupported; }

std::span<const std::string_view> FileManagerExtensions() { return kByPlace; }

std::span<const std::string_view> FileManagerMimeTypes() {
    static const std::vector<std::string_view> kTypes = [] {
        std::vector<const ImageFormat*> rows;
        for (const ImageFormat& row : kImageFormats) {
            if (FirstListPlace(row) != 0) rows.push_back(&row);
        }
        std::sort(rows.begin(), rows.end(), [](const ImageFormat* a, const ImageFormat* b) {
            return FirstListPlace(*a) < FirstListPlace(*b);
        });
        std::vector<std::string_view> types;
        for (const ImageFormat* row : rows) {
            for (std::string_view type : row->mimeTypes) {
                if (!type.empty() && std::find(types.begin(), types.end(), type) == types.end()) {
                    types.push_back(type);
                }
            }
        }
        return types;
    }();
    return kTypes;
}

bool IsSupportedImageExtension(std::string_view ext) {
    const std::string folded = AsciiLower(TrimControl(ext));
    return std::find(kSupported.begin(), kSupported.end(), folded) != kSupported.end();
}

bool IsSupportedImageFile(std::string_view path) {
    return IsSupportedImageExtension(ExtractFileExt(path));
}

bool IsDesktopReadableFile(std::string_view path) {
    const ImageFormat* format = FormatForReadExtension(AsciiLower(ExtractFileExt(path)));
    return format != nullptr && format->listed && format->decoder != nullptr;
}

std::string_view OutputExtension(ImageFormatCode code) {
    const ImageFormat* format = FormatForCode(code);
    return format ? format->extension : std::string_view{};
}

}  // namespace ozm
