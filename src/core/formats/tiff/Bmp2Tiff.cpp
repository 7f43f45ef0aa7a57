#include "core/formats/tiff/Bmp2Tiff.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <string_view>
#include <vector>

#include "core/bitmap/RowsAs24.h"
#include "core/formats/io/ByteOrder.h"
#include "core/formats/tiff/TiffTags.h"
#include "core/parallel/OrderedBands.h"

namespace ozm {

namespace {

enum class FileKind { Bilevel, Palette4, Palette8, Rgb };

// How the rows of the bitmap turn into the rows of the strip.
enum class RowSource {
    Copy,         // the first row-bytes of each bitmap row, as they are
    ExpandIndex,  // 1- or 4-bit indexes widened to one byte each
    Rgb,          // 16-, 24- or 32-bit pixels as red, green, blue triples
};

constexpr std::string_view kSoftware = "Vandertool";
constexpr std::uint32_t kSoftwareBytes = static_cast<std::uint32_t>(kSoftware.size()) + 1;
// 87.7 dots per inch.
constexpr std::uint32_t kResolutionNumerator = 877;
constexpr std::uint32_t kResolutionDenominator = 10;
constexpr std::uint32_t kRationalBytes = 8;
// An RGB file's BitsPerSample: three SHORTs, 8 each, stored apart from the entry.
constexpr std::uint32_t kRgbBitsBytes = 3 * 2;

// Where everything goes in the file; all of it is known before the first byte is written,
// so the file is written front to back in one pass.
struct Layout {
    FileKind kind = FileKind::Rgb;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t rowBytes = 0;
    std::uint32_t stripBytes = 0;
    unsigned bitsPerSample = 8;
    // Bits past the width in the last byte of a row are written as 0: the low pixel of an
    // odd 4-bit row, the low bits of a bilevel row.
    std::uint8_t lastByteMask = 0xFF;
    std::uint32_t colors = 0;  // colour map entries; 0 without a map
    // File offsets.
    std::uint32_t stripOffset = 0;
    std::uint32_t xResolution = 0;
    std::uint32_t yResolution = 0;
    std::uint32_t software = 0;
    std::uint32_t directory = 0;
    std::uint32_t colorMap = 0;
    std::uint32_t bitsPerSampleOffset = 0;
    std::uint32_t iccBytes = 0;  // 0: no profile
    std::uint32_t icc = 0;
};

Layout PlanLayout(const Bitmap& bitmap, FileKind kind, std::size_t iccBytes) {
    Layout l;
    l.kind = kind;
    l.width = static_cast<std::uint32_t>(bitmap.Width());
    l.height = static_cast<std::uint32_t>(bitmap.Height());
    switch (kind) {
        case FileKind::Bilevel:
            l.rowBytes = (l.width + 7) / 8;
            l.bitsPerSample = 1;
            if (l.width % 8 != 0)
                l.lastByteMask = static_cast<std::uint8_t>(0xFF << (8 - l.width % 8));
            break;
        case FileKind::Palette4:
            l.rowBytes = (l.width + 1) / 2;
            l.bitsPerSample = 4;
            l.colors = 16;
            if (l.width % 2 != 0) l.lastByteMask = 0xF0;
            break;
        case FileKind::Palette8:
            l.rowBytes = l.width;
            l.colors = 256;
            break;
        case FileKind::Rgb:
            l.rowBytes = l.width * 3;
            break;
    }
    // At most 2^28 pixels of 3 bytes: every offset below fits in 32 bits.
    l.stripBytes = l.height * l.rowBytes;
    // After the header: a bilevel file has its strip first and its resolutions and software
    // text after it; the others have their colour map or bits per sample, resolutions and
    // software text first, then the strip. The directory ends the file.
    std::uint32_t at = kTiffHeaderBytes;
    const auto place = [&at](std::uint32_t& offset, std::uint32_t bytes) {
        offset = at;
        at += bytes;
    };
    if (kind == FileKind::Bilevel) place(l.stripOffset, l.stripBytes);
    if (l.colors != 0) place(l.colorMap, 3 * l.colors * 2);
    place(l.xResolution, kRationalBytes);
    place(l.yResolution, kRationalBytes);
    if (kind == FileKind::Rgb) place(l.bitsPerSampleOffset, kRgbBitsBytes);
    place(l.software, kSoftwareBytes);
    // A colour profile (not in bilevel files) after the text, from an even offset on.
    if (kind != FileKind::Bilevel && iccBytes > 0) {
        l.iccBytes = static_cast<std::uint32_t>(iccBytes);
        at += at % 2;
        place(l.icc, l.iccBytes);
    }
    if (kind != FileKind::Bilevel) place(l.stripOffset, l.stripBytes);
    l.directory = at;
    return l;
}

bool IsBlackAndWhite(const Bitmap& bitmap) {
    const auto& p = bitmap.Palette();
    return p.size() >= 2 && p[0] == RgbQuad{0, 0, 0, 0} && p[1] == RgbQuad{255, 255, 255, 0};
}

bool WriteBytes(std::FILE* file, const std::uint8_t* data, std::size_t size) {
    return size == 0 || std::fwrite(data, 1, size, file) == size;
}

bool WriteBytes(std::FILE* file, const LittleEndianWriter& bytes) {
    return WriteBytes(file, bytes.Bytes().data(), bytes.Size());
}

// Streams the strip: rows top first, converted in pieces of about 1 MiB on up to `threads`
// threads, each piece written as soon as the ones before it are, so the disk sees few big
// writes.
bool WriteStrip(std::FILE* file, const Bitmap& bitmap, RowSource source, const Layout& l,
                int threads) {
    const std::size_t rowBytes = l.rowBytes;
    if (rowBytes == 0) return true;
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, kChunk / rowBytes);
    const std::size_t rows = static_cast<std::size_t>(bitmap.Height());
    const RowsAs24 rgbRows(bitmap, ChannelOrder::Rgb);
    std::vector<std::vector<std::uint8_t>> slots(SlotCount(threads));
    const auto produce = [&](std::size_t piece, std::size_t slot) {
        const std::size_t first = piece * rowsPerChunk;
        const std::size_t count = std::min(rowsPerChunk, rows - first);
        std::vector<std::uint8_t>& buffer = slots[slot];
        buffer.resize(count * rowBytes);
        for (std::size_t k = 0; k < count; ++k) {
            const int y = static_cast<int>(first + k);
            std::uint8_t* out = buffer.data() + k * rowBytes;
            switch (source) {
                case RowSource::Copy:
                    std::memcpy(out, bitmap.Row(y), rowBytes);
                    out[rowBytes - 1] &= l.lastByteMask;
                    break;
                case RowSource::ExpandIndex:
                    for (int x = 0; x < bitmap.Width(); ++x) out[x] = bitmap.IndexAt(x, y);
                    break;
                case RowSource::Rgb:
                    rgbRows.CopyRow(y, out);
                    break;
            }
        }
        return true;
    };
    const auto consume = [&](std::size_t, std::size_t slot) {
        return WriteBytes(file, slots[slot].data(), slots[slot].size());
    };
    BandRun run;
    run.count = (rows + rowsPerChunk - 1) / rowsPerChunk;
    run.threads = threads;
    return RunBandsInOrder(run, produce, consume);
}

// Each component in the high byte: full intensity is 65280. Entries past the palette's end
// are black.
void PutColorMap(LittleEndianWriter& out, const Bitmap& bitmap, std::uint32_t colors) {
    const auto& palette = bitmap.Palette();
    for (int channel = 0; channel < 3; ++channel) {
        for (std::uint32_t i = 0; i < colors; ++i) {
            const RgbQuad q = i < palette.size() ? palette[i] : RgbQuad{};
            const std::uint8_t v = channel == 0 ? q.red : channel == 1 ? q.green : q.blue;
            out.U16(unsigned{v} << 8);
        }
    }
}

// The directory's entries in tag order, each one 12 bytes; a single SHORT sits in the low
// two bytes of the 32-bit value field.
class DirectoryWriter {
  public:
    void Entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        entries_.U16(tag);
        entries_.U16(type);
        entries_.U32(count);
        entries_.U32(value);
        ++count_;
    }
    // The entry count, the entries and a next-directory offset of 0 (no other directory).
    void WriteTo(LittleEndianWriter& out) const {
        out.U16(count_);
        out.Append(entries_.Bytes());
        out.U32(0);
    }

