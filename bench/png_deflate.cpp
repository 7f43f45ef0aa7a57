// The deflate libraries on PNG image data: for each picture given, its rows as a PNG with
// filter None carries them (a 0 byte, then palette indexes or red, green, blue), compressed by
// zlib, libdeflate and ISA-L's igzip at several levels as a single stream; the nearest
// candidates also in the writer's 1 MiB bands (bands that continue the stream, or
// independent bands joined as the writer joins them); and the PNG writer itself. Each result
// is checked: inflated by zlib (or the file decoded) and compared with the rows. Every method
// sums with libdeflate's Adler-32, so that the figures compare the deflate alone. Prints
// bytes and CPU time (user + system, the least of --repeat runs, one thread) per picture and
// per kind of picture (the name of the picture's folder).
//
//   png_deflate [--repeat N] [--methods a,b,...] FILE...

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/bitmap/RowsAs24.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/formats/io/DeflateJoin.h"
#include "core/formats/io/PixelDeflate.h"
#include "core/formats/raster/PngCodec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBandBytes = std::size_t{1} << 20;
constexpr std::size_t kWindow = 32768;

Bytes FilteredRows(const ozm::Bitmap& bmp) {
    const bool palette = bmp.HasPalette();
    const std::size_t samples =
        palette ? (static_cast<std::size_t>(bmp.Width()) * bmp.BitCount() + 7) / 8
                : static_cast<std::size_t>(bmp.Width()) * 3;
    Bytes raw((samples + 1) * static_cast<std::size_t>(bmp.Height()));
    const ozm::RowsAs24 rgb(bmp, ozm::ChannelOrder::Rgb);
    std::uint8_t* out = raw.data();
    for (int y = 0; y < bmp.Height(); ++y, out += samples + 1) {
        out[0] = 0;
        if (palette) {
            std::memcpy(out + 1, bmp.Row(y), samples);
        } else {
            rgb.CopyRow(y, out + 1);
        }
    }
    return raw;
}

// Band boundaries on whole rows, as the writer cuts them.
std::vector<std::size_t> BandStarts(std::size_t size, std::size_t rowBytes) {
    const std::size_t rowsPerBand = std::max<std::size_t>(1, kBandBytes / rowBytes);
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < size; at += rowsPerBand * rowBytes) starts.push_back(at);
    starts.push_back(size);
    return starts;
}

void PutBe32(Bytes& out, std::uint32_t v) {
    out.insert(out.end(), {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                           static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
}

// ---- zlib ----

Bytes ZlibBands(const Bytes& raw, std::size_t rowBytes, int level, bool banded,
                int strategy = Z_DEFAULT_STRATEGY) {
    Bytes out{0x78, 0x9C};
    const auto starts =
        banded ? BandStarts(raw.size(), rowBytes) : std::vector<std::size_t>{0, raw.size()};
    for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
        z_stream z{};
        if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) throw std::bad_alloc();
        const std::size_t from = starts[b], length = starts[b + 1] - from;
        if (from > 0) {
            const std::size_t use = std::min(from, kWindow);
            deflateSetDictionary(&z, raw.data() + from - use, static_cast<uInt>(use));
        }
        const bool last = b + 2 == starts.size();
        const std::size_t at = out.size();
        out.resize(at + deflateBound(&z, length) + 64);
        z.next_in = const_cast<Bytef*>(raw.data() + from);
        z.avail_in = static_cast<uInt>(length);
        z.next_out = out.data() + at;
        z.avail_out = static_cast<uInt>(out.size() - at);
        const int r = deflate(&z, last ? Z_FINISH : Z_FULL_FLUSH);
        if (r != (last ? Z_STREAM_END : Z_OK) || z.avail_in != 0) throw std::runtime_error("zlib");
        out.resize(out.size() - z.avail_out);
        deflateEnd(&z);
    }
    PutBe32(out, libdeflate_adler32(1, raw.data(), raw.size()));
    return out;
}

// ---- ISA-L igzip ----

std::size_t IsalLevelBuf(int level) {
    switch (level) {
        case 1:
            return ISAL_DEF_LVL1_DEFAULT;
        case 2:
            return ISAL_DEF_LVL2_DEFAULT;
        case 3:
            return ISAL_DEF_LVL3_DEFAULT;
        default:
            return 0;
    }
}

