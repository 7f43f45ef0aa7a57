#include "core/formats/raster/BmpCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <vector>

#include "core/formats/io/ByteOrder.h"
#include "core/formats/io/OutputFile.h"
#include "core/parallel/OrderedBands.h"

namespace ozm {

namespace {

// Compression codes of the info header.
// Marks a compression this decoder does not read (JPEG, PNG, the OS/2 Huffman and RLE24
// codes, unknown values).
constexpr std::uint32_t kUnsupported = 0xFFFFFFFF;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kCoreHeaderSize = 12;
constexpr std::size_t kInfoHeaderSize = 40;
// Written files carry 96 dots per inch, the reference resolution of the rest of the program.
constexpr std::int32_t kPixelsPerMetre96Dpi = 3780;

// What the info header says, checked for consistency but not yet against the pixel data.
struct DibHeader {
    std::int64_t width = 0;
    std::int64_t height = 0;  // always positive; topDown tells the row order
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::array<std::uint32_t, 3> masks{};  // red, green, blue; only for the bitfield codes
    std::size_t tableOffset = 0;           // colour table start, from the start of the header
    std::size_t entrySize = 4;             // 3 for the OS/2 core header
    std::uint64_t tableEntries = 0;        // entries the table occupies in the data
    std::size_t paletteEntries = 0;        // entries that can matter: at most 2^bitCount
};

// Reads the info header at the start of `info`. Header sizes: 12 (OS/2 core, 16-bit sizes,
// 3-byte colour entries), 40 and every larger Windows header (52 and 56 carry the masks, 108
// and 124 add colour space data), and the OS/2 2.x header, which may stop anywhere from 16
// to 64 bytes (fields left out count as 0) and gives compression codes 3 and 4 its own
// meanings.
std::optional<DibHeader> ParseHeader(std::span<const std::uint8_t> info, std::string* reason) {
    const auto refuse = [reason](std::string_view text) -> std::optional<DibHeader> {
        Refuse(reason, text);
        return std::nullopt;
    };
    if (info.size() < 4) return refuse("truncated image data");
    const std::uint32_t size = LoadLe32(info.data());
    if (size > info.size()) return refuse("truncated image data");
    const std::uint8_t* p = info.data();
    DibHeader h;
    std::int64_t rawHeight = 0;
    std::uint32_t clrUsed = 0;
    if (size == kCoreHeaderSize) {
        h.width = LoadLe16(p + 4);
        rawHeight = LoadLe16(p + 6);
        h.bitCount = LoadLe16(p + 10);
        h.entrySize = 3;
    } else if (size >= 16) {
        const bool os2 = size <= 64 && size != 40 && size != 52 && size != 56;
        auto field = [&](std::size_t offset) {
            return offset + 4 <= size ? LoadLe32(p + offset) : 0u;
        };
        h.width = static_cast<std::int32_t>(LoadLe32(p + 4));
        rawHeight = static_cast<std::int32_t>(LoadLe32(p + 8));
        h.bitCount = LoadLe16(p + 14);
        h.compression = field(16);
        clrUsed = field(32);
        if (os2 && h.compression > kBiRle4) h.compression = kUnsupported;
    } else {
        return refuse("unsupported BMP header");
    }
    h.tableOffset = size;
    h.topDown = rawHeight < 0;
    h.height = rawHeight < 0 ? -rawHeight : rawHeight;
    if (!IsAcceptableImageSize(h.width, h.height)) {
        return refuse(ImageSizeReason(h.width, h.height));
    }

    switch (h.compression) {
        case kBiRgb:
            if (!IsValidBitCount(h.bitCount)) return refuse("unsupported BMP bit depth");
            break;
        case kBiRle8:
        case kBiRle4:
            // Run-length data is always stored bottom-up.
            if (h.bitCount != (h.compression == kBiRle8 ? 8 : 4) || h.topDown) {
                return refuse("damaged BMP header");
            }
            break;
        case kBiBitfields:
        case kBiAlphaBitfields: {
            if (h.bitCount != 16 && h.bitCount != 32) return refuse("damaged BMP header");
            if (size >= 52) {
                for (std::size_t i = 0; i < 3; ++i) h.masks[i] = LoadLe32(p + 40 + 4 * i);
            } else {
                // A 40-byte header is followed by the masks (the alpha mask too for the alpha
                // code); the colour table comes after them.
                const std::size_t maskBytes = h.compression == kBiBitfields ? 12 : 16;
                if (info.size() < size + maskBytes) return refuse("truncated image data");
                for (std::size_t i = 0; i < 3; ++i) h.masks[i] = LoadLe32(p + size + 4 * i);
                h.tableOffset = size + maskBytes;
            }
            break;
        }
        default:
            return refuse("unsupported BMP compression");
    }

    if (h.bitCount <= 8) {
        const std::uint32_t full = 1u << h.bitCount;
        h.tableEntries = (clrUsed == 0 || size == kCoreHeaderSize) ? full : clrUsed;
        h.paletteEntries = static_cast<std::size_t>(std::min<std::uint64_t>(h.tableEntries, full));
    } else {
        h.tableEntries = clrUsed;  // an optional table for display hints, skipped
    }
    return h;
}

// The first `count` colour entries at the table's place in `info` (as many as are there).
std::vector<RgbQuad> ReadPalette(std::span<const std::uint8_t> info, const DibHeader& h,
                                 std::size_t count) {
    const std::size_t room =
        info.size() > h.tableOffset ? (info.size() - h.tableOffset) / h.entrySize : 0;
    count = std::min(count, room);
    std::vector<RgbQuad> palette(count);
    const std::uint8_t* p = info.data() + h.tableOffset;
    for (std::size_t i = 0; i < count; ++i, p += h.entrySize) {
        palette[i] = RgbQuad{p[0], p[1], p[2], 0};
    }
    return palette;
}

// One channel of a bitfield pixel: (pixel >> shift) & mask, then through an 8-bit table.
// Channels wider than 8 bits keep their top 8 bits; narrower ones repeat their bits
// downwards (5 bits: v << 3 | v >> 2), so that full scale stays full scale.
struct Channel {
    unsigned shift = 0;
    std::uint32_t mask = 0;
    std::array<std::uint8_t, 256> table{};

