#pragma once
// The values a conversion reads for each file and format: the transforms' settings plus the
// ticked formats, the JPEG quality and the two folders.

#include <cstdint>
#include <string>

#include "core/formats/ImageFormats.h"
#include "core/transforms/TransformSettings.h"

namespace ozm {

// The ticked output formats, by code. A file is written in the table's order whatever the
// order in which the formats were ticked.
class FormatTicks {
    static_assert(kHighestFormatCode < 16, "one bit for each code of the format table");

  public:
    void Tick(ImageFormatCode code, bool ticked = true) {
        if (code == 0 || code >= 16) return;
        const auto bit = static_cast<std::uint16_t>(1u << code);
        bits_ = ticked ? static_cast<std::uint16_t>(bits_ | bit)
                       : static_cast<std::uint16_t>(bits_ & ~bit);
    }
    bool Ticked(ImageFormatCode code) const { return code < 16 && (bits_ >> code) & 1u; }
    bool Any() const { return bits_ != 0; }
    void Clear() { bits_ = 0; }
    friend bool operator==(const FormatTicks&, const FormatTicks&) = default;

  private:
    std::uint16_t bits_ = 0;
};

struct ConversionOptions : TransformSettings {
    FormatTicks formats;
    int jpegQuality = 75;      // 1..100; WebP's quality too
    bool lossless = false;     // WebP written losslessly (command line only)
    std::string sourceFolder;  // ends in "/"
    std::string targetFolder;  // ends in "/"
};

}  // namespace ozm
