#pragma once
// The picture orientation a camera records in a JPEG file's EXIF block, read by libexif.

#include <cstdint>
#include <span>
#include <string>

namespace ozm {

// The orientation (1..8) of the EXIF block `exif` (an APP1 payload, "Exif\0\0" first), or 1
// when the block has none. A block that libexif finds damaged, or a value outside 1..8, also
// gives 1, and `note` (when given) says what was ignored; a missing block (empty) notes nothing.
int ExifOrientation(std::span<const std::uint8_t> exif, std::string* note = nullptr);

}  // namespace ozm
