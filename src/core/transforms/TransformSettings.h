#pragma once
// The resize and rotation values a conversion applies to each image: what the main window's
// controls, the quick-conversion presets and the command line's options hold.

#include <cstdint>
#include <optional>

namespace ozm {

enum class ResizeMode : int { None = 0, ToSize = 1, ByPercent = 2 };

struct TransformSettings {
    ResizeMode resizeMode = ResizeMode::None;
    std::optional<std::int32_t> width;  // absent when the typed text is not a whole number
    std::optional<std::int32_t> height;
    bool keepAspect = false;
    std::optional<std::int32_t> percentage;
    std::int32_t rotateDegrees = 0;     // whole degrees clockwise; 0 or less: no rotation
    std::int32_t rotateHundredths = 0;  // hundredths of a degree added to rotateDegrees
};

}  // namespace ozm
