#include "core/formats/raster/PngCodec.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "core/bitmap/RowsAs24.h"

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

bool EncodeFrom(png_structp png, png_infop info, const Bitmap& bitmap, std::FILE* file,
                std::uint8_t filterSet, std::vector<png_color>& plte, RowsAs24& rows) {
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
    png_write_info(png, info);
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
    MemoryReader reader{data.data(), data.size(), 0};
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

bool EncodePng(const Bitmap& bitmap, std::FILE* file, std::uint8_t filterSet) {
    if (bitmap.Empty()) return false;
    std::vector<png_color> plte;
    RowsAs24 rows(bitmap, ChannelOrder::Rgb);
    if (bitmap.HasPalette()) {
        const auto& pal = bitmap.Palette();
        std::size_t count = pal.size();
        // Pixels past a short palette read as black; PLTE grows to cover them.
        const std::size_t needed = static_cast<std::size_t>(HighestIndex(bitmap)) + 1;
        if (count < needed) count = needed;
        plte.assign(count, png_color{0, 0, 0});
        for (std::size_t i = 0; i < pal.size() && i < count; ++i) {
            plte[i] = png_color{pal[i].red, pal[i].green, pal[i].blue};
        }
    }
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorJump, SilentWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    const bool ok = EncodeFrom(png, info, bitmap, file, filterSet, plte, rows);
    png_destroy_write_struct(&png, &info);
    return ok;
}

}  // namespace ozm
