#include "core/formats/MetafileWriter.h"

#include <algorithm>
#include <limits>

namespace ozm::metafile {

namespace {

class ByteWriter {
  public:
    void U8(std::uint8_t v) { bytes_.push_back(v); }
    void U16(std::uint16_t v) {
        bytes_.push_back(static_cast<std::uint8_t>(v));
        bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void I16(std::int16_t v) { U16(static_cast<std::uint16_t>(v)); }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Append(const std::vector<std::uint8_t>& more) {
        bytes_.insert(bytes_.end(), more.begin(), more.end());
    }
    void PatchU32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::size_t Size() const { return bytes_.size(); }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// A packed DIB of the bitmap in its own depth: info header, colour table (palette depths),
// rows bottom-up with the bitmap's own 4-byte padding.
struct PackedDib {
    std::vector<std::uint8_t> info;
    std::vector<std::uint8_t> bits;
};

std::optional<PackedDib> MakePackedDib(const Bitmap& bitmap) {
    const int bitCount = bitmap.BitCount();
    if (!IsValidBitCount(bitCount) || bitmap.Empty()) return std::nullopt;
    const std::uint64_t imageSize =
        static_cast<std::uint64_t>(bitmap.Stride()) * static_cast<std::uint64_t>(bitmap.Height());
    // Record sizes are 32-bit; leave room for the headers around the bits.
    if (imageSize > std::numeric_limits<std::uint32_t>::max() - 4096u) return std::nullopt;

    std::size_t colours = 0;
    if (bitmap.HasPalette()) {
        const std::size_t full = std::size_t{1} << bitCount;
        colours = bitmap.Palette().empty() ? full : std::min(bitmap.Palette().size(), full);
    }
    ByteWriter info;
    info.U32(40);
    info.I32(bitmap.Width());
    info.I32(bitmap.Height());  // positive: rows bottom-up
    info.U16(1);
    info.U16(static_cast<std::uint16_t>(bitCount));
    info.U32(0);  // BI_RGB
    info.U32(static_cast<std::uint32_t>(imageSize));
    info.I32(3780);  // 96 per inch in pixels per metre
    info.I32(3780);
    info.U32(static_cast<std::uint32_t>(colours));
    info.U32(0);
    for (std::size_t i = 0; i < colours; ++i) {
        const RgbQuad q = i < bitmap.Palette().size() ? bitmap.Palette()[i] : RgbQuad{};
        info.U8(q.blue);
        info.U8(q.green);
        info.U8(q.red);
        info.U8(0);
    }

    PackedDib dib;
    dib.info = std::move(info.Bytes());
    dib.bits.resize(static_cast<std::size_t>(imageSize));
    const std::size_t stride = bitmap.Stride();
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* src = bitmap.Row(bitmap.Height() - 1 - y);
        std::copy(src, src + stride, dib.bits.begin() + static_cast<std::ptrdiff_t>(stride * y));
    }
    return dib;
}

std::int32_t FrameSide(int pixels, std::int32_t screenPixels, std::int32_t screenMillimetres) {
    if (pixels <= 0) return screenMillimetres * 100;
    return static_cast<std::int32_t>(
        *MulDivRound(pixels, std::int64_t{screenMillimetres} * 100, screenPixels));
}

}  // namespace

SizeL FrameForPixels(int width, int height) {
    return SizeL{FrameSide(width, kScreenPixels.cx, kScreenMillimetres.cx),
                 FrameSide(height, kScreenPixels.cy, kScreenMillimetres.cy)};
}

std::optional<std::vector<std::uint8_t>> BuildEmfBytes(const Bitmap& bitmap) {
    const SizeL frame = FrameForPixels(bitmap.Width(), bitmap.Height());
    std::optional<PackedDib> dib;
    if (!bitmap.Empty()) {
        dib = MakePackedDib(bitmap);
        if (!dib) return std::nullopt;
    }
    const int w = bitmap.Width();
    const int h = bitmap.Height();

    ByteWriter out;
    constexpr std::uint32_t kHeaderSize = 108;
    out.U32(emr::kHeader);
    out.U32(kHeaderSize);
    // Bounds in device pixels, inclusive; an empty picture has bounds (0, 0, -1, -1).
    out.I32(0);
    out.I32(0);
    out.I32(w - 1);
    out.I32(h - 1);
    out.I32(0);
    out.I32(0);
    out.I32(frame.cx);
    out.I32(frame.cy);
    out.U32(kEmfSignature);
    out.U32(0x00010000);  // version
    const std::size_t totalBytesAt = out.Size();
    out.U32(0);  // total bytes, patched below
    const std::size_t recordCountAt = out.Size();
    out.U32(0);  // record count, patched below
    out.U16(1);  // handles: only the reserved slot 0
    out.U16(0);
    out.U32(0);  // no description
    out.U32(0);
    out.U32(0);  // no palette
    out.I32(kScreenPixels.cx);
    out.I32(kScreenPixels.cy);
    out.I32(kScreenMillimetres.cx);
    out.I32(kScreenMillimetres.cy);
    out.U32(0);  // no pixel format
    out.U32(0);
    out.U32(0);  // no OpenGL
    out.I32(kScreenMillimetres.cx * 1000);
    out.I32(kScreenMillimetres.cy * 1000);
    std::uint32_t records = 1;

    if (dib) {
        constexpr std::uint32_t kFixed = 80;
        const std::uint64_t size = kFixed + dib->info.size() + dib->bits.size();
        out.U32(emr::kStretchDiBits);
        out.U32(static_cast<std::uint32_t>(size));
        out.I32(0);
        out.I32(0);
        out.I32(w - 1);
        out.I32(h - 1);
        out.I32(0);  // destination x, y
        out.I32(0);
        out.I32(0);  // source x, y
        out.I32(0);
        out.I32(w);  // source width, height
        out.I32(h);
        out.U32(kFixed);
        out.U32(static_cast<std::uint32_t>(dib->info.size()));
        out.U32(static_cast<std::uint32_t>(kFixed + dib->info.size()));
        out.U32(static_cast<std::uint32_t>(dib->bits.size()));
        out.U32(kDibRgbColors);
        out.U32(kSrcCopy);
        out.I32(w);  // destination width, height
        out.I32(h);
        out.Append(dib->info);
        out.Append(dib->bits);
        ++records;
    }

    out.U32(emr::kEof);
    out.U32(20);
    out.U32(0);   // no palette entries
    out.U32(16);  // where they would start
    out.U32(20);  // size of this record, repeated at its end
    ++records;

    if (out.Size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    out.PatchU32(totalBytesAt, static_cast<std::uint32_t>(out.Size()));
    out.PatchU32(recordCountAt, records);
    return std::move(out.Bytes());
}

std::optional<std::vector<std::uint8_t>> BuildWmfBytes(const Bitmap& bitmap) {
    const SizeL frame = FrameForPixels(bitmap.Width(), bitmap.Height());
    const std::int64_t boxRight = *MulDivRound(frame.cx, kScreenPixelsPerInch, 2540);
    const std::int64_t boxBottom = *MulDivRound(frame.cy, kScreenPixelsPerInch, 2540);
    if (boxRight > std::numeric_limits<std::int16_t>::max() ||
        boxBottom > std::numeric_limits<std::int16_t>::max() ||
        bitmap.Width() > std::numeric_limits<std::int16_t>::max() ||
        bitmap.Height() > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    std::optional<PackedDib> dib;
    if (!bitmap.Empty()) {
        dib = MakePackedDib(bitmap);
        if (!dib) return std::nullopt;
    }

    ByteWriter out;
    out.U32(kPlaceableKey);
    out.U16(0);  // handle
    out.I16(0);
    out.I16(0);
    out.I16(static_cast<std::int16_t>(boxRight));
    out.I16(static_cast<std::int16_t>(boxBottom));
    out.U16(kScreenPixelsPerInch);
    out.U32(0);
    out.U16(PlaceableChecksum(out.Bytes()));

    const std::size_t wmfStart = out.Size();
    out.U16(1);       // memory metafile
    out.U16(9);       // header size in words
    out.U16(0x0300);  // version
    const std::size_t totalWordsAt = out.Size();
    out.U32(0);  // size in words, patched below
    out.U16(0);  // no objects
    const std::size_t maxRecordAt = out.Size();
    out.U32(0);  // largest record in words, patched below
    out.U16(0);

    std::uint32_t maxRecordWords = 3;
    auto record = [&](std::uint32_t words, std::uint16_t function) {
        maxRecordWords = std::max(maxRecordWords, words);
        out.U32(words);
        out.U16(function);
    };
    // Parameters of 16-bit records come in reverse order: y before x.
    record(4, meta::kSetMapMode);
    out.U16(8);  // MM_ANISOTROPIC
    record(5, meta::kSetWindowOrg);
    out.I16(0);
    out.I16(0);
    record(5, meta::kSetWindowExt);
    out.I16(static_cast<std::int16_t>(boxBottom));
    out.I16(static_cast<std::int16_t>(boxRight));
    if (dib) {
        const std::uint64_t bytes = 6 + 4 + 2 + 8 * 2 + dib->info.size() + dib->bits.size();
        if (bytes / 2 > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        record(static_cast<std::uint32_t>(bytes / 2), meta::kStretchDib);
        out.U32(kSrcCopy);
        out.U16(kDibRgbColors);
        out.I16(static_cast<std::int16_t>(bitmap.Height()));  // source height, width
        out.I16(static_cast<std::int16_t>(bitmap.Width()));
        out.I16(0);  // source y, x
        out.I16(0);
        out.I16(static_cast<std::int16_t>(boxBottom));  // destination height, width
        out.I16(static_cast<std::int16_t>(boxRight));
        out.I16(0);  // destination y, x
        out.I16(0);
        out.Append(dib->info);
        out.Append(dib->bits);
    }
    record(3, meta::kEof);

    const std::size_t words = (out.Size() - wmfStart) / 2;
    if (words > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    out.PatchU32(totalWordsAt, static_cast<std::uint32_t>(words));
    out.PatchU32(maxRecordAt, maxRecordWords);
    return std::move(out.Bytes());
}

}  // namespace ozm::metafile
