#include "core/formats/PngCodec.h"

namespace ozm {

bool DecodePng(std::span<const std::uint8_t>, Bitmap&) { return false; }

bool EncodePng(const Bitmap&, std::FILE*, std::uint8_t) { return false; }

}  // namespace ozm