    std::uint8_t operator()(std::uint32_t pixel) const { return table[(pixel >> shift) & mask]; }
};

std::optional<Channel> MakeChannel(std::uint32_t fieldMask) {
    Channel c;
    if (fieldMask == 0) return c;  // the channel is absent and reads as 0
    const unsigned low = static_cast<unsigned>(std::countr_zero(fieldMask));
    const std::uint32_t bits = fieldMask >> low;
    if ((bits & (bits + 1)) != 0) return std::nullopt;  // not one contiguous run of bits
    const unsigned width = static_cast<unsigned>(std::popcount(bits));
    if (width >= 8) {
        c.shift = low + width - 8;
        c.mask = 0xFF;
        for (unsigned v = 0; v < 256; ++v) c.table[v] = static_cast<std::uint8_t>(v);
    } else {
        c.shift = low;
        c.mask = bits;
        for (unsigned v = 0; v <= bits; ++v) {
            unsigned out = 0;
            for (int filled = 0; filled < 8; filled += static_cast<int>(width)) {
                out = (out << width) | v;
            }
            c.table[v] = static_cast<std::uint8_t>(out >> (((8 + width - 1) / width) * width - 8));
        }
    }
    return c;
}

// Rows of uncompressed data: row y of the picture (0 = top) in `bits`.
struct RowSource {
    std::span<const std::uint8_t> bits;
    std::size_t stride = 0;
    std::int64_t height = 0;
    bool topDown = false;

