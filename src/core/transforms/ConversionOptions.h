#pragma once
// The values a conversion reads for each file and format: what the main window's controls,
// the quick-conversion presets and the command line's options hold.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace ozm {

enum class ResizeMode : int { None = 0, ToSize = 1, ByPercent = 2 };

struct ConversionOptions {
    // Ticked output formats, by row of OutputFormatTable (BMP, JPG, JPEG, PNG, EMF, WMF, GIF,
    // TIFF).
    std::array<bool, 8> formats{};
    ResizeMode resizeMode = ResizeMode::None;
    std::optional<std::int32_t> width;  // absent when the typed text is not a whole number
    std::optional<std::int32_t> height;
    bool keepAspect = false;
    std::optional<std::int32_t> percentage;
    std::int32_t rotateDegrees = 0;     // whole degrees clockwise; 0 or less: no rotation
    std::int32_t rotateHundredths = 0;  // hundredths of a degree added to rotateDegrees
    int jpegQuality = 75;               // 1..100
    std::string sourceFolder;           // ends in "/"
    std::string targetFolder;           // ends in "/"
};

}  // namespace ozm
