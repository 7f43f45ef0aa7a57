#pragma once
// The command line's reading of a file: the image reader plus what its options add. The
// camera's orientation applied right after reading, transparency blended onto a chosen
// colour, and JPEG photos decoded at 1/2, 1/4 or 1/8 when a smaller picture is all that the
// resize after it needs.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"

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
};

struct PhotoReadResult {
    int fullWidth = 0;  // the upright picture's size before any reduced decoding
    int fullHeight = 0;
    int denominator = 1;  // 1, 2, 4 or 8: the reduction the JPEG decode used
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
