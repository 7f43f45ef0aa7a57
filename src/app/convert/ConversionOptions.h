#pragma once
// The values a conversion reads for each file and format: the transforms' settings plus the
// ticked formats, the JPEG quality and the two folders.

#include <array>
#include <string>

#include "core/transforms/TransformSettings.h"

namespace ozm {

struct ConversionOptions : TransformSettings {
    // Ticked output formats, by row of OutputFormatTable (BMP, JPG, JPEG, PNG, EMF, WMF, GIF,
    // TIFF).
    std::array<bool, 8> formats{};
    int jpegQuality = 75;      // 1..100
    std::string sourceFolder;  // ends in "/"
    std::string targetFolder;  // ends in "/"
};

}  // namespace ozm
