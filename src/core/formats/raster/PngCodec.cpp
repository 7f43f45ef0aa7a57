#include "core/formats/raster/PngCodec.h"

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/bitmap/RowsAs24.h"
#include "core/formats/io/ByteOrder.h"
#include "core/formats/io/DeflateJoin.h"
#include "core/formats/io/PixelDeflate.h"
#include "core/parallel/OrderedBands.h"

namespace ozm {

namespace {

constexpr const char* kUnexpectedEnd = "unexpected end of file";

struct MemoryReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (length > r->size - r->pos) png_error(png, kUnexpectedEnd);
    if (length == 0) return;
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
}

// Where libpng must find the file ending: at the header of the first chunk other than IDAT
// whose declared length runs past the last byte. libpng allocates a known chunk's declared
// length before it reads the bytes (an sPLT may claim 2 GiB in a file of 600 bytes); ending
// the data at that header refuses the file as truncated, which it is, for the price of the
// bytes present. IDAT data is read in pieces, so a truncated one still decodes up to the cut.
std::size_t EndBeforeOverlongChunk(std::span<const std::uint8_t> data) {
    std::size_t pos = 8;
    while (data.size() - pos >= 8) {
        const std::uint32_t length = LoadBe32(data.data() + pos);
        const std::uint8_t* type = data.data() + pos + 4;
        // Above 2^31 - 1 libpng refuses the header itself, with its own text.
        if (length > PNG_UINT_31_MAX) break;
        if (length + std::uint64_t{12} > data.size() - pos) {
            return std::memcmp(type, "IDAT", 4) == 0 ? data.size() : pos;
        }
        if (std::memcmp(type, "IEND", 4) == 0) break;
        pos += length + std::size_t{12};
    }
    return data.size();
}

void WriteToFile(png_structp png, png_bytep data, png_size_t length) {
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, file) != length) png_error(png, "write failed");
}

void FlushFile(png_structp png) { std::fflush(static_cast<std::FILE*>(png_get_io_ptr(png))); }

void SilentWarning(png_structp, png_const_charp) {}

// What stopped a decode, kept as plain data while libpng may still jump.
struct DecodeStop {
    char message[160];  // libpng's text (or our reader's)
    bool imageSize;     // the header's size is beyond the pixel limit
    bool outOfMemory;
    png_uint_32 width, height;
};

[[noreturn]] void ErrorJump(png_structp png, png_const_charp message) {
    if (auto* stop = static_cast<DecodeStop*>(png_get_error_ptr(png));
        stop && stop->message[0] == '\0' && message) {
        std::strncpy(stop->message, message, sizeof stop->message - 1);
    }
    png_longjmp(png, 1);
}

// Decoded file rows at 2 bits per pixel widened to the bitmap's 4 bits per pixel.
void Widen2To4(const std::uint8_t* in, std::uint8_t* out, int width) {
    for (int x = 0; x < width; x += 2) {
        const unsigned a = (in[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        const unsigned b = x + 1 < width ? (in[(x + 1) >> 2] >> (6 - 2 * ((x + 1) & 3))) & 3 : 0;
        out[x >> 1] = static_cast<std::uint8_t>((a << 4) | b);
    }
}

// `rows` and `scratch` are owned by the caller: nothing with a destructor may be created
// between setjmp and png_longjmp.
bool DecodeInto(png_structp png, png_infop info, Bitmap& out, std::vector<png_bytep>& rows,
                std::vector<std::uint8_t>& scratch, DecodeStop& stop) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    if (!IsAcceptableImageSize(width, height)) {
        stop.imageSize = true;
        stop.width = width;
        stop.height = height;
        return false;
    }

    int bitCount = 24;
    bool twoBit = false;
    if (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_RGB_ALPHA) {
        if (depth == 16) png_set_strip_16(png);
        png_set_strip_alpha(png);
        png_set_bgr(png);
    } else {
        if (depth == 16) png_set_strip_16(png);
        if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_strip_alpha(png);
        bitCount = depth == 1 ? 1 : depth <= 4 ? 4 : 8;
        twoBit = depth == 2;
    }
    if (interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(png);
    png_read_update_info(png, info);

    if (!out.Create(static_cast<int>(width), static_cast<int>(height), bitCount, true)) {
        stop.outOfMemory = true;
        return false;
    }
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp plte = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &plte, &count) != PNG_INFO_PLTE) count = 0;
        auto& pal = out.Palette();
        pal.assign(static_cast<std::size_t>(count), RgbQuad{});
        for (int i = 0; i < count; ++i) {
            pal[static_cast<std::size_t>(i)] = RgbQuad{plte[i].blue, plte[i].green, plte[i].red, 0};
        }
    } else if (bitCount != 24) {
        SetGreyPalette(out.Palette(), 1 << (depth == 16 ? 8 : depth));
    }

    rows.resize(height);
    if (twoBit) {
        const std::size_t fileStride = (static_cast<std::size_t>(width) * 2 + 7) / 8;
        scratch.assign(fileStride * height, 0);
        for (png_uint_32 y = 0; y < height; ++y) rows[y] = scratch.data() + fileStride * y;
    } else {
        for (png_uint_32 y = 0; y < height; ++y) rows[y] = out.Row(static_cast<int>(y));
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    if (twoBit) {
        for (png_uint_32 y = 0; y < height; ++y) {
            Widen2To4(rows[y], out.Row(static_cast<int>(y)), static_cast<int>(width));
        }
    }
    return true;
}

