#include "core/formats/metafile/MetafileRecords.h"

#include <cstring>
#include <limits>

namespace ozm::metafile {

void RecordReader::Need(std::size_t offset, std::size_t count) const {
    if (!Has(offset, count)) throw RecordError("record field outside the record");
}

void RecordReader::NeedArray(std::size_t offset, std::uint64_t count,
                             std::size_t elementSize) const {
    if (offset > bytes_.size()) throw RecordError("record array outside the record");
    const std::uint64_t room = bytes_.size() - offset;
    if (elementSize != 0 && count > room / elementSize) {
        throw RecordError("record array larger than the record");
    }
}

std::uint8_t RecordReader::U8(std::size_t offset) const {
    Need(offset, 1);
    return bytes_[offset];
}

std::uint16_t RecordReader::U16(std::size_t offset) const {
    Need(offset, 2);
    return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

std::uint32_t RecordReader::U32(std::size_t offset) const {
    Need(offset, 4);
    return static_cast<std::uint32_t>(bytes_[offset]) |
           (static_cast<std::uint32_t>(bytes_[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes_[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes_[offset + 3]) << 24);
}

float RecordReader::F32(std::size_t offset) const {
    const std::uint32_t bits = U32(offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::span<const std::uint8_t> RecordReader::Bytes(std::size_t offset, std::size_t count) const {
    Need(offset, count);
    return bytes_.subspan(offset, count);
}

bool DrawsSomething(std::uint32_t type) {
    switch (type) {
        case emr::kPolyBezier:
        case emr::kPolygon:
        case emr::kPolyline:
        case emr::kPolyBezierTo:
        case emr::kPolylineTo:
        case emr::kPolyPolyline:
        case emr::kPolyPolygon:
        case emr::kSetPixelV:
        case emr::kAngleArc:
        case emr::kEllipse:
        case emr::kRectangle:
        case emr::kRoundRect:
        case emr::kArc:
        case emr::kChord:
        case emr::kPie:
        case emr::kLineTo:
        case emr::kArcTo:
        case emr::kPolyDraw:
        case emr::kFillPath:
        case emr::kStrokeAndFillPath:
        case emr::kStrokePath:
        case emr::kFillRgn:
        case emr::kFrameRgn:
        case emr::kInvertRgn:
        case emr::kPaintRgn:
        case emr::kBitBlt:
        case emr::kStretchBlt:
        case 78:  // mask blit
        case 79:  // parallelogram blit
        case emr::kSetDiBitsToDevice:
        case emr::kStretchDiBits:
        case emr::kExtTextOutA:
        case emr::kExtTextOutW:
        case emr::kPolyBezier16:
        case emr::kPolygon16:
        case emr::kPolyline16:
        case emr::kPolyBezierTo16:
        case emr::kPolylineTo16:
        case emr::kPolyPolyline16:
        case emr::kPolyPolygon16:
        case emr::kPolyDraw16:
        case 96:  // poly text out, 8-bit
        case 97:  // poly text out, 16-bit
        case emr::kSmallTextOut:
        case emr::kAlphaBlend:
        case emr::kTransparentBlt:
        case emr::kGradientFill:
            return true;
        default:
            return false;
    }
}

bool LooksLikeEmf(std::span<const std::uint8_t> data) {
    const RecordReader r(data);
    return r.Has(0, 44) && r.U32(0) == emr::kHeader && r.U32(40) == kEmfSignature;
}

std::optional<EmfHeader> ReadEmfHeader(std::span<const std::uint8_t> data) {
    const RecordReader r(data);
    // The smallest header that carries the reference device ends at byte 88.
    if (!LooksLikeEmf(data) || !r.Has(0, 88)) return std::nullopt;
    EmfHeader h;
    h.headerSize = r.U32(4);
    if (h.headerSize < 88 || h.headerSize > data.size()) return std::nullopt;
    auto rect = [&](std::size_t at) {
        return RectL{r.I32(at), r.I32(at + 4), r.I32(at + 8), r.I32(at + 12)};
    };
    h.bounds = rect(8);
    h.frame = rect(24);
    h.totalBytes = r.U32(48);
    h.handleCount = r.U16(56);
    h.devicePixels = SizeL{r.I32(72), r.I32(76)};
    h.deviceMillimetres = SizeL{r.I32(80), r.I32(84)};
    if (h.headerSize >= 108) h.deviceMicrometres = SizeL{r.I32(100), r.I32(104)};
    return h;
}

std::uint16_t PlaceableChecksum(std::span<const std::uint8_t> header) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i + 1 < 20 && i + 1 < header.size(); i += 2) {
        sum ^= static_cast<std::uint16_t>(header[i] | (header[i + 1] << 8));
    }
    return sum;
}

std::optional<PlaceableHeader> ReadPlaceableHeader(std::span<const std::uint8_t> data) {
    const RecordReader r(data);
    if (!r.Has(0, kPlaceableHeaderSize) || r.U32(0) != kPlaceableKey) return std::nullopt;
    PlaceableHeader h;
    h.left = r.I16(6);
    h.top = r.I16(8);
    h.right = r.I16(10);
    h.bottom = r.I16(12);
    h.unitsPerInch = r.U16(14);
    h.checksum = r.U16(20);
    if (h.checksum != PlaceableChecksum(data.first(20))) return std::nullopt;
    return h;
}

std::optional<std::int64_t> MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c) {
    if (c == 0) return std::nullopt;
    __int128 num = static_cast<__int128>(a) * b;
    __int128 den = c;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    const __int128 half = den / 2;
    const __int128 q = num >= 0 ? (num + half) / den : -((-num + half) / den);
    if (q > std::numeric_limits<std::int64_t>::max() ||
        q < std::numeric_limits<std::int64_t>::min()) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(q);
}

}  // namespace ozm::metafile
