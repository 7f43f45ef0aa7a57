#include "core/formats/JpegCodec.h"

namespace ozm {

bool DecodeJpeg(std::span<const std::uint8_t>, Bitmap&) { return false; }

bool EncodeJpeg(const Bitmap&, std::FILE*, int) { return false; }

}  // namespace ozm