// `iccp` is the data of an iCCP chunk and `exif` of an eXIf chunk; empty ones are left out.
constexpr png_byte kIccpName[5] = "iCCP";
constexpr png_byte kExifName[5] = "eXIf";

bool EncodeFrom(png_structp png, png_infop info, const Bitmap& bitmap, std::FILE* file,
                std::uint8_t filterSet, std::vector<png_color>& plte, RowsAs24& rows,
                std::span<const std::uint8_t> iccp, std::span<const std::uint8_t> exif) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, file, WriteToFile, FlushFile);
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    const int bitCount = bitmap.BitCount();
    const bool palette = bitmap.HasPalette();
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 palette ? bitCount : 8, palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // libpng's filter flags sit three bits above ours (PNG_FILTER_NONE is 0x08).
    png_set_filter(png, PNG_FILTER_TYPE_BASE, (filterSet & 0x1F) << 3);
    if (palette) {
        png_set_PLTE(png, info, plte.data(), static_cast<int>(plte.size()));
    }
    png_write_info_before_PLTE(png, info);
    if (!iccp.empty()) png_write_chunk(png, kIccpName, iccp.data(), iccp.size());
    png_write_info(png, info);
    if (!exif.empty()) png_write_chunk(png, kExifName, exif.data(), exif.size());
    if (bitCount == 24) {
        png_set_bgr(png);
    } else if (bitCount == 32) {
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    // Palette, 24- and 32-bit rows go in as they are; 16-bit ones through `rows`.
    const bool direct = palette || bitCount == 24 || bitCount == 32;
    for (int y = 0; y < height; ++y) png_write_row(png, direct ? bitmap.Row(y) : rows.Row(y));
    png_write_end(png, info);
    return true;
}

// Highest palette index any pixel uses, so that PLTE always covers every pixel.
int HighestIndex(const Bitmap& bitmap) {
    int highest = 0;
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x)
            highest = std::max<int>(highest, bitmap.IndexAt(x, y));
        if (highest == (1 << bitmap.BitCount()) - 1) break;
    }
    return highest;
}

// The palette as PLTE carries it: at least up to the highest index a pixel uses.
std::vector<png_color> PlteFor(const Bitmap& bitmap) {
    std::vector<png_color> plte;
    if (!bitmap.HasPalette()) return plte;
    const auto& pal = bitmap.Palette();
    std::size_t count = pal.size();
    // Pixels past a short palette read as black; PLTE grows to cover them.
    const std::size_t needed = static_cast<std::size_t>(HighestIndex(bitmap)) + 1;
    if (count < needed) count = needed;
    plte.assign(count, png_color{0, 0, 0});
    for (std::size_t i = 0; i < pal.size() && i < count; ++i) {
        plte[i] = png_color{pal[i].red, pal[i].green, pal[i].blue};
    }
    return plte;
}

