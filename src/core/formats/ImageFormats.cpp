#include "core/formats/ImageFormats.h"

#include <algorithm>

#include "core/text/TextRules.h"

namespace ozm {

const std::array<std::string_view, 12>& SupportedImageExtensions() {
    static constexpr std::array<std::string_view, 12> kExtensions = {
        ".bmp", ".dib", ".jpeg", ".jpg", ".jpe", ".jfif",
        ".gif", ".tif", ".png",  ".emf", ".wmf", ".ico"};
    return kExtensions;
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
    switch (code) {
        case FormatCode::Jpg:
            return ".jpg";
        case FormatCode::Png:
            return ".png";
        case FormatCode::Bmp:
            return ".bmp";
        case FormatCode::Jpeg:
            return ".jpeg";
        case FormatCode::Wmf:
            return ".wmf";
        case FormatCode::Emf:
            return ".emf";
        case FormatCode::Gif:
            return ".gif";
        case FormatCode::Tiff:
            return ".tif";
        default:
            return {};
    }
}

const std::array<OutputFormatRow, 8>& OutputFormatTable() {
    static constexpr std::array<OutputFormatRow, 8> kTable = {{
        {"BMP", FormatCode::Bmp, ".bmp"},
        {"JPG", FormatCode::Jpg, ".jpg"},
        {"JPEG", FormatCode::Jpeg, ".jpeg"},
        {"PNG", FormatCode::Png, ".png"},
        {"EMF", FormatCode::Emf, ".emf"},
        {"WMF", FormatCode::Wmf, ".wmf"},
        {"GIF", FormatCode::Gif, ".gif"},
        {"TIFF", FormatCode::Tiff, ".tif"},
    }};
    return kTable;
}

}  // namespace ozm