    const std::uint8_t* Row(int y) const {
        const std::int64_t fileRow = topDown ? y : height - 1 - y;
        return bits.data() + static_cast<std::size_t>(fileRow) * stride;
    }
};

// Uncompressed data must hold every row; only the padding after the last stored row may be
// missing (some writers leave it out). Anything shorter is refused as truncated rather than
// shown half black: a converter should not silently write a damaged copy.
std::optional<RowSource> CheckRows(const DibHeader& h, std::span<const std::uint8_t> bits) {
    const auto stride = RowStride(h.width, h.bitCount);
    if (!stride) return std::nullopt;
    const std::uint64_t used = (static_cast<std::uint64_t>(h.width) * h.bitCount + 7) / 8;
    const std::uint64_t need = static_cast<std::uint64_t>(*stride) * (h.height - 1) + used;
    if (bits.size() < need) return std::nullopt;
    return RowSource{bits, *stride, h.height, h.topDown};
}

void ZeroPadding(Bitmap& bmp, int y, std::size_t used) {
    std::memset(bmp.Row(y) + used, 0, bmp.Stride() - used);
}

// 1, 4, 8 and 24 bits: the rows are already in the bitmap's layout.
void CopyRows(const RowSource& src, Bitmap& bmp) {
    const std::size_t used = (static_cast<std::size_t>(bmp.Width()) * bmp.BitCount() + 7) / 8;
    for (int y = 0; y < bmp.Height(); ++y) {
        std::memcpy(bmp.Row(y), src.Row(y), used);
        ZeroPadding(bmp, y, used);
    }
}

// 16-bit 5-5-5 kept as it is, the unused top bit (alpha in some files) cleared.
void Copy555Rows(const RowSource& src, Bitmap& bmp) {
    const int w = bmp.Width();
    for (int y = 0; y < bmp.Height(); ++y) {
        const std::uint8_t* in = src.Row(y);
        std::uint8_t* out = bmp.Row(y);
        for (int x = 0; x < w; ++x) {
            out[2 * x] = in[2 * x];
            out[2 * x + 1] = in[2 * x + 1] & 0x7F;
        }
        ZeroPadding(bmp, y, static_cast<std::size_t>(w) * 2);
    }
}

// Clears the fourth byte of a little-endian 32-bit pixel.
constexpr std::uint32_t kLowThreeBytes =
    std::endian::native == std::endian::little ? 0x00FFFFFFu : 0xFFFFFF00u;

// 32-bit blue, green, red kept as they are; the fourth byte (alpha in some files) cleared,
// since the bitmap has no alpha channel.
void CopyBgrxRows(const RowSource& src, Bitmap& bmp) {
    const int w = bmp.Width();
    for (int y = 0; y < bmp.Height(); ++y) {
        const std::uint8_t* in = src.Row(y);
        std::uint8_t* out = bmp.Row(y);
        for (int x = 0; x < w; ++x) {
            std::uint32_t px;
            std::memcpy(&px, in + 4 * x, 4);
            px &= kLowThreeBytes;
            std::memcpy(out + 4 * x, &px, 4);
        }
    }
}

// Any other masks: every pixel through the three channel tables into 24 bits.
template <int Bytes>
void BitfieldRowsTo24(const RowSource& src, const std::array<Channel, 3>& ch, Bitmap& bmp) {
    const int w = bmp.Width();
    for (int y = 0; y < bmp.Height(); ++y) {
        const std::uint8_t* in = src.Row(y);
        std::uint8_t* out = bmp.Row(y);
        for (int x = 0; x < w; ++x, in += Bytes, out += 3) {
            const std::uint32_t px = Bytes == 2 ? LoadLe16(in) : LoadLe32(in);
            out[0] = ch[2](px);
            out[1] = ch[1](px);
            out[2] = ch[0](px);
        }
        ZeroPadding(bmp, y, static_cast<std::size_t>(w) * 3);
    }
}

// How uncompressed rows reach the bitmap, and at which depth.
struct RowPlan {
    enum Kind { Copy, Copy555, CopyBgrx, Fields16To24, Fields32To24 } kind = Copy;
    int bitCount = 0;
    std::array<Channel, 3> channels;
};

// Plain rows keep their depth. Bitfields go to the nearest depth that keeps their colours:
// 5-5-5 stays 16 bits and 8-8-8 in the usual places stays 32; any other masks give 24.
// Masks that are all 0, not one run of bits each, or wider than the pixel are refused.
std::optional<RowPlan> PlanRows(const DibHeader& h) {
    RowPlan plan;
    plan.bitCount = h.bitCount;
    if (h.compression == kBiRgb) {
        plan.kind = h.bitCount == 16   ? RowPlan::Copy555
                    : h.bitCount == 32 ? RowPlan::CopyBgrx
                                       : RowPlan::Copy;
        return plan;
    }
    const auto& m = h.masks;
    const std::uint32_t limit = h.bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    if ((m[0] | m[1] | m[2]) == 0 || std::max({m[0], m[1], m[2]}) > limit) return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto c = MakeChannel(m[i]);
        if (!c) return std::nullopt;
        plan.channels[i] = *c;
    }
    if (h.bitCount == 16 && m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F) {
        plan.kind = RowPlan::Copy555;
    } else if (h.bitCount == 32 && m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF) {
        plan.kind = RowPlan::CopyBgrx;
    } else {
        plan.kind = h.bitCount == 16 ? RowPlan::Fields16To24 : RowPlan::Fields32To24;
        plan.bitCount = 24;
    }
    return plan;
}

void WriteRows(const RowPlan& plan, const RowSource& src, Bitmap& bmp) {
    switch (plan.kind) {
        case RowPlan::Copy:
            CopyRows(src, bmp);
            break;
        case RowPlan::Copy555:
            Copy555Rows(src, bmp);
            break;
        case RowPlan::CopyBgrx:
            CopyBgrxRows(src, bmp);
            break;
        case RowPlan::Fields16To24:
            BitfieldRowsTo24<2>(src, plan.channels, bmp);
            break;
        case RowPlan::Fields32To24:
            BitfieldRowsTo24<4>(src, plan.channels, bmp);
            break;
    }
}

void PutIndex(Bitmap& bmp, std::uint8_t* row, std::int64_t x, unsigned index) {
    if (bmp.BitCount() == 8) {
        row[x] = static_cast<std::uint8_t>(index);
    } else {
        std::uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | index)
                    : static_cast<std::uint8_t>((b & 0x0F) | (index << 4));
    }
}

