// Feeds bytes to the metafile player; the identification rule decides the kind. Pictures
// larger than a megapixel are skipped so that the fuzzer spends its time on records.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "FontCachesRelease.h"
#include "core/bitmap/Bitmap.h"
#include "core/formats/metafile/MetafileRecords.h"
#include "core/formats/metafile/ozmEmfUnit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto header = ozm::metafile::ReadEmfHeader(bytes)) {
        const double w = (double(header->frame.right) - header->frame.left) *
                         header->devicePixels.cx / (double(header->deviceMillimetres.cx) * 100);
        const double h = (double(header->frame.bottom) - header->frame.top) *
                         header->devicePixels.cy / (double(header->deviceMillimetres.cy) * 100);
        if (!(std::abs(w * h) <= (1 << 20))) return 0;
    }
    ozm::Bitmap bitmap;
    ozm::PlayMetafileIntoBitmap(bytes, bitmap);
    return 0;
}
