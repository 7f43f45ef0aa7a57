#include "core/formats/metafile/RecordBitmaps.h"

namespace ozm::metafile {

std::shared_ptr<const MetafileImage> DecodeRecordDib(Canvas& canvas,
                                                     std::span<const std::uint8_t> info,
                                                     std::span<const std::uint8_t> bits,
                                                     bool useAlpha, const std::uint8_t* keyInfo,
                                                     std::uint32_t lines) {
    switch (CheckDib(info, bits.size())) {
        case DibVerdict::Lies:
            throw RecordError("bitmap larger than its record");
        case DibVerdict::OutOfLimits:
            return nullptr;
        case DibVerdict::Usable:
            break;
    }
    return canvas.DecodeImage(info, keyInfo ? keyInfo : info.data(), bits, useAlpha, lines);
}

void DrawDibScanLines(Canvas& canvas, std::span<const std::uint8_t> info,
                      std::span<const std::uint8_t> bits, std::uint32_t startScan,
                      std::uint32_t scans, PointD source, PointD size, PointD dest) {
    // The copy that is decoded says how many lines are really there.
    const auto limited = LimitDibHeight(info, scans);
    const auto image = DecodeRecordDib(canvas, limited, bits, false, info.data(), scans);
    if (!image) return;
    const double top = image->BottomUp() ? double(image->Height()) + startScan - (source.y + size.y)
                                         : source.y - double(startScan);
    canvas.BitsToDevice(*image, RectD{source.x, top, source.x + size.x, top + size.y}, dest, size);
}

}  // namespace ozm::metafile
