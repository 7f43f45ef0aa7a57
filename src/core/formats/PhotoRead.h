#pragma once
// The command line's reading of a file: the image reader plus what its options add. The
// camera's orientation applied right after reading, transparency blended onto a chosen
// colour, the EXIF block and colour profile kept or the profile's colours converted to sRGB,
// and JPEG photos decoded at 1/2, 1/4 or 1/8 when a smaller picture is all that the
// resize after it needs.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"
#include "core/formats/PhotoMetadata.h"

namespace ozm {

struct PhotoReadOptions {
    // JPEG files: the EXIF orientation is applied. A damaged EXIF block is noted through the
    // message callback and read as "as stored".
    bool autoOrient = false;
    // PNG, GIF and WebP files: transparent pixels are blended onto this colour.
    std::optional<RgbQuad> background;
    // Given the upright picture's full size, the size the steps after the reading will make of
    // it, or nullopt when they keep the full size. A JPEG file is then decoded at the smallest
    // of 1/2, 1/4, 1/8 that still gives at least that size in both sides.
    std::function<std::optional<std::pair<int, int>>(int width, int height)> neededSize;
    // JPEG, PNG, WebP and TIFF files: the EXIF block and ICC profile are read into the
    // result's metadata. An RGB profile only: one of another colour space does not describe
    // the 24-bit pixels the readers give.
    bool keepMetadata = false;
    // The pixels of a file with an embedded ICC profile are converted to sRGB right after
    // reading; the result then carries no profile. A profile that cannot be used is ignored,
    // with a note.
    bool colourManage = false;
};

struct PhotoReadResult {
    int fullWidth = 0;  // the upright picture's size before any reduced decoding
    int fullHeight = 0;
    int denominator = 1;     // 1, 2, 4 or 8: the reduction the JPEG decode used
    int orientation = 1;     // the EXIF orientation applied to the pixels
    bool upright = false;    // the EXIF orientation was looked at: the pixels are upright now
    PhotoMetadata metadata;  // with keepMetadata
};

// As ReadImageFile, with the options' additions. `result`, when given, says what was done.
bool ReadPhoto(const std::filesystem::path& path, Bitmap& target, const PhotoReadOptions& options,
               const MessageCallback& onMessage = {}, std::string* reason = nullptr,
               PhotoReadResult* result = nullptr);

// The largest of 2, 4, 8 that keeps ceil(width / d) >= needWidth and ceil(height / d) >=
// needHeight; 1 when even 2 does not.
int ShrinkOnLoadDenominator(int width, int height, int needWidth, int needHeight);

// Parses a colour for --background: #rrggbb (any case) or one of the names black, white,
// red, green, blue, yellow, cyan, magenta, gray, grey.
std::optional<RgbQuad> ParseColour(std::string_view text);

}  // namespace ozm
