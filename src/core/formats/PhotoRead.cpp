#include "core/formats/PhotoRead.h"

#include <cstring>
#include <vector>

#include "core/colour/SrgbConversion.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/formats/io/FileBytes.h"
#include "core/formats/raster/ExifOrientation.h"
#include "core/formats/raster/GifCodec.h"
#include "core/formats/raster/JpegCodec.h"
#include "core/formats/raster/JpegGlue.h"
#include "core/formats/raster/JpegPreview.h"
#include "core/formats/raster/PngCodec.h"
#include "core/formats/raster/PngOnto.h"
#include "core/formats/raster/WebpCodec.h"
#include "core/text/TextRules.h"
#include "core/transforms/Orientation.h"

namespace ozm {

namespace {

bool ReadJpegPhoto(const std::filesystem::path& path, Bitmap& target,
                   const PhotoReadOptions& options, const MessageCallback& onMessage,
                   std::string* reason, PhotoReadResult& result) {
    const auto bytes = ReadFileBytes(path, reason, kJpegFileShape);
    if (!bytes) return false;
    if (options.keepMetadata || options.colourManage) {
        std::vector<std::string> notes;
        result.metadata = ReadPhotoMetadata(*bytes, FormatCode::Jpg, &notes, options.keepMetadata);
        for (const std::string& note : notes) {
            if (onMessage) onMessage(note);
        }
    }
    std::vector<std::uint8_t> exif;
    JpegDecodeRequest header;
    header.exif = options.autoOrient ? &exif : nullptr;
    int width = 0, height = 0;
    if (!DecodeJpegRequest(*bytes, header, nullptr, &width, &height, reason)) return false;
    int orientation = 1;
    if (options.autoOrient) {
        std::string note;
        orientation = ExifOrientation(exif, &note);
        if (!note.empty() && onMessage) onMessage(note);
        result.upright = true;
        result.orientation = orientation;
    }
    if (OrientationSwapsSides(orientation)) std::swap(width, height);
    result.fullWidth = width;
    result.fullHeight = height;
    if (options.neededSize) {
        if (const auto need = options.neededSize(width, height)) {
            result.denominator = ShrinkOnLoadDenominator(width, height, need->first, need->second);
        }
    }
    bool ok = false;
    if (result.denominator > 1) {
        // A reduced decode has its own, lower bound on a multi-scan file's coefficients; the
        // full decode may still manage such a file.
        ok = DecodeJpegScaled(*bytes, result.denominator, target);
        if (!ok) result.denominator = 1;
    }
    if (!ok && !DecodeJpeg(*bytes, target, reason)) return false;
    if (!ApplyOrientation(target, orientation)) return Refuse(reason, "out of memory");
    return true;
}

bool ReadOnto(const std::filesystem::path& path, std::string_view ext, Bitmap& target,
              RgbQuad background, std::string* reason) {
    if (ext == ".png") {
        const auto bytes = ReadFileBytes(path, reason, kPngFileShape);
        return bytes && DecodePngOnto(*bytes, target, background, reason);
    }
    if (ext == ".gif") {
        const auto bytes = ReadFileBytes(path, reason, kGifFileShape);
        return bytes && DecodeGifOnto(*bytes, target, background, reason);
    }
    const auto bytes = ReadFileBytes(path, reason, kWebpFileShape);
    return bytes && DecodeWebp(*bytes, target, reason, background);
}

// The blocks of a file the plain readers read, from its bytes read once more (of a TIFF file
// only the directory and the profile).
void ReadBlocks(const std::filesystem::path& path, const ImageFormat& format, bool withExif,
                const MessageCallback& onMessage, PhotoMetadata& metadata) {
    std::vector<std::string> notes;
    if (format.code == FormatCode::Tiff) {
        metadata = ReadTiffMetadata(path, &notes);
    } else if (format.code == FormatCode::Jpg || format.code == FormatCode::Jpeg ||
               format.code == FormatCode::Png || format.code == FormatCode::Webp) {
        const auto bytes = ReadFileBytes(path);
        if (!bytes) return;
        metadata = ReadPhotoMetadata(*bytes, format.code, &notes, withExif);
    }
    for (const std::string& note : notes) {
        if (onMessage) onMessage(note);
    }
}

// The steps after the decode that the metadata options ask for.
void FinishMetadata(Bitmap& target, const PhotoReadOptions& options,
                    const MessageCallback& onMessage, PhotoMetadata& metadata) {
    const auto say = [&](const std::string& text) {
        if (onMessage) onMessage(text);
    };
    if (options.colourManage && !metadata.icc.empty()) {
        std::string why;
        if (!ConvertToSrgb(target, metadata.icc, &why)) say(why + " ignored");
        metadata.icc.clear();
    }
    if (!options.keepMetadata) {
        metadata = PhotoMetadata{};
        return;
    }
    // The readers give RGB pixels (greys as a palette of greys): a profile of another colour
    // space would misdescribe them.
    if (metadata.icc.size() >= 20 && std::memcmp(metadata.icc.data() + 16, "RGB ", 4) != 0) {
        say("non-RGB colour profile not kept");
        metadata.icc.clear();
    }
}

}  // namespace

int ShrinkOnLoadDenominator(int width, int height, int needWidth, int needHeight) {
    int best = 1;
    for (int d : {2, 4, 8}) {
        if ((width + d - 1) / d >= needWidth && (height + d - 1) / d >= needHeight) best = d;
    }
    return best;
}

bool ReadPhoto(const std::filesystem::path& path, Bitmap& target, const PhotoReadOptions& options,
               const MessageCallback& onMessage, std::string* reason, PhotoReadResult* result) {
    PhotoReadResult local;
    PhotoReadResult& r = result ? *result : local;
    r = PhotoReadResult{};
    const std::string ext = AsciiLower(ExtractFileExt(path.native()));
    const ImageFormat* format = FormatForReadExtension(ext);
    bool ok = false;
    try {
        if (format && (format->code == FormatCode::Jpg || format->code == FormatCode::Jpeg) &&
            (options.autoOrient || options.neededSize)) {
            if (!ReadJpegPhoto(path, target, options, onMessage, reason, r)) return false;
            FinishMetadata(target, options, onMessage, r.metadata);
            return true;
        }
        if (options.background && (ext == ".png" || ext == ".gif" || ext == ".webp")) {
            ok = ReadOnto(path, ext, target, *options.background, reason);
        } else {
            ok = ReadImageFile(path, target, onMessage, reason);
        }
        if (ok && (options.keepMetadata || options.colourManage)) {
            if (format) ReadBlocks(path, *format, options.keepMetadata, onMessage, r.metadata);
            FinishMetadata(target, options, onMessage, r.metadata);
        }
    } catch (...) {
        return Refuse(reason, CurrentExceptionReason());
    }
    if (ok) {
        r.fullWidth = target.Width();
        r.fullHeight = target.Height();
    }
    return ok;
}

std::optional<RgbQuad> ParseColour(std::string_view text) {
    const std::string t = AsciiLower(text);
    const auto rgb = [](int r, int g, int b) {
        return RgbQuad{static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
                       static_cast<std::uint8_t>(r), 0};
    };
    if (t.size() == 7 && t[0] == '#') {
        int v[6];
        for (int i = 0; i < 6; ++i) {
            const char c = t[static_cast<std::size_t>(i) + 1];
            if (c >= '0' && c <= '9') {
                v[i] = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                v[i] = c - 'a' + 10;
            } else {
                return std::nullopt;
            }
        }
        return rgb(v[0] * 16 + v[1], v[2] * 16 + v[3], v[4] * 16 + v[5]);
    }
    struct Named {
        std::string_view name;
        int r, g, b;
    };
    static constexpr Named kNames[] = {
        {"black", 0, 0, 0},      {"white", 255, 255, 255}, {"red", 255, 0, 0},
        {"green", 0, 128, 0},    {"blue", 0, 0, 255},      {"yellow", 255, 255, 0},
        {"cyan", 0, 255, 255},   {"magenta", 255, 0, 255}, {"gray", 128, 128, 128},
        {"grey", 128, 128, 128},
    };
    for (const Named& n : kNames) {
        if (n.name == t) return rgb(n.r, n.g, n.b);
    }
    return std::nullopt;
}

}  // namespace ozm
