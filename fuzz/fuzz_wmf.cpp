// Feeds bytes to the metafile player as a placeable 16-bit metafile: input without the
// placeable key gets a valid 22-byte header (a 200 x 150 box at 96 units per inch) in front,
// so the fuzzer works on the records rather than on the checksum.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FontCachesRelease.h"
#include "core/bitmap/Bitmap.h"
#include "core/formats/metafile/MetafileRecords.h"
#include "core/formats/metafile/ozmEmfUnit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes;
    const bool placeable =
        size >= 4 && data[0] == 0xD7 && data[1] == 0xCD && data[2] == 0xC6 && data[3] == 0x9A;
    if (!placeable) {
        const std::uint8_t head[20] = {0xD7, 0xCD, 0xC6, 0x9A, 0,  0, 0, 0, 0, 0,
                                       200,  0,    150,  0,    96, 0, 0, 0, 0, 0};
        bytes.assign(head, head + 20);
        const std::uint16_t sum = ozm::metafile::PlaceableChecksum(bytes);
        bytes.push_back(static_cast<std::uint8_t>(sum));
        bytes.push_back(static_cast<std::uint8_t>(sum >> 8));
    } else if (const auto header = ozm::metafile::ReadPlaceableHeader({data, size})) {
        const double upi = header->unitsPerInch ? header->unitsPerInch : 96;
        const double w = (double(header->right) - header->left) * 96 / upi;
        const double h = (double(header->bottom) - header->top) * 96 / upi;
        if (w * h > (1 << 20)) return 0;
    }
    bytes.insert(bytes.end(), data, data + size);
    ozm::Bitmap bitmap;
    ozm::PlayMetafileIntoBitmap(bytes, bitmap);
    return 0;
}