// Run-length data (RLE8, RLE4) into a zero-filled bitmap, so pixels no run paints keep
// palette index 0. Runs and absolute groups that go past the row's end are cut at the end;
// a delta to the right of the row leaves the rest of that row unpainted; rows past the top
// end the picture, as an end-of-bitmap escape does. Data that ends before the end-of-bitmap
// escape with rows left to paint is truncated and refused. `highest` gets the highest
// palette index painted (0 when nothing is).
bool DecodeRle(const DibHeader& h, std::span<const std::uint8_t> data, Bitmap& bmp,
               unsigned& highest) {
    if (!bmp.Create(static_cast<int>(h.width), static_cast<int>(h.height), h.bitCount, true)) {
        return false;
    }
    const bool rle4 = h.compression == kBiRle4;
    const std::int64_t width = h.width;
    const std::int64_t height = h.height;
    std::int64_t x = 0;
    std::int64_t y = 0;  // counted from the bottom row, as the data is stored
    std::size_t pos = 0;
    const std::size_t n = data.size();
    auto row = [&]() { return bmp.Row(static_cast<int>(height - 1 - y)); };
    highest = 0;
    while (y < height) {
        if (n - pos < 2) return false;
        const unsigned count = data[pos];
        const unsigned value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            const std::int64_t end = std::min<std::int64_t>(x + count, width);
            std::uint8_t* r = row();
            if (x < end) {
                highest = std::max(highest, !rle4         ? value
                                            : end - x > 1 ? std::max(value >> 4, value & 0x0F)
                                                          : value >> 4);
            }
            if (!rle4) {
                if (x < end)
                    std::memset(r + x, static_cast<int>(value), static_cast<std::size_t>(end - x));
            } else {
                const unsigned pair[2] = {value >> 4, value & 0x0F};
                for (std::int64_t i = x; i < end; ++i) PutIndex(bmp, r, i, pair[(i - x) & 1]);
            }
            x = end;
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap
                return true;
            case 2: {  // delta: move right and up from the current position
                if (n - pos < 2) return false;
                x = std::min<std::int64_t>(x + data[pos], width);
                y += data[pos + 1];
                pos += 2;
                break;
            }
            default: {  // absolute group of `value` pixels, padded to a 16-bit boundary
                const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
                const std::size_t padded = (bytes + 1) & ~std::size_t{1};
                if (n - pos < padded) return false;
                const std::uint8_t* in = data.data() + pos;
                const std::int64_t end = std::min<std::int64_t>(x + value, width);
                std::uint8_t* r = row();
                for (std::int64_t i = x; i < end; ++i) {
                    const std::size_t k = static_cast<std::size_t>(i - x);
                    const unsigned index =
                        rle4 ? ((k & 1) ? in[k / 2] & 0x0F : in[k / 2] >> 4) : in[k];
                    PutIndex(bmp, r, i, index);
                    highest = std::max(highest, index);
                }
                x = end;
                pos += padded;
            }
        }
    }
    return true;
}

