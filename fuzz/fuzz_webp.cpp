#include <cstddef>
#include <cstdint>

#include "core/bitmap/Bitmap.h"
#include "core/formats/raster/WebpCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ozm::Bitmap bitmap;
    ozm::DecodeWebp({data, size}, bitmap);
    // The blending path decodes through its own buffer.
    ozm::DecodeWebp({data, size}, bitmap, nullptr, ozm::RgbQuad{255, 255, 255, 0});
    return 0;
}