// Palette pictures go through libdeflate's level 5: smaller than zlib's level 6 at about
// three times its speed (bench/png_deflate.results.txt); level 4 and below are larger than
// zlib's 6. Red, green and blue rows go through PixelDeflater, which on photos is another
// 1.2% smaller at twice libdeflate's speed.
constexpr int kDeflateLevel = 5;
// IDAT chunks of at most this much data, far below the format's 2^31 - 1.
constexpr std::size_t kMaxChunkData = std::size_t{1} << 24;

bool PutChunk(std::FILE* file, const char type[4], const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, 8> head{};
    StoreBe32(head.data(), static_cast<std::uint32_t>(size));
    std::memcpy(head.data() + 4, type, 4);
    std::uint32_t crc = libdeflate_crc32(0, head.data() + 4, 4);
    if (size > 0) crc = libdeflate_crc32(crc, data, size);
    std::array<std::uint8_t, 4> tail{};
    StoreBe32(tail.data(), crc);
    return std::fwrite(head.data(), 1, 8, file) == 8 &&
           (size == 0 || std::fwrite(data, 1, size, file) == size) &&
           std::fwrite(tail.data(), 1, 4, file) == 4;
}

bool PutData(std::FILE* file, const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at < size; at += kMaxChunkData) {
        if (!PutChunk(file, "IDAT", data + at, std::min(kMaxChunkData, size - at))) return false;
    }
    return true;
}

// The image data of a PNG with filter None: each row its filter byte 0 and its samples in
// the file's layout (palette indexes as they stand; red, green, blue at 8 bits otherwise).
class FilteredRows {
  public:
    explicit FilteredRows(const Bitmap& bitmap)
        : bitmap_(bitmap),
          rgb_(bitmap, ChannelOrder::Rgb),
          sampleBytes_(bitmap.HasPalette()
                           ? (static_cast<std::size_t>(bitmap.Width()) * bitmap.BitCount() + 7) / 8
                           : static_cast<std::size_t>(bitmap.Width()) * 3) {}

    std::size_t RowBytes() const { return sampleBytes_ + 1; }
    bool Palette() const { return bitmap_.HasPalette(); }

    // Rows [y0, y1) one after another into `out`.
    void Put(int y0, int y1, std::uint8_t* out) const {
        for (int y = y0; y < y1; ++y, out += RowBytes()) {
            out[0] = 0;
            if (bitmap_.HasPalette()) {
                std::memcpy(out + 1, bitmap_.Row(y), sampleBytes_);
            } else {
                rgb_.CopyRow(y, out + 1);
            }
        }
    }

  private:
    const Bitmap& bitmap_;
    const RowsAs24 rgb_;
    const std::size_t sampleBytes_;
};

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// What one band leaves for the writer.
struct BandOutput {
    std::vector<std::uint8_t> raw;         // the band's rows
    std::vector<std::uint8_t> compressed;  // raw deflate data, ending on a byte boundary
    std::uint32_t adler = 1;               // Adler-32 of the band's rows
    // Kept for the next band.
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor;
    std::unique_ptr<PixelDeflater> pixels;
    std::vector<std::uint8_t> other;  // the probe's stream
};

// libdeflate's stream for the band's rows, left open unless it is the last band.
void LibdeflateBand(bool last, BandOutput& out, std::vector<std::uint8_t>& compressed) {
    const std::size_t length = out.raw.size();
    if (!out.compressor) {
        out.compressor.reset(libdeflate_alloc_compressor(kDeflateLevel));
        if (!out.compressor) throw std::bad_alloc();
    }
    compressed.resize(libdeflate_deflate_compress_bound(out.compressor.get(), length));
    const std::size_t size = libdeflate_deflate_compress(
        out.compressor.get(), out.raw.data(), length, compressed.data(), compressed.size());
    if (size == 0) throw std::runtime_error("deflate failed");
    compressed.resize(size);
    // The walk also checks that the stream stands for exactly the band's rows.
    if (!last && !KeepDeflateOpen(compressed, length)) {
        throw std::runtime_error("deflate gave damaged data");
    }
}

