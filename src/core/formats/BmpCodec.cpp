#include "core/formats/BmpCodec.h"

namespace ozm {

bool DecodeBmp(std::span<const std::uint8_t>, Bitmap&) { return false; }

bool DecodeDib(std::span<const std::uint8_t>, std::span<const std::uint8_t>, Bitmap&) {
    return false;
}

bool EncodeBmp(const Bitmap&, std::FILE*) { return false; }

}  // namespace ozm
