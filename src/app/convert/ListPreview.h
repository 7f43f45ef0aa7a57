#pragma once
// Rules of the preview panels under the two file lists: how a file is loaded for its
// preview, the scale at which a JPEG is decoded, and the size label. The loading is done
// here; the window only shows the bitmap.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/bitmap/Bitmap.h"

namespace ozm {

enum class PreviewKind {
    Jpeg,           // decoded at a reduced scale (JpegPreviewScaleDenominator)
    Bitmap,         // loaded at 24 bits per pixel
    Png,            // loaded whole
    HidePanel,      // TIFF, GIF and metafiles are not previewed: the panel is hidden
    SystemPicture,  // any other listed file (icons): the icon's first picture; the panel
                    // is hidden when it cannot be read
};

// By the file's extension, compared without regard to ASCII case.
PreviewKind PreviewKindForFile(std::string_view path);

// The JPEG decoder's scale for a preview: 1 (full size), 2, 4 or 8 (one half, one quarter,
// one eighth), from the whole part of the smaller of the ratios image height / control height
// and image width / control width: below 2 full size, 2-3 one half, 4-7 one quarter, 8 or
// more one eighth. A control side of 0 or less (a collapsed panel) gives 8.
int JpegPreviewScaleDenominator(int imageWidth, int imageHeight, int controlWidth,
                                int controlHeight);

// A list's current file as its preview panel shows it.
struct PreviewPicture {
    bool hidePanel = false;  // the panel goes: a kind not previewed, or an unreadable icon
    int width = 0;           // the size the label reports: the image's full size, or 0 by 0
    int height = 0;          // when nothing is shown
    // What the image control shows: 24 bits per pixel, or 8 bits with its palette (a grey
    // JPEG); empty when the file could not be read (the control is then hidden).
    Bitmap bitmap;
};

// Loads `path` for an image control of controlWidth x controlHeight pixels, by its
// PreviewKindForFile: a JPEG at the reduced scale (the full size reported), a bitmap at 24
// bits, a PNG whole, an icon's first picture. Never throws.
PreviewPicture LoadPreviewPicture(const std::string& path, int controlWidth, int controlHeight);

// The first picture of a Windows icon file held whole in `data`: a PNG, or a DIB stored at
// twice the picture's height whose mask half is left out (masked pixels show their own
// colour). False, with `reason` when given, when it cannot be read.
bool DecodeIconPicture(std::span<const std::uint8_t> data, Bitmap& out,
                       std::string* reason = nullptr);

// "[宽度:800,高度:600]", with a blank in front for the source list's label.
std::string PreviewSizeLabel(int width, int height, bool leadingBlank);

}  // namespace ozm