  private:
    LittleEndianWriter entries_;
    std::uint16_t count_ = 0;
};

void PutDirectory(LittleEndianWriter& out, const Layout& l) {
    const bool rgb = l.kind == FileKind::Rgb;
    const bool palette = l.colors != 0;
    DirectoryWriter d;
    d.Entry(TiffTag::NewSubfileType, TiffType::Long, 1, 0);
    d.Entry(TiffTag::ImageWidth, TiffType::Short, 1, l.width);
    d.Entry(TiffTag::ImageLength, TiffType::Short, 1, l.height);
    if (rgb) {
        d.Entry(TiffTag::BitsPerSample, TiffType::Short, 3, l.bitsPerSampleOffset);
    } else {
        d.Entry(TiffTag::BitsPerSample, TiffType::Short, 1, l.bitsPerSample);
    }
    d.Entry(TiffTag::Compression, TiffType::Short, 1, kTiffUncompressed);
    d.Entry(TiffTag::PhotometricInterpretation, TiffType::Short, 1,
            rgb       ? TiffPhotometric::Rgb
            : palette ? TiffPhotometric::Palette
                      : TiffPhotometric::BlackIsZero);
    d.Entry(TiffTag::StripOffsets, TiffType::Long, 1, l.stripOffset);
    d.Entry(TiffTag::SamplesPerPixel, TiffType::Short, 1, rgb ? 3 : 1);
    d.Entry(TiffTag::RowsPerStrip, TiffType::Long, 1, l.height);
    d.Entry(TiffTag::StripByteCounts, TiffType::Long, 1, l.stripBytes);
    d.Entry(TiffTag::XResolution, TiffType::Rational, 1, l.xResolution);
    d.Entry(TiffTag::YResolution, TiffType::Rational, 1, l.yResolution);
    if (rgb) d.Entry(TiffTag::PlanarConfiguration, TiffType::Short, 1, kTiffChunky);
    d.Entry(TiffTag::ResolutionUnit, TiffType::Short, 1, kTiffInch);
    d.Entry(TiffTag::Software, TiffType::Ascii, kSoftwareBytes, l.software);
    if (palette) d.Entry(TiffTag::ColorMap, TiffType::Short, 3 * l.colors, l.colorMap);
    if (l.iccBytes > 0) d.Entry(TiffTag::IccProfile, TiffType::Undefined, l.iccBytes, l.icc);
    d.WriteTo(out);
}