Bytes IsalBands(const Bytes& raw, std::size_t rowBytes, int level, bool banded) {
    Bytes out{0x78, 0x01};
    const auto starts =
        banded ? BandStarts(raw.size(), rowBytes) : std::vector<std::size_t>{0, raw.size()};
    std::vector<std::uint8_t> levelBuf(IsalLevelBuf(level));
    for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
        isal_zstream z;
        isal_deflate_init(&z);
        z.level = static_cast<std::uint32_t>(level);
        z.level_buf = levelBuf.empty() ? nullptr : levelBuf.data();
        z.level_buf_size = static_cast<std::uint32_t>(levelBuf.size());
        z.gzip_flag = IGZIP_DEFLATE;
        const std::size_t from = starts[b], length = starts[b + 1] - from;
        if (from > 0) {
            const std::size_t use = std::min(from, kWindow);
            if (isal_deflate_set_dict(&z, const_cast<std::uint8_t*>(raw.data() + from - use),
                                      static_cast<std::uint32_t>(use)) != COMP_OK)
                throw std::runtime_error("isal dict");
        }
        const bool last = b + 2 == starts.size();
        z.end_of_stream = last ? 1 : 0;
        z.flush = last ? NO_FLUSH : FULL_FLUSH;
        const std::size_t at = out.size();
        out.resize(at + 2 * length + 1024);  // level 0 may grow noisy data by a fifth
        z.next_in = const_cast<std::uint8_t*>(raw.data() + from);
        z.avail_in = static_cast<std::uint32_t>(length);
        z.next_out = out.data() + at;
        z.avail_out = static_cast<std::uint32_t>(out.size() - at);
        // igzip may stop short of the end; called again until the band is done.
        for (int round = 0;; ++round) {
            const int r = isal_deflate(&z);
            if (r != COMP_OK || round > 1000) throw std::runtime_error("isal " + std::to_string(r));
            const bool done = last ? z.internal_state.state == ZSTATE_END
                                   : z.avail_in == 0 && z.internal_state.state == ZSTATE_NEW_HDR;
            if (done) break;
        }
        out.resize(out.size() - z.avail_out);
    }
    PutBe32(out, libdeflate_adler32(1, raw.data(), raw.size()));
    return out;
}

// ---- libdeflate: independent bands, joined as the writer joins them ----

Bytes LibdeflateBands(const Bytes& raw, std::size_t rowBytes, int level, bool banded) {
    std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
        libdeflate_alloc_compressor(level), libdeflate_free_compressor);
    if (!banded) {
        Bytes out(libdeflate_zlib_compress_bound(c.get(), raw.size()));
        out.resize(
            libdeflate_zlib_compress(c.get(), raw.data(), raw.size(), out.data(), out.size()));
        return out;
    }
    Bytes out{0x78, 0x5E};
    out.reserve(raw.size() + raw.size() / 64 + 1024);
    Bytes band;
    const auto starts = BandStarts(raw.size(), rowBytes);
    for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
        const std::size_t from = starts[b], length = starts[b + 1] - from;
        band.resize(libdeflate_deflate_compress_bound(c.get(), length));
        band.resize(libdeflate_deflate_compress(c.get(), raw.data() + from, length, band.data(),
                                                band.size()));
        if (b + 2 < starts.size() && !ozm::KeepDeflateOpen(band, length)) {
            throw std::runtime_error("join");
        }
        out.insert(out.end(), band.begin(), band.end());
    }
    PutBe32(out, libdeflate_adler32(1, raw.data(), raw.size()));
    return out;
}

std::size_t g_pixelBytes = 3;

Bytes PixelBands(const Bytes& raw, std::size_t rowBytes) {
    ozm::PixelDeflater deflater;
    Bytes out{0x78, 0x5E};
    out.reserve(raw.size() + raw.size() / 64 + 1024);
    const auto starts = BandStarts(raw.size(), rowBytes);
    for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
        deflater.Deflate(std::span(raw.data() + starts[b], starts[b + 1] - starts[b]),
                         g_pixelBytes, rowBytes, b + 2 == starts.size(), out);
    }
    PutBe32(out, libdeflate_adler32(1, raw.data(), raw.size()));
    return out;
}

struct Method {
    std::string name;
    std::function<Bytes(const Bytes&, std::size_t)> run;
    bool wholeFile = false;  // gives a PNG file, not a zlib stream
};

// The PNG writer itself on one thread: rows converted, deflated, joined, summed and written.
const ozm::Bitmap* g_bitmap = nullptr;

Bytes WritePng(const Bytes&, std::size_t) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&buffer, &size);
    ozm::PngWriteOptions options;
    const bool ok = f && ozm::EncodePng(*g_bitmap, f, options);
    if (f) std::fclose(f);
    Bytes out(buffer, buffer + (ok ? size : 0));
    std::free(buffer);
    return out;
}

