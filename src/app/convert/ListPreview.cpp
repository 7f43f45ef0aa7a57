#include "app/convert/ListPreview.h"

#include <algorithm>

#include "core/text/TextRules.h"

namespace ozm {

PreviewKind PreviewKindForFile(std::string_view path) {
    const std::string ext = AsciiLower(ExtractFileExt(path));
    if (ext == ".jpg" || ext == ".jpeg" || ext == ".jpe" || ext == ".jfif")
        return PreviewKind::Jpeg;
    if (ext == ".bmp" || ext == ".dib") return PreviewKind::Bitmap;
    if (ext == ".png") return PreviewKind::Png;
    if (ext == ".tif" || ext == ".tiff" || ext == ".gif" || ext == ".wmf" || ext == ".emf") {
        return PreviewKind::HidePanel;
    }
    return PreviewKind::SystemPicture;
}

int JpegPreviewScaleDenominator(int imageWidth, int imageHeight, int controlWidth,
                                int controlHeight) {
    if (controlWidth <= 0 || controlHeight <= 0) return 8;
    // Both ratios are truncated toward zero; the smaller whole part is the smaller ratio's.
    const long long factor = std::min(static_cast<long long>(imageHeight) / controlHeight,
                                      static_cast<long long>(imageWidth) / controlWidth);
    if (factor >= 8) return 8;
    if (factor >= 4) return 4;
    if (factor >= 2) return 2;
    return 1;
}

std::string PreviewSizeLabel(int width, int height, bool leadingBlank) {
    std::string out = leadingBlank ? " [" : "[";
    out += "宽度:" + std::to_string(width) + ",高度:" + std::to_string(height) + "]";
    return out;
}

}  // namespace ozm
