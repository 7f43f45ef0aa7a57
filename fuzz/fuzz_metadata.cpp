#include <cstddef>
#include <cstdint>

#include "core/bitmap/Bitmap.h"
#include "core/colour/SrgbConversion.h"
#include "core/formats/PhotoMetadata.h"

// The first byte picks the format (JPEG, PNG, WebP, TIFF), the rest is the file. What is kept
// then goes the way --keep-metadata and --colour-manage send it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static constexpr ozm::ImageFormatCode kCodes[] = {ozm::FormatCode::Jpg, ozm::FormatCode::Png,
                                                      ozm::FormatCode::Webp, ozm::FormatCode::Tiff};
    ozm::PhotoMetadata kept = ozm::ReadPhotoMetadata({data + 1, size - 1}, kCodes[data[0] % 4]);
    if (!kept.exif.empty()) {
        ozm::ExifChanges changes;
        changes.orientation = 1;
        changes.width = 70000;
        changes.height = 3;
        changes.dropThumbnail = true;
        ozm::ChangeExif(kept.exif, changes);
    }
    if (!kept.icc.empty()) {
        ozm::Bitmap bitmap;
        if (bitmap.Create(3, 2, 24)) ozm::ConvertToSrgb(bitmap, kept.icc);
    }
    return 0;
}