// Every library and level as one stream; in the writer's bands the current choice, the
// former one (zlib 6) and the nearest others; then the writer itself.
std::vector<Method> AllMethods() {
    std::vector<Method> m;
    const auto zlib = [&](int level, bool banded, int strategy, const std::string& name) {
        m.push_back({name + (banded ? " bands" : ""), [=](const Bytes& r, std::size_t rb) {
                         return ZlibBands(r, rb, level, banded, strategy);
                     }});
    };
    const auto libdeflate = [&](int level, bool banded) {
        m.push_back({"libdeflate " + std::to_string(level) + (banded ? " bands" : ""),
                     [=](const Bytes& r, std::size_t rb) {
                         return LibdeflateBands(r, rb, level, banded);
                     }});
    };
    const auto igzip = [&](int level, bool banded) {
        m.push_back(
            {"igzip " + std::to_string(level) + (banded ? " bands" : ""),
             [=](const Bytes& r, std::size_t rb) { return IsalBands(r, rb, level, banded); }});
    };
    for (int level = 1; level <= 6; ++level)
        zlib(level, false, Z_DEFAULT_STRATEGY, "zlib " + std::to_string(level));
    zlib(1, false, Z_HUFFMAN_ONLY, "zlib huffman");
    for (const int level : {1, 2, 3, 4, 5, 6, 9}) libdeflate(level, false);
    for (int level = 0; level <= 3; ++level) igzip(level, false);
    zlib(6, true, Z_DEFAULT_STRATEGY, "zlib 6");
    for (const int level : {4, 5, 6}) libdeflate(level, true);
    igzip(2, true);
    m.push_back({"pixel bands", PixelBands});
    m.push_back({"ozm png writer", WritePng, true});
    return m;
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool DecodesTo(const Bytes& png, const Bytes& raw) {
    ozm::Bitmap back;
    return ozm::DecodePng(png, back) && FilteredRows(back) == raw;
}

bool InflatesTo(const Bytes& z, const Bytes& raw) {
    Bytes back(raw.size() + 1);
    uLongf size = back.size();
    return uncompress(back.data(), &size, z.data(), z.size()) == Z_OK && size == raw.size() &&
           std::equal(raw.begin(), raw.end(), back.begin());
}

struct Total {
    double bytes = 0, seconds = 0, raw = 0;
};

}  // namespace

int main(int argc, char** argv) {
    int repeat = 3;
    std::vector<std::string> wanted;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--methods" && i + 1 < argc) {
            std::string list = argv[++i];
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                wanted.push_back(list.substr(at, comma - at));
                at = comma + 1;
            }
        } else {
            files.emplace_back(a);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: png_deflate [--repeat N] [--methods a,b,...] FILE...\n");
        return 2;
    }
    std::vector<Method> methods = AllMethods();
    if (!wanted.empty()) {
        std::erase_if(methods, [&](const Method& m) {
            return std::find(wanted.begin(), wanted.end(), m.name) == wanted.end();
        });
    }
    std::map<std::string, std::map<std::string, Total>> kinds;  // kind -> method -> total
    std::vector<std::string> kindOrder;
    int failures = 0;
    for (const auto& file : files) {
        ozm::Bitmap bmp;
        std::string why;
        if (!ozm::ReadImageFile(file, bmp, {}, &why)) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), why.c_str());
            return 1;
        }
        const Bytes raw = FilteredRows(bmp);
        g_bitmap = &bmp;
        g_pixelBytes = bmp.HasPalette() ? 1 : 3;
        const std::size_t rowBytes = raw.size() / static_cast<std::size_t>(bmp.Height());
        const std::string kind = file.parent_path().filename().string();
        if (std::find(kindOrder.begin(), kindOrder.end(), kind) == kindOrder.end())
            kindOrder.push_back(kind);
        std::printf("%s: %d x %d, %d bits, %zu bytes of rows\n", file.filename().c_str(),
                    bmp.Width(), bmp.Height(), bmp.HasPalette() ? bmp.BitCount() : 24, raw.size());
        for (const Method& m : methods) {
            double best = 1e9;
            Bytes z;
            for (int r = 0; r < repeat; ++r) {
                const double t0 = CpuSeconds();
                z = m.run(raw, rowBytes);
                best = std::min(best, CpuSeconds() - t0);
            }
            const bool ok = m.wholeFile ? DecodesTo(z, raw) : InflatesTo(z, raw);
            failures += ok ? 0 : 1;
            std::printf(
                "  %-20s %10zu bytes %6.2f%% %8.1f ms %7.1f MB/s%s\n", m.name.c_str(), z.size(),
                100.0 * static_cast<double>(z.size()) / static_cast<double>(raw.size()), best * 1e3,
                static_cast<double>(raw.size()) / best / 1e6, ok ? "" : "  DOES NOT INFLATE");
            Total& t = kinds[kind][m.name];
            t.bytes += static_cast<double>(z.size());
            t.seconds += best;
            t.raw += static_cast<double>(raw.size());
        }
        std::fflush(stdout);
    }
    std::printf(
        "\nTotals per kind: bytes against zlib 6 (single stream), CPU ms, MB of rows per CPU "
        "second\n");
    for (const std::string& kind : kindOrder) {
        auto& byMethod = kinds[kind];
        const Total base = byMethod.count("zlib 6") ? byMethod["zlib 6"] : Total{};
        std::printf("%s (%.1f MB of rows)\n", kind.c_str(), byMethod.begin()->second.raw / 1e6);
        for (const Method& m : methods) {
            const Total& t = byMethod[m.name];
            std::printf("  %-20s %12.0f bytes %+7.2f%% %9.1f ms %7.1f MB/s\n", m.name.c_str(),
                        t.bytes, base.bytes > 0 ? 100.0 * (t.bytes - base.bytes) / base.bytes : 0.0,
                        t.seconds * 1e3, t.raw / t.seconds / 1e6);
        }
    }
    return failures == 0 ? 0 : 1;
}
