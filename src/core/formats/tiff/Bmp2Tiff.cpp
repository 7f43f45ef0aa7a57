#include "core/formats/tiff/Bmp2Tiff.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "core/formats/raster/RgbSwap.h"

namespace ozm {

namespace {

enum class FileKind { Bilevel, Palette4, Palette8, Rgb };

// How the rows of the bitmap turn into the rows of the strip.
enum class RowSource {
    Copy,         // the first row-bytes of each bitmap row, as they are
    ExpandIndex,  // 1- or 4-bit indexes widened to one byte each
    Bgr24,        // blue, green, red triples to red, green, blue
    Bgrx32,       // blue, green, red, unused quads to red, green, blue
};

constexpr std::string_view kSoftware = "Vandertool";
// ASCII values end with a NUL, which the count includes.
constexpr std::uint32_t kSoftwareBytes = static_cast<std::uint32_t>(kSoftware.size()) + 1;
// 87.7 dots per inch.
constexpr std::uint32_t kResolutionNumerator = 877;
constexpr std::uint32_t kResolutionDenominator = 10;

constexpr std::uint16_t kAscii = 2, kShort = 3, kLong = 4, kRational = 5;

class LittleEndianBytes {
  public:
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

    void U16(unsigned v) {
        bytes_.push_back(static_cast<std::uint8_t>(v));
        bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void Text(std::string_view s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
    // An ASCII value: the characters and the terminating NUL.
    void Ascii(std::string_view s) {
        Text(s);
        bytes_.push_back(0);
    }
    // A directory entry; a single SHORT sits in the low two bytes of the 32-bit field.
    void Entry(unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
        U16(tag);
        U16(type);
        U32(count);
        U32(value);
    }
    void Resolution() {
        U32(kResolutionNumerator);
        U32(kResolutionDenominator);
    }

  private:
    std::vector<std::uint8_t> bytes_;
};

bool IsBlackAndWhite(const Bitmap& bitmap) {
    const auto& p = bitmap.Palette();
    return p.size() >= 2 && p[0] == RgbQuad{0, 0, 0, 0} && p[1] == RgbQuad{255, 255, 255, 0};
}

bool WriteBytes(std::FILE* file, const std::uint8_t* data, std::size_t size) {
    return size == 0 || std::fwrite(data, 1, size, file) == size;
}

// Streams the strip: rows top first, each converted into a large buffer that is written
// whenever it is full, so the disk sees few big writes.
bool WriteStrip(std::FILE* file, const Bitmap& bitmap, RowSource source, int width,
                std::size_t rowBytes, std::uint8_t lastByteMask) {
    if (rowBytes == 0) return true;
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, kChunk / rowBytes);
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(rowsPerChunk * rowBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::size_t filled = 0;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* in = bitmap.Row(y);
        std::uint8_t* out = buffer.data() + filled;
        switch (source) {
            case RowSource::Copy:
                std::memcpy(out, in, rowBytes);
                out[rowBytes - 1] &= lastByteMask;
                break;
            case RowSource::ExpandIndex:
                for (int x = 0; x < width; ++x) out[x] = bitmap.IndexAt(x, y);
                break;
            case RowSource::Bgr24:
                CopySwappingRedBlue(in, out, static_cast<std::size_t>(width));
                break;
            case RowSource::Bgrx32:
                for (int x = 0; x < width; ++x) {
                    out[3 * x] = in[4 * x + 2];
                    out[3 * x + 1] = in[4 * x + 1];
                    out[3 * x + 2] = in[4 * x];
                }
                break;
        }
        filled += rowBytes;
        if (filled == buffer.size()) {
            if (!WriteBytes(file, buffer.data(), filled)) return false;
            filled = 0;
        }
    }
    return WriteBytes(file, buffer.data(), filled);
}

bool WriteKind(const Bitmap& bitmap, std::FILE* file, FileKind kind, RowSource source) {
    const std::uint32_t height = static_cast<std::uint32_t>(bitmap.Height());
    std::uint32_t width = static_cast<std::uint32_t>(bitmap.Width());
    std::uint32_t rowBytes = 0;
    unsigned bitsPerSample = 8;
    switch (kind) {
        case FileKind::Bilevel:
            rowBytes = (width + 7) / 8;
            bitsPerSample = 1;
            break;
        case FileKind::Palette4:
            rowBytes = (width + 1) / 2;
            bitsPerSample = 4;
            break;
        case FileKind::Palette8:
            rowBytes = width;
            break;
        case FileKind::Rgb:
            rowBytes = width * 3;
            break;
    }
    // Bits past the width in the last byte of a row are written as 0: the low pixel of an
    // odd 4-bit row, the low bits of a bilevel row.
    std::uint8_t lastByteMask = 0xFF;
    if (kind == FileKind::Bilevel && width % 8 != 0) {
        lastByteMask = static_cast<std::uint8_t>(0xFF << (8 - width % 8));
    } else if (kind == FileKind::Palette4 && width % 2 != 0) {
        lastByteMask = 0xF0;
    }
    // At most 2^28 pixels of 3 bytes: every offset below fits in 32 bits.
    const std::uint32_t stripBytes = height * rowBytes;

    // Everything before the strip goes into `head`, everything after it into `tail`; all
    // offsets are known beforehand, so the file is written front to back in one pass.
    LittleEndianBytes head, tail;
    std::uint32_t stripOffset = 0, xResolution = 0, yResolution = 0, software = 0;
    std::uint32_t directory = 0, colorMap = 0, bitsPerSampleOffset = 0;
    const std::uint32_t colors = kind == FileKind::Palette4 ? 16 : 256;
    switch (kind) {
        case FileKind::Bilevel:
            stripOffset = 8;
            xResolution = stripOffset + stripBytes;
            yResolution = xResolution + 8;
            software = yResolution + 8;
            directory = software + kSoftwareBytes;
            break;
        case FileKind::Palette4:
        case FileKind::Palette8:
            colorMap = 8;
            xResolution = colorMap + 3 * colors * 2;
            yResolution = xResolution + 8;
            software = yResolution + 8;
            stripOffset = software + kSoftwareBytes;
            directory = stripOffset + stripBytes;
            break;
        case FileKind::Rgb:
            xResolution = 8;
            yResolution = 16;
            bitsPerSampleOffset = 24;
            software = 30;
            stripOffset = software + kSoftwareBytes;
            directory = stripOffset + stripBytes;
            break;
    }

    head.Text("II");
    head.U16(42);
    head.U32(directory);
    // The resolutions and the software string follow the strip in a bilevel file and come
    // before it in the other kinds.
    LittleEndianBytes& fixedPieces = kind == FileKind::Bilevel ? tail : head;
    if (colorMap != 0) {
        // Each component in the high byte: full intensity is 65280.
        const auto& palette = bitmap.Palette();
        for (int channel = 0; channel < 3; ++channel) {
            for (std::uint32_t i = 0; i < colors; ++i) {
                const RgbQuad q = i < palette.size() ? palette[i] : RgbQuad{};
                const std::uint8_t v = channel == 0 ? q.red : channel == 1 ? q.green : q.blue;
                head.U16(unsigned{v} << 8);
            }
        }
    }
    fixedPieces.Resolution();
    fixedPieces.Resolution();
    if (kind == FileKind::Rgb) {
        head.U16(8);
        head.U16(8);
        head.U16(8);
    }
    fixedPieces.Ascii(kSoftware);

    const bool rgb = kind == FileKind::Rgb;
    const bool palette = colorMap != 0;
    tail.U16(rgb || palette ? 15 : 14);
    tail.Entry(254, kLong, 1, 0);
    tail.Entry(256, kShort, 1, width);
    tail.Entry(257, kShort, 1, height);
    if (rgb) {
        tail.Entry(258, kShort, 3, bitsPerSampleOffset);
    } else {
        tail.Entry(258, kShort, 1, bitsPerSample);
    }
    tail.Entry(259, kShort, 1, 1);
    tail.Entry(262, kShort, 1, rgb ? 2 : palette ? 3 : 1);
    tail.Entry(273, kLong, 1, stripOffset);
    tail.Entry(277, kShort, 1, rgb ? 3 : 1);
    tail.Entry(278, kLong, 1, height);
    tail.Entry(279, kLong, 1, stripBytes);
    tail.Entry(282, kRational, 1, xResolution);
    tail.Entry(283, kRational, 1, yResolution);
    if (rgb) tail.Entry(284, kShort, 1, 1);
    tail.Entry(296, kShort, 1, 2);
    tail.Entry(305, kAscii, kSoftwareBytes, software);
    if (palette) tail.Entry(320, kShort, 3 * colors, colorMap);
    tail.U32(0);

    return WriteBytes(file, head.Bytes().data(), head.Size()) &&
           WriteStrip(file, bitmap, source, static_cast<int>(width), rowBytes, lastByteMask) &&
           WriteBytes(file, tail.Bytes().data(), tail.Size()) && std::fflush(file) == 0;
}

}  // namespace

bool WriteTiffFile(const Bitmap& bitmap, std::FILE* file) {
    if (bitmap.Empty()) return true;
    if (bitmap.Width() > kMaxSide16 || bitmap.Height() > kMaxSide16) return false;
    try {
        switch (bitmap.BitCount()) {
            case 1:
                if (IsBlackAndWhite(bitmap)) {
                    return WriteKind(bitmap, file, FileKind::Bilevel, RowSource::Copy);
                }
                return WriteKind(bitmap, file, FileKind::Palette8, RowSource::ExpandIndex);
            case 4:
                return WriteKind(bitmap, file, FileKind::Palette4, RowSource::Copy);
            case 8:
                return WriteKind(bitmap, file, FileKind::Palette8, RowSource::Copy);
            case 16: {
                Bitmap rgb;
                if (!ConvertTo24(bitmap, rgb)) return false;
                return WriteKind(rgb, file, FileKind::Rgb, RowSource::Bgr24);
            }
            case 24:
                return WriteKind(bitmap, file, FileKind::Rgb, RowSource::Bgr24);
            case 32:
                return WriteKind(bitmap, file, FileKind::Rgb, RowSource::Bgrx32);
            default:
                return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace ozm
