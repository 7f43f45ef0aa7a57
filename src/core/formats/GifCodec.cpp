#include "core/formats/GifCodec.h"

namespace ozm {

bool DecodeGif(std::span<const std::uint8_t>, Bitmap&) { return false; }

bool EncodeGif(const Bitmap&, std::FILE*) { return false; }

}  // namespace ozm
