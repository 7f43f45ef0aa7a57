#include <cstddef>
#include <cstdint>

#include "core/bitmap/Bitmap.h"
#include "core/formats/raster/JpegCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ozm::Bitmap bitmap;
    ozm::DecodeJpeg({data, size}, bitmap);
    return 0;
}