// The highest palette index in an uncompressed picture.
unsigned HighestIndex(const Bitmap& bmp) {
    const unsigned top = (1u << bmp.BitCount()) - 1;
    unsigned highest = 0;
    for (int y = 0; y < bmp.Height() && highest < top; ++y) {
        if (bmp.BitCount() == 8) {
            const std::uint8_t* r = bmp.Row(y);
            highest = std::max<unsigned>(highest, *std::max_element(r, r + bmp.Width()));
        } else {
            for (int x = 0; x < bmp.Width(); ++x) {
                highest = std::max<unsigned>(highest, bmp.IndexAt(x, y));
            }
        }
    }
    return highest;
}

// The bitmap that uncompressed rows are written into: `out` itself when it already has
// this size and depth (a batch of equal-sized files then skips a fresh allocation and its
// page faults; nothing can fail once rows are written), else `fresh`, newly created.
Bitmap* RowTarget(Bitmap& out, Bitmap& fresh, int width, int height, int bitCount) {
    if (out.Data() && out.Width() == width && out.Height() == height &&
        out.BitCount() == bitCount) {
        return &out;
    }
    return fresh.Create(width, height, bitCount, false) ? &fresh : nullptr;
}

bool DecodePixels(const DibHeader& h, std::vector<RgbQuad> palette,
                  std::span<const std::uint8_t> bits, Bitmap& out, std::string* reason) {
    Bitmap fresh;
    Bitmap* bmp = &fresh;
    const bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
    unsigned highest = 0;
    if (rle) {
        if (!DecodeRle(h, bits, fresh, highest)) {
            return Refuse(reason, fresh.Data() ? "truncated image data" : "out of memory");
        }
    } else {
        const auto src = CheckRows(h, bits);
        if (!src) return Refuse(reason, "truncated image data");
        const auto plan = PlanRows(h);
        if (!plan) return Refuse(reason, "invalid BMP colour masks");
        bmp = RowTarget(out, fresh, static_cast<int>(h.width), static_cast<int>(h.height),
                        plan->bitCount);
        if (!bmp) return Refuse(reason, "out of memory");
        WriteRows(*plan, *src, *bmp);
    }
    if (bmp->HasPalette()) {
        // Indexes past the file's colour table show black: the palette is lengthened with
        // black entries up to the highest index used, so every writer sees a consistent
        // bitmap.
        const auto entries = static_cast<unsigned>(palette.size());
        if (entries < (1u << h.bitCount)) {
            if (!rle) highest = HighestIndex(*bmp);
            if (highest >= entries) palette.resize(highest + 1, RgbQuad{});
        }
        bmp->Palette() = std::move(palette);
    }
    if (bmp != &out) out = std::move(fresh);
    return true;
}

}  // namespace

bool DecodeDib(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits,
               Bitmap& out) {
    const auto h = ParseHeader(info, nullptr);
    if (!h) return false;
    // A colour table cut short by the end of `info` gives the entries that are there.
    return DecodePixels(*h, ReadPalette(info, *h, h->paletteEntries), bits, out, nullptr);
}

// Where the pixel data of a file of `fileSize` bytes starts (`data` holds at least its
// file header): at bfOffBits when it points past the header (and masks) and inside the file,
// otherwise right after the colour table as the header describes it.
std::uint64_t PixelDataStart(std::span<const std::uint8_t> data, const DibHeader& h,
                             std::uint64_t fileSize) {
    const std::uint64_t tableStart = kFileHeaderSize + h.tableOffset;
    const std::uint64_t tableEnd = tableStart + h.tableEntries * h.entrySize;
    const std::uint64_t offBits = LoadLe32(data.data() + 10);
    return offBits >= tableStart && offBits < fileSize ? offBits : tableEnd;
}

