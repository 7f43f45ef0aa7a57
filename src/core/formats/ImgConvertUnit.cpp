#include "core/formats/ImgConvertUnit.h"

#include <array>
#include <atomic>
#include <exception>
#include <string_view>

#include "core/formats/Bmp2Tiff.h"
#include "core/formats/BmpCodec.h"
#include "core/formats/FileBytes.h"
#include "core/formats/GifCodec.h"
#include "core/formats/JpegCodec.h"
#include "core/formats/OutputFile.h"
#include "core/formats/PngCodec.h"
#include "core/formats/ReadTiff.h"
#include "core/formats/ozmEmfUnit.h"
#include "core/text/TextRules.h"

namespace ozm {

namespace {

enum class Decoder { Jpeg, Bmp, Gif, Metafile, Png, Tiff };

struct DecoderRow {
    std::string_view extension;
    Decoder decoder;
};

// Tested top to bottom on the lower-cased, untrimmed extension.
constexpr std::array<DecoderRow, 12> kDecoderTable = {{
    {".jpg", Decoder::Jpeg},
    {".jpeg", Decoder::Jpeg},
    {".jpe", Decoder::Jpeg},
    {".jfif", Decoder::Jpeg},
    {".bmp", Decoder::Bmp},
    {".dib", Decoder::Bmp},
    {".gif", Decoder::Gif},
    {".emf", Decoder::Metafile},
    {".wmf", Decoder::Metafile},
    {".png", Decoder::Png},
    {".tif", Decoder::Tiff},
    {".tiff", Decoder::Tiff},
}};

std::atomic<int> gJpegQuality{75};

bool Decode(Decoder decoder, const std::filesystem::path& path, Bitmap& target,
            const MessageCallback& onMessage) {
    if (decoder == Decoder::Tiff) return ReadTiffFile(path, target, onMessage);
    const auto bytes = ReadFileBytes(path);
    if (!bytes) return false;
    const std::span<const std::uint8_t> data(*bytes);
    switch (decoder) {
        case Decoder::Jpeg:
            return DecodeJpeg(data, target);
        case Decoder::Bmp:
            return DecodeBmp(data, target);
        case Decoder::Gif:
            return DecodeGif(data, target);
        case Decoder::Metafile:
            return PlayMetafileIntoBitmap(data, target);
        case Decoder::Png:
            return DecodePng(data, target);
        case Decoder::Tiff:
            break;
    }
    return false;
}

bool Encode(const Bitmap& bitmap, std::FILE* file, ImageFormatCode code,
            const WriteSettings& settings) {
    switch (code) {
        case FormatCode::Jpg:
        case FormatCode::Jpeg:
            return EncodeJpeg(bitmap, file, settings.jpegQuality & 0xFF);
        case FormatCode::Png:
            return EncodePng(bitmap, file, settings.pngFilterSet);
        case FormatCode::Bmp:
            return EncodeBmp(bitmap, file);
        case FormatCode::Wmf:
            return BuildMetafileFromBitmap(bitmap, file, MetafileKind::Wmf);
        case FormatCode::Emf:
            return BuildMetafileFromBitmap(bitmap, file, MetafileKind::Emf);
        case FormatCode::Gif:
            return EncodeGif(bitmap, file);
        case FormatCode::Tiff:
            return WriteTiffFile(bitmap, file);
        default:
            return false;
    }
}

}  // namespace

bool ReadImageFile(const std::filesystem::path& path, Bitmap& target,
                   const MessageCallback& onMessage) {
    const std::string ext = AsciiLower(ExtractFileExt(path.native()));
    for (const DecoderRow& row : kDecoderTable) {
        if (row.extension != ext) continue;
        try {
            return Decode(row.decoder, path, target, onMessage);
        } catch (const std::exception&) {
            return false;
        }
    }
    return false;
}

int JpegQuality() { return gJpegQuality.load(std::memory_order_relaxed); }
void SetJpegQuality(int quality) { gJpegQuality.store(quality, std::memory_order_relaxed); }

std::filesystem::path OutputNameFor(const std::filesystem::path& path, ImageFormatCode code) {
    const std::string_view ext = OutputExtension(code);
    if (ext.empty()) return {};
    const std::string& text = path.native();
    if (AsciiLower(ExtractFileExt(text)) == ext) return path;
    return ChangeFileExt(text, ext);
}

bool WriteImageFile(const Bitmap& bitmap, const std::filesystem::path& path, ImageFormatCode code,
                    const WriteSettings& settings) {
    const std::filesystem::path name = OutputNameFor(path, code);
    if (name.empty()) return false;
    try {
        OutputFile out(name, settings.replaceExisting ? ExistingFile::Replace : ExistingFile::Keep);
        if (!out.IsOpen()) return false;
        if (!Encode(bitmap, out.Stream(), code, settings)) return false;
        return out.Commit();
    } catch (const std::exception&) {
        return false;
    }
}

bool WriteImageFile(const Bitmap& bitmap, const std::filesystem::path& path, ImageFormatCode code) {
    WriteSettings settings;
    settings.jpegQuality = JpegQuality();
    return WriteImageFile(bitmap, path, code, settings);
}

}  // namespace ozm
