#pragma once
// PNG through libpng. The library's setjmp/longjmp error path stays inside the .cpp.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"
#include "core/formats/PhotoMetadata.h"
#include "core/formats/io/FileBytes.h"
#include "core/parallel/ThreadBudget.h"

namespace ozm {

// Every PNG file starts with the 8-byte signature. Stored (uncompressed) data of 16-bit RGBA
// at the pixel limit already fills the general cap, which is therefore the bound.
inline constexpr FileShape kPngFileShape{kMaxInputFileBytes, "\x89PNG\r\n\x1A\n", "not a PNG file"};

// Grey, grey-with-alpha and palette files give 1-, 4- or 8-bit palette bitmaps (bit depth 1
// gives 1, 2 and 4 give 4, 8 and 16 give 8); colour files of 8 or 16 bits per sample give 24
// bits per pixel with the alpha channel dropped, colour values unblended.
bool DecodePng(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason = nullptr);

// Bit 0 None, bit 1 Sub, bit 2 Up, bit 3 Average, bit 4 Paeth: the row filters libpng may use.
inline constexpr std::uint8_t kPngFilterNoneOnly = 1;

// Uncompressed image data (rows with their filter byte) per band of a banded write: whole rows,
// at least one. Each band is deflated on its own, without the data before it, and joined to
// the next by a few bytes; on photos that costs about 0.02%, on flat pictures up to 0.1%. 1 MiB
// bands give a 2-core machine enough pieces to share out evenly on photo-sized images.
inline constexpr std::size_t kPngBandBytes = std::size_t{1} << 20;

struct PngWriteOptions {
    std::uint8_t filterSet = kPngFilterNoneOnly;
    // Most threads that deflate the bands at once (the caller included); the process's
    // thread budget may give fewer. The file's bytes do not depend on it.
    int threads = 1;
    std::size_t bandBytes = kPngBandBytes;
    ThreadBudget* budget = nullptr;  // null: the process's
    // Called on a band's thread before the band is made; whatever it throws fails the whole
    // write. Lets a test fail one band on purpose.
    std::function<void(std::size_t band)> beforeBand;
    // When given: its ICC profile in an iCCP chunk before PLTE, its EXIF block in an eXIf
    // chunk before the image data.
    const PhotoMetadata* metadata = nullptr;
};

// Not interlaced. 1-, 4- and 8-bit bitmaps as colour type 3 (PLTE) at their own depth, every
// other depth as colour type 2 at 8 bits per sample. With filter None only, the image data is
// deflated in bands (red, green and blue rows by PixelDeflater, palette indexes by
// libdeflate), on several threads when there are several bands: each band on its own, every
// band but the last left open by an empty stored block, the bands joined into one zlib stream
// with their Adler-32 sums combined. Other filters go through libpng in one
// stream. A failure in any band fails the whole write.
bool EncodePng(const Bitmap& bitmap, std::FILE* file, const PngWriteOptions& options);
bool EncodePng(const Bitmap& bitmap, std::FILE* file, std::uint8_t filterSet);

}  // namespace ozm
