#include <cstddef>
#include <cstdint>

#include "core/bitmap/Bitmap.h"
#include "core/formats/raster/GifCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ozm::Bitmap bitmap;
    ozm::DecodeGif({data, size}, bitmap);
    return 0;
}