// Deflates rows [y0, y1) on their own; unless it is the last band, the stream is left open for
// the next band's.
void DeflateBand(const FilteredRows& rows, int y0, int y1, bool last, BandOutput& out) {
    const std::size_t length = static_cast<std::size_t>(y1 - y0) * rows.RowBytes();
    out.raw.resize(length);
    rows.Put(y0, y1, out.raw.data());
    out.adler = libdeflate_adler32(1, out.raw.data(), length);
    if (rows.Palette()) {
        LibdeflateBand(last, out, out.compressed);
        return;
    }
    if (!out.pixels) out.pixels = std::make_unique<PixelDeflater>();
    // PixelDeflater wins on grainy photos (86% of their rows: 1.2% smaller than libdeflate)
    // and on screenshots (under 15%: 2% smaller). Between a quarter and a half lie scanned
    // pages and photos smoothed by a phone, where libdeflate's deeper search is 2% to 8%
    // smaller. 32 KiB from the middle of the band, deflated on their own, tell which it is.
    const std::size_t probe = std::min<std::size_t>(length, 32 * 1024);
    const std::size_t rowBytes = rows.RowBytes();
    const std::size_t from = std::min(length / 2 / rowBytes * rowBytes, length - probe);
    out.other.clear();
    out.pixels->Deflate(std::span(out.raw.data() + from, probe), 3, rowBytes, true, out.other);
    if (out.other.size() > probe / 4 && out.other.size() < probe / 2) {
        LibdeflateBand(last, out, out.compressed);
        return;
    }
    out.compressed.clear();
    out.pixels->Deflate(out.raw, 3, rowBytes, last, out.compressed);
}

bool EncodeBanded(const Bitmap& bitmap, std::FILE* file, const std::vector<png_color>& plte,
                  const PngWriteOptions& options, int rowsPerBand,
                  std::span<const std::uint8_t> iccp, std::span<const std::uint8_t> exif) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (std::fwrite(kSignature, 1, 8, file) != 8) return false;
    const bool palette = bitmap.HasPalette();
    std::array<std::uint8_t, 13> ihdr{};
    StoreBe32(ihdr.data(), static_cast<std::uint32_t>(bitmap.Width()));
    StoreBe32(ihdr.data() + 4, static_cast<std::uint32_t>(bitmap.Height()));
    ihdr[8] = static_cast<std::uint8_t>(palette ? bitmap.BitCount() : 8);
    ihdr[9] = palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB;
    if (!PutChunk(file, "IHDR", ihdr.data(), ihdr.size())) return false;
    if (!iccp.empty() && !PutChunk(file, "iCCP", iccp.data(), iccp.size())) return false;
    if (palette) {
        std::vector<std::uint8_t> bytes;
        bytes.reserve(plte.size() * 3);
        for (const png_color& c : plte) bytes.insert(bytes.end(), {c.red, c.green, c.blue});
        if (!PutChunk(file, "PLTE", bytes.data(), bytes.size())) return false;
    }
    if (!exif.empty() && !PutChunk(file, "eXIf", exif.data(), exif.size())) return false;

    const FilteredRows rows(bitmap);
    const int height = bitmap.Height();
    const std::size_t bands = (static_cast<std::size_t>(height) + rowsPerBand - 1) / rowsPerBand;
    std::vector<BandOutput> slots(SlotCount(options.threads));
    uLong adler = adler32(0, nullptr, 0);
    const auto produce = [&](std::size_t band, std::size_t slot) {
        if (options.beforeBand) options.beforeBand(band);
        const int y0 = static_cast<int>(band) * rowsPerBand;
        const int y1 = std::min(height, y0 + rowsPerBand);
        DeflateBand(rows, y0, y1, band + 1 == bands, slots[slot]);
        return true;
    };
    const auto consume = [&](std::size_t band, std::size_t slot) {
        BandOutput& out = slots[slot];
        adler = adler32_combine(adler, out.adler, static_cast<z_off_t>(out.raw.size()));
        std::vector<std::uint8_t>& data = out.compressed;
        if (band == 0) {
            // zlib header: deflate with a 32 KiB window, no dictionary, and the level marked
            // "fast" as zlib marks levels 2 to 5 (a hint only; decoders ignore it).
            data.insert(data.begin(), {0x78, 0x5E});
        }
        if (band + 1 == bands) {
            std::uint8_t sum[4];
            StoreBe32(sum, static_cast<std::uint32_t>(adler));
            data.insert(data.end(), sum, sum + 4);
        }
        return PutData(file, data.data(), data.size());
    };
    BandRun run;
    run.count = bands;
    run.threads = options.threads;
    run.budget = options.budget;
    if (!RunBandsInOrder(run, produce, consume)) return false;
    return PutChunk(file, "IEND", nullptr, 0) && std::fflush(file) == 0;
}

