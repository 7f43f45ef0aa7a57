#include "core/formats/metafile/MetafileWriter.h"

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
    std::size_t Size() const { return bytes_.size(); }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// The info part of a packed DIB of the bitmap in its own depth: info header and colour table
// (palette depths). The rows follow it bottom-up with the bitmap's own 4-byte padding; they
// are written straight from the bitmap (WriteDibRows), never copied whole.
struct DibLayout {
    std::vector<std::uint8_t> info;
    std::uint64_t bitsSize = 0;
};

std::optional<DibLayout> LayOutDib(const Bitmap& bitmap) {
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
    return DibLayout{std::move(info.Bytes()), imageSize};
}

// Writes the rows bottom-up through one row of scratch, whose padding (and the unused bits
// of a last partial byte) is zero whatever the bitmap's padding holds.
bool WriteDibRows(const Bitmap& bitmap, std::FILE* file) {
    const std::size_t stride = bitmap.Stride();
    const std::uint64_t bits = static_cast<std::uint64_t>(bitmap.Width()) * bitmap.BitCount();
    const std::size_t used = static_cast<std::size_t>(bits / 8);
    const int restBits = static_cast<int>(bits % 8);
    std::vector<std::uint8_t> row(stride, 0);
    for (int y = bitmap.Height() - 1; y >= 0; --y) {
        const std::uint8_t* src = bitmap.Row(y);
        std::copy(src, src + used, row.begin());
        if (restBits) row[used] = static_cast<std::uint8_t>(src[used] & (0xFF00 >> restBits));
        if (std::fwrite(row.data(), 1, stride, file) != stride) return false;
    }
    return true;
}

bool WriteBytes(const std::vector<std::uint8_t>& bytes, std::FILE* file) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
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

bool WriteEmf(const Bitmap& bitmap, std::FILE* file) {
    const SizeL frame = FrameForPixels(bitmap.Width(), bitmap.Height());
    std::optional<DibLayout> dib;
    if (!bitmap.Empty()) {
        dib = LayOutDib(bitmap);
        if (!dib) return false;
    }
    const int w = bitmap.Width();
    const int h = bitmap.Height();

    constexpr std::uint32_t kHeaderSize = 108;
    constexpr std::uint32_t kFixed = 80;  // stretched-DIB record before its info part
    constexpr std::uint32_t kEofSize = 20;
    const std::uint64_t dibRecordSize = dib ? kFixed + dib->info.size() + dib->bitsSize : 0;
    const std::uint64_t total = kHeaderSize + dibRecordSize + kEofSize;
    if (total > std::numeric_limits<std::uint32_t>::max()) return false;

    ByteWriter out;
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
    out.U32(static_cast<std::uint32_t>(total));
    out.U32(dib ? 3 : 2);  // records
    out.U16(1);            // handles: only the reserved slot 0
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

    if (dib) {
        out.U32(emr::kStretchDiBits);
        out.U32(static_cast<std::uint32_t>(dibRecordSize));
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
        out.U32(static_cast<std::uint32_t>(dib->bitsSize));
        out.U32(kDibRgbColors);
        out.U32(kSrcCopy);
        out.I32(w);  // destination width, height
        out.I32(h);
        out.Append(dib->info);
        if (!WriteBytes(out.Bytes(), file) || !WriteDibRows(bitmap, file)) return false;
        out.Bytes().clear();
    }

    out.U32(emr::kEof);
    out.U32(kEofSize);
    out.U32(0);         // no palette entries
    out.U32(16);        // where they would start
    out.U32(kEofSize);  // size of this record, repeated at its end
    return WriteBytes(out.Bytes(), file);
}

bool WriteWmf(const Bitmap& bitmap, std::FILE* file) {
    const SizeL frame = FrameForPixels(bitmap.Width(), bitmap.Height());
    const std::int64_t boxRight = *MulDivRound(frame.cx, kScreenPixelsPerInch, 2540);
    const std::int64_t boxBottom = *MulDivRound(frame.cy, kScreenPixelsPerInch, 2540);
    if (boxRight > std::numeric_limits<std::int16_t>::max() ||
        boxBottom > std::numeric_limits<std::int16_t>::max() ||
        bitmap.Width() > std::numeric_limits<std::int16_t>::max() ||
        bitmap.Height() > std::numeric_limits<std::int16_t>::max()) {
        return false;
    }
    std::optional<DibLayout> dib;
    if (!bitmap.Empty()) {
        dib = LayOutDib(bitmap);
        if (!dib) return false;
    }
    // Words of the metafile after the placeable header: its own header, three records of
    // mapping, the stretched DIB, the end record.
    const std::uint64_t dibBytes = dib ? 6 + 4 + 2 + 8 * 2 + dib->info.size() + dib->bitsSize : 0;
    const std::uint64_t totalWords = (18 + 8 + 10 + 10 + dibBytes + 6) / 2;
    if (totalWords > std::numeric_limits<std::uint32_t>::max()) return false;
    const std::uint32_t maxRecordWords =
        std::max<std::uint32_t>(5, static_cast<std::uint32_t>(dibBytes / 2));

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

    out.U16(1);       // memory metafile
    out.U16(9);       // header size in words
    out.U16(0x0300);  // version
    out.U32(static_cast<std::uint32_t>(totalWords));
    out.U16(0);  // no objects
    out.U32(maxRecordWords);
    out.U16(0);

    auto record = [&](std::uint32_t words, std::uint16_t function) {
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
        record(static_cast<std::uint32_t>(dibBytes / 2), meta::kStretchDib);
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
        if (!WriteBytes(out.Bytes(), file) || !WriteDibRows(bitmap, file)) return false;
        out.Bytes().clear();
    }
    record(3, meta::kEof);
    return WriteBytes(out.Bytes(), file);
}

}  // namespace ozm::metafile
