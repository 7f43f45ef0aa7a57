#pragma once
// Rules of the preview panels under the two file lists: how a file is loaded for its
// preview, the scale at which a JPEG is decoded, and the size label.

#include <string>
#include <string_view>

namespace ozm {

enum class PreviewKind {
    Jpeg,           // decoded at a reduced scale (JpegPreviewScaleDenominator)
    Bitmap,         // loaded at 24 bits per pixel
    Png,            // loaded whole
    HidePanel,      // TIFF, GIF and metafiles are not previewed: the panel is hidden
    SystemPicture,  // any other listed file (icons): the toolkit's own image loader; the
                    // panel is hidden when that fails
};

// By the file's extension, compared without regard to ASCII case.
PreviewKind PreviewKindForFile(std::string_view path);

// The JPEG decoder's scale for a preview: 1 (full size), 2, 4 or 8 (one half, one quarter,
// one eighth), from the whole part of the smaller of the ratios image height / control height
// and image width / control width: below 2 full size, 2-3 one half, 4-7 one quarter, 8 or
// more one eighth. A control side of 0 or less (a collapsed panel) gives 8.
int JpegPreviewScaleDenominator(int imageWidth, int imageHeight, int controlWidth,
                                int controlHeight);

// "[宽度:800,高度:600]", with a blank in front for the source list's label.
std::string PreviewSizeLabel(int width, int height, bool leadingBlank);

}  // namespace ozm
