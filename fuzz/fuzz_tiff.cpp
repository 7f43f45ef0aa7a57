#include <cstddef>
#include <cstdint>

#include "core/bitmap/Bitmap.h"
#include "core/formats/tiff/ReadTiff.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ozm::Bitmap bitmap;
    ozm::ReadTiffData({data, size}, bitmap, {}, "fuzz");
    return 0;
}
