#include <cstddef>
#include <cstdint>

#include "core/bitmap/Bitmap.h"
#include "core/formats/raster/PngCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ozm::Bitmap bitmap;
    ozm::DecodePng({data, size}, bitmap);
    return 0;
}