std::uint64_t BmpUsefulBytes(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
    if (head.size() < kFileHeaderSize + 4) return head.size();
    const auto info = head.subspan(kFileHeaderSize);
    // The header and any masks after it must lie in `head` (or `head` be the whole file) for
    // its verdict to stand for the whole file.
    const std::uint64_t headerEnd = std::uint64_t{LoadLe32(info.data())} + 16;
    if (headerEnd > info.size() && head.size() < fileSize) return fileSize;
    const auto h = ParseHeader(info, nullptr);
    if (!h) return head.size();  // refused whatever follows
    const std::uint64_t pixels = static_cast<std::uint64_t>(h->width) * h->height;
    std::uint64_t pixelBytes = 0;
    if (h->compression == kBiRle8 || h->compression == kBiRle4) {
        pixelBytes = 4 * pixels + 2 * static_cast<std::uint64_t>(h->height) + 2;
    } else {
        const auto stride = RowStride(h->width, h->bitCount);
        if (!stride) return fileSize;
        pixelBytes = std::uint64_t{*stride} * static_cast<std::uint64_t>(h->height);
    }
    const std::uint64_t start = PixelDataStart(head, *h, fileSize);
    return start > fileSize ? fileSize : std::min(fileSize, start + pixelBytes);
}

bool DecodeBmp(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason) {
    if (data.size() < 2 || data[0] != 'B' || data[1] != 'M')
        return Refuse(reason, "not a BMP file");
    if (data.size() < kFileHeaderSize + 4) return Refuse(reason, "truncated image data");
    const auto info = data.subspan(kFileHeaderSize);
    const auto h = ParseHeader(info, reason);
    if (!h) return false;
    // A colour table ends at bfOffBits at the latest when the pixels start there.
    const std::uint64_t tableStart = kFileHeaderSize + h->tableOffset;
    const std::uint64_t offBits = LoadLe32(data.data() + 10);
    const std::uint64_t bitsStart = PixelDataStart(data, *h, data.size());
    std::size_t paletteEntries = h->paletteEntries;
    if (bitsStart == offBits) {
        paletteEntries =
            std::min<std::uint64_t>(paletteEntries, (offBits - tableStart) / h->entrySize);
    }
    if (bitsStart >= data.size()) return Refuse(reason, "truncated image data");
    return DecodePixels(*h, ReadPalette(info, *h, paletteEntries),
                        data.subspan(static_cast<std::size_t>(bitsStart)), out, reason);
}