bool WriteKind(const Bitmap& bitmap, std::FILE* file, FileKind kind, RowSource source, int threads,
               std::span<const std::uint8_t> icc) {
    const Layout l = PlanLayout(bitmap, kind, icc.size());
    // Everything before the strip goes into `head`, everything after it into `tail`, in the
    // order PlanLayout gave them their offsets.
    LittleEndianWriter head, tail;
    head.Text("II");
    head.U16(kTiffMagic);
    head.U32(l.directory);
    LittleEndianWriter& fixedPieces = kind == FileKind::Bilevel ? tail : head;
    if (l.colors != 0) PutColorMap(head, bitmap, l.colors);
    for (int i = 0; i < 2; ++i) {  // XResolution, YResolution
        fixedPieces.U32(kResolutionNumerator);
        fixedPieces.U32(kResolutionDenominator);
    }
    if (kind == FileKind::Rgb) {
        for (int i = 0; i < 3; ++i) head.U16(8);
    }
    fixedPieces.Text(kSoftware);
    fixedPieces.U8(0);
    if (l.iccBytes > 0) {
        if (head.Size() % 2 != 0) head.U8(0);
        head.Append(icc);
    }
    PutDirectory(tail, l);
    return WriteBytes(file, head) && WriteStrip(file, bitmap, source, l, threads) &&
           WriteBytes(file, tail) && std::fflush(file) == 0;
}

}  // namespace

bool WriteTiffFile(const Bitmap& bitmap, std::FILE* file, int threads,
                   std::span<const std::uint8_t> icc) {
    if (bitmap.Empty()) return true;
    if (bitmap.Width() > kMaxSide16 || bitmap.Height() > kMaxSide16) return false;
    try {
        switch (bitmap.BitCount()) {
            case 1:
                if (IsBlackAndWhite(bitmap)) {
                    return WriteKind(bitmap, file, FileKind::Bilevel, RowSource::Copy, threads,
                                     icc);
                }
                return WriteKind(bitmap, file, FileKind::Palette8, RowSource::ExpandIndex, threads,
                                 icc);
            case 4:
                return WriteKind(bitmap, file, FileKind::Palette4, RowSource::Copy, threads, icc);
            case 8:
                return WriteKind(bitmap, file, FileKind::Palette8, RowSource::Copy, threads, icc);
            case 16:
            case 24:
            case 32:
                return WriteKind(bitmap, file, FileKind::Rgb, RowSource::Rgb, threads, icc);
            default:
                return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace ozm
