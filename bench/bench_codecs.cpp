// Decode and encode throughput per format, in megapixels per second, on a 1920 x 1080 image
// with photo-like content.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "core/bitmap/Bitmap.h"
#include "core/formats/raster/BmpCodec.h"
#include "core/formats/raster/GifCodec.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/formats/raster/JpegCodec.h"
#include "core/formats/raster/PngCodec.h"

namespace {

using namespace ozm;

constexpr int kWidth = 1920, kHeight = 1080;

// Smooth gradients with mild noise: compresses like a photograph, not like flat colour.
const Bitmap& Photo() {
    static const Bitmap photo = [] {
        Bitmap b;
        b.Create(kWidth, kHeight, 24);
        std::mt19937 rng(5);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = b.Row(y);
            for (int x = 0; x < kWidth; ++x) {
                const int n = static_cast<int>(rng() % 9) - 4;
                row[3 * x] = static_cast<std::uint8_t>(std::clamp(x * 255 / kWidth + n, 0, 255));
                row[3 * x + 1] =
                    static_cast<std::uint8_t>(std::clamp(y * 255 / kHeight + n, 0, 255));
                row[3 * x + 2] = static_cast<std::uint8_t>(
                    std::clamp((x + y) * 255 / (kWidth + kHeight) + n, 0, 255));
            }
        }
        return b;
    }();
    return photo;
}

using Encoder = bool (*)(const Bitmap&, std::FILE*);
bool Jpeg75(const Bitmap& b, std::FILE* f) { return EncodeJpeg(b, f, 75); }
bool PngNone(const Bitmap& b, std::FILE* f) { return EncodePng(b, f, kPngFilterNoneOnly); }
// One thread, as the other encoders here.
bool Gif(const Bitmap& b, std::FILE* f) { return EncodeGif(b, f); }
bool Bmp24(const Bitmap& b, std::FILE* f) { return EncodeBmp(b, f); }

std::vector<std::uint8_t> Encoded(Encoder encode) {
    const auto path = std::filesystem::temp_directory_path() / "ozm_bench_codec";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    encode(Photo(), f);
    std::fclose(f);
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    std::filesystem::remove(path);
    return bytes;
}

void Report(benchmark::State& state) {
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void EncodeBench(benchmark::State& state, Encoder encode) {
    std::FILE* f = std::fopen("/dev/null", "wb");
    for (auto _ : state) {
        std::rewind(f);
        benchmark::DoNotOptimize(encode(Photo(), f));
    }
    std::fclose(f);
    Report(state);
}

void DecodeBench(benchmark::State& state, Encoder encode,
                 bool (*decode)(std::span<const std::uint8_t>, Bitmap&, std::string*)) {
    const auto bytes = Encoded(encode);
    Bitmap out;
    for (auto _ : state) benchmark::DoNotOptimize(decode(bytes, out, nullptr));
    Report(state);
}

}  // namespace

BENCHMARK_CAPTURE(EncodeBench, jpeg_q75, Jpeg75)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeBench, jpeg, Jpeg75, DecodeJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EncodeBench, png_filter_none, PngNone)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeBench, png, PngNone, DecodePng)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EncodeBench, gif_216, Gif)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeBench, gif, Gif, DecodeGif)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EncodeBench, bmp24, Bmp24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeBench, bmp24, Bmp24, DecodeBmp)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
