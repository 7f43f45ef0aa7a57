#pragma once
// The device-independent bitmaps that records of both metafile kinds carry, checked against
// what the record holds, decoded and drawn.

#include <cstdint>
#include <memory>
#include <span>

#include "core/formats/metafile/MetafileCanvas.h"
#include "core/formats/metafile/MetafileImage.h"

namespace ozm::metafile {

// Decodes a record's bitmap: its header and colour table `info` and its pixel data `bits`.
// Null when the image is beyond the drawing limits (the record draws nothing); throws
// RecordError when the bitmap claims more than the record carries. `keyInfo` names the
// header in the image cache when `info` is a changed copy; `lines` > 0 says how many scan
// lines `bits` holds.
std::shared_ptr<const MetafileImage> DecodeRecordDib(
    Canvas& canvas, std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits,
    bool useAlpha = false, const std::uint8_t* keyInfo = nullptr, std::uint32_t lines = 0);

// A bits-to-device transfer: `bits` holds only the scan lines `startScan` ..
// `startScan + scans` of the bitmap (counted from its lower edge), though its header may give
// the whole height. Draws `size` device units of it from `source` (bitmap pixels) at the
// logical point `dest`.
void DrawDibScanLines(Canvas& canvas, std::span<const std::uint8_t> info,
                      std::span<const std::uint8_t> bits, std::uint32_t startScan,
                      std::uint32_t scans, PointD source, PointD size, PointD dest);

}  // namespace ozm::metafile
