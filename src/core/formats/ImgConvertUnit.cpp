#include "core/formats/ImgConvertUnit.h"

#include <array>
#include <exception>
#include <new>
#include <string_view>

#include "core/formats/Bmp2Tiff.h"
#include "core/formats/BmpCodec.h"
#include "core/formats/FileBytes.h"
#include "core/formats/GifCodec.h"
#include "core/formats/JpegCodec.h"
#include "core/formats/OutputFile.h"
#include "core/formats/PngCodec.h"
#include "core/formats/ReadTiff.h"
#include "core/formats/metafile/ozmEmfUnit.h"
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

bool Decode(Decoder decoder, const std::filesystem::path& path, Bitmap& target,
            const MessageCallback& onMessage, std::string* reason) {
    if (decoder == Decoder::Tiff) return ReadTiffFile(path, target, onMessage, reason);
    const auto bytes = ReadFileBytes(path, reason);
    if (!bytes) return false;
    const std::span<const std::uint8_t> data(*bytes);
    switch (decoder) {
        case Decoder::Jpeg:
            return DecodeJpeg(data, target, reason);
        case Decoder::Bmp:
            return DecodeBmp(data, target, reason);
        case Decoder::Gif:
            return DecodeGif(data, target, reason);
        case Decoder::Metafile:
            return PlayMetafileIntoBitmap(data, target, reason);
        case Decoder::Png:
            return DecodePng(data, target, reason);
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
                   const MessageCallback& onMessage, std::string* reason) {
    std::string why;
    const std::string ext = AsciiLower(ExtractFileExt(path.native()));
    bool ok = false;
    bool known = false;
    for (const DecoderRow& row : kDecoderTable) {
        if (row.extension != ext) continue;
        known = true;
        try {
            ok = Decode(row.decoder, path, target, onMessage, &why);
        } catch (const std::bad_alloc&) {
            Refuse(&why, "out of memory");
        } catch (const std::exception& e) {
            Refuse(&why, e.what());
        } catch (...) {
            Refuse(&why, "unexpected failure");
        }
        break;
    }
    if (!ok && reason) {
        if (!known) why = "not a supported image type";
        *reason = why.empty() ? "damaged or unsupported image data" : why;
    }
    return ok;
}

std::filesystem::path OutputNameFor(const std::filesystem::path& path, ImageFormatCode code) {
    const std::string_view ext = OutputExtension(code);
    if (ext.empty()) return {};
    const std::string& text = path.native();
    if (AsciiLower(ExtractFileExt(text)) == ext) return path;
    return ChangeFileExt(text, ext);
}

bool WriteImageFile(const Bitmap& bitmap, const std::filesystem::path& path, ImageFormatCode code,
                    const WriteSettings& settings, ImageWriteReport* report) {
    ImageWriteReport local;
    ImageWriteReport& r = report ? *report : local;
    r = ImageWriteReport{};
    const std::filesystem::path name = OutputNameFor(path, code);
    r.written = name.empty() ? path : name;
    if (name.empty()) {
        r.reason = "unknown output format";
        return false;
    }
    try {
        OutputFile out(name, settings.replaceExisting ? ExistingFile::Replace : ExistingFile::Keep);
        if (!out.IsOpen()) {
            r.reason = out.FailureReason();
            return false;
        }
        if (!Encode(bitmap, out.Stream(), code, settings)) {
            // A failed write (full disk, size limit) is the likelier cause; the stream knows.
            out.Flush();
            r.reason = out.FailureReason().empty() ? "the image cannot be stored in this format"
                                                   : out.FailureReason();
            return false;
        }
        const bool ok = out.Commit(settings.nextFreeName);
        r.written = out.Target();
        if (!ok) r.reason = out.FailureReason();
        return ok;
    } catch (const std::bad_alloc&) {
        r.reason = "out of memory";
    } catch (const std::exception& e) {
        r.reason = e.what();
    } catch (...) {
        r.reason = "unexpected failure";
    }
    return false;
}

bool WriteImageFile(const Bitmap& bitmap, const std::filesystem::path& path, ImageFormatCode code) {
    return WriteImageFile(bitmap, path, code, WriteSettings{});
}

}  // namespace ozm