// The reason for a decode that stopped. libpng's own texts are kept after a short prefix;
// those that mean the data ended early all read "truncated image data".
std::string StopReason(const DecodeStop& stop) {
    if (stop.imageSize) return ImageSizeReason(stop.width, stop.height);
    if (stop.outOfMemory) return "out of memory";
    const std::string_view text = stop.message;
    if (text.empty()) return "damaged PNG data";
    if (text == kUnexpectedEnd || text == "Not enough image data" || text == "Read Error") {
        return "truncated image data";
    }
    if (text == "Insufficient memory" || text.find("out of memory") != std::string_view::npos) {
        return "out of memory";
    }
    std::string out = "damaged PNG data: ";
    out.append(text);
    // "Bad adaptive filter value" reads in lower case; chunk names ("IDAT: CRC error") keep
    // theirs.
    const std::size_t first = out.size() - text.size();
    if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
        std::islower(static_cast<unsigned char>(text[1]))) {
        out[first] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return out;
}

}  // namespace

bool DecodePng(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason) {
    if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) {
        return Refuse(reason, "not a PNG file");
    }
    DecodeStop stop{};
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &stop, ErrorJump, SilentWarning);
    if (!png) return Refuse(reason, "out of memory");
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return Refuse(reason, "out of memory");
    }
    MemoryReader reader{data.data(), EndBeforeOverlongChunk(data), 0};
    png_set_read_fn(png, &reader, ReadFromMemory);
    // Text and ICC chunks cannot make us allocate more than this (bytes per chunk).
    png_set_chunk_malloc_max(png, 8u << 20);
    // Sizes are checked against our own pixel limit, which then gives the reason; libpng's
    // default limit of a million pixels per side would refuse first with a text of its own.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    // Some encoders declare a smaller window in the zlib header than their data uses; with
    // the full 32 KiB window such files read as every other decoder reads them. Valid data
    // decodes the same either way.
    png_set_option(png, PNG_MAXIMUM_INFLATE_WINDOW, PNG_OPTION_ON);
    std::vector<png_bytep> rows;
    std::vector<std::uint8_t> scratch;
    const bool ok = DecodeInto(png, info, out, rows, scratch, stop);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) Refuse(reason, StopReason(stop));
    return ok;
}

bool EncodePng(const Bitmap& bitmap, std::FILE* file, const PngWriteOptions& options) {
    if (bitmap.Empty()) return false;
    std::vector<png_color> plte = PlteFor(bitmap);
    // More entries than the depth can index is refused, as libpng refuses it.
    if (bitmap.HasPalette() && plte.size() > (std::size_t{1} << bitmap.BitCount())) return false;
    const std::size_t rowBytes =
        (bitmap.HasPalette()
             ? (static_cast<std::size_t>(bitmap.Width()) * bitmap.BitCount() + 7) / 8
             : static_cast<std::size_t>(bitmap.Width()) * 3) +
        1;
    std::vector<std::uint8_t> iccp;
    std::span<const std::uint8_t> exif;
    if (options.metadata) {
        if (!options.metadata->icc.empty()) iccp = PngIccpData(options.metadata->icc);
        exif = options.metadata->exif;
    }
    // Only rows without a filter are independent of the row above; other filters go through
    // libpng, in one stream at zlib's default level.
    if ((options.filterSet & 0x1F) == kPngFilterNoneOnly) {
        const std::size_t rowsPerBand = std::clamp<std::size_t>(
            options.bandBytes / rowBytes, 1, static_cast<std::size_t>(bitmap.Height()));
        return EncodeBanded(bitmap, file, plte, options, static_cast<int>(rowsPerBand), iccp, exif);
    }
    RowsAs24 rows(bitmap, ChannelOrder::Rgb);
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorJump, SilentWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    const bool ok = EncodeFrom(png, info, bitmap, file, options.filterSet, plte, rows, iccp, exif);
    png_destroy_write_struct(&png, &info);
    return ok;
}

bool EncodePng(const Bitmap& bitmap, std::FILE* file, std::uint8_t filterSet) {
    PngWriteOptions options;
    options.filterSet = filterSet;
    return EncodePng(bitmap, file, options);
}

}  // namespace ozm