bool EncodeBmp(const Bitmap& bitmap, std::FILE* file, int threads) {
    if (bitmap.Empty() || !bitmap.Data() || !IsValidBitCount(bitmap.BitCount()) || !file) {
        return false;
    }
    const int bitCount = bitmap.BitCount();
    const int w = bitmap.Width();
    const int ht = bitmap.Height();
    const std::size_t stride = bitmap.Stride();
    // The table holds the palette's own entries (biClrUsed says how many). An empty palette
    // is written as a full black one, since biClrUsed 0 would announce 2^bitCount entries.
    std::vector<RgbQuad> palette;
    if (bitmap.HasPalette()) {
        const std::size_t full = std::size_t{1} << bitCount;
        palette.assign(bitmap.Palette().begin(),
                       bitmap.Palette().begin() +
                           static_cast<std::ptrdiff_t>(std::min(full, bitmap.Palette().size())));
        if (palette.empty()) palette.resize(full);
    }
    const std::uint64_t imageSize = static_cast<std::uint64_t>(stride) * ht;
    const std::uint64_t offBits = kFileHeaderSize + kInfoHeaderSize + 4 * palette.size();
    const std::uint64_t fileSize = offBits + imageSize;
    if (fileSize > 0xFFFFFFFFu) return false;

    std::vector<std::uint8_t> head(static_cast<std::size_t>(offBits), 0);
    std::uint8_t* p = head.data();
    p[0] = 'B';
    p[1] = 'M';
    StoreLe32(p + 2, static_cast<std::uint32_t>(fileSize));
    StoreLe32(p + 10, static_cast<std::uint32_t>(offBits));
    p += kFileHeaderSize;
    StoreLe32(p, kInfoHeaderSize);
    StoreLe32(p + 4, static_cast<std::uint32_t>(w));
    StoreLe32(p + 8, static_cast<std::uint32_t>(ht));  // positive: rows bottom-up
    StoreLe16(p + 12, 1);
    StoreLe16(p + 14, static_cast<std::uint32_t>(bitCount));
    StoreLe32(p + 16, kBiRgb);
    StoreLe32(p + 20, static_cast<std::uint32_t>(imageSize));
    StoreLe32(p + 24, kPixelsPerMetre96Dpi);
    StoreLe32(p + 28, kPixelsPerMetre96Dpi);
    StoreLe32(p + 32, static_cast<std::uint32_t>(palette.size()));
    p += kInfoHeaderSize;
    for (const RgbQuad& q : palette) {
        p[0] = q.blue;
        p[1] = q.green;
        p[2] = q.red;
        p += 4;
    }
    if (std::fwrite(head.data(), 1, head.size(), file) != head.size()) return false;

    // Bytes the bitmap leaves undefined (row padding, bits past the last pixel, the unused
    // 16-bit top bit and 32-bit fourth byte) are written as 0 so that no stale memory reaches
    // the file.
    const std::size_t usedBits = static_cast<std::size_t>(w) * bitCount;
    const std::size_t used = (usedBits + 7) / 8;
    if (usedBits % 8 == 0 && bitCount != 16 && bitCount != 32) {
        // Nothing to mask but the padding: the rows go out from the bitmap itself, bottom row
        // first, each followed by its padding's zeros.
        static constexpr std::uint8_t kZeros[4] = {};
        std::vector<iovec> pieces;
        pieces.reserve(static_cast<std::size_t>(ht) * 2);
        for (int y = ht - 1; y >= 0; --y) {
            pieces.push_back({const_cast<std::uint8_t*>(bitmap.Row(y)), used});
            if (stride > used) pieces.push_back({const_cast<std::uint8_t*>(kZeros), stride - used});
        }
        return OutputFile::WritePieces(file, pieces) && std::fflush(file) == 0;
    }
    // Otherwise the rows are copied out and masked in pieces of about 1 MiB, bottom row first.
    const auto tailMask =
        static_cast<std::uint8_t>(usedBits % 8 ? 0xFF << (8 - usedBits % 8) : 0xFF);
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, (std::size_t{1} << 20) / stride);
    const std::size_t rows = static_cast<std::size_t>(ht);
    std::vector<std::vector<std::uint8_t>> slots(SlotCount(threads));
    const auto produce = [&](std::size_t piece, std::size_t slot) {
        const std::size_t first = piece * rowsPerChunk;  // counted from the bottom row
        const std::size_t count = std::min(rowsPerChunk, rows - first);
        std::vector<std::uint8_t>& chunk = slots[slot];
        chunk.resize(count * stride);
        for (std::size_t k = 0; k < count; ++k) {
            std::uint8_t* out = chunk.data() + k * stride;
            std::memcpy(out, bitmap.Row(static_cast<int>(rows - 1 - first - k)), used);
            std::memset(out + used, 0, stride - used);
            out[used - 1] &= tailMask;
            if (bitCount == 16) {
                for (int x = 0; x < w; ++x) out[2 * x + 1] &= 0x7F;
            } else if (bitCount == 32) {
                for (int x = 0; x < w; ++x) out[4 * x + 3] = 0;
            }
        }
        return true;
    };
    const auto consume = [&](std::size_t, std::size_t slot) {
        const std::vector<std::uint8_t>& chunk = slots[slot];
        return std::fwrite(chunk.data(), 1, chunk.size(), file) == chunk.size();
    };
    BandRun run;
    run.count = (rows + rowsPerChunk - 1) / rowsPerChunk;
    run.threads = threads;
    if (!RunBandsInOrder(run, produce, consume)) return false;
    return std::fflush(file) == 0;
}

}  // namespace ozm
