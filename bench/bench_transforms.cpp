// Throughput of the resize and rotation steps on a 24-bit 6000 x 4000 image, in megapixels of
// target per second (wall time).
//
//   bench_transforms [--benchmark_filter=...]
//
// Helper modes for bench/transforms_peers.sh, which times whole commands of several tools on
// the very same file:
//   bench_transforms --write-ppm FILE            writes the benchmark's source image (P6)
//   bench_transforms --ppm-rotate IN OUT DEGREES reads a P6 file, rotates it, writes P6
//   bench_transforms --ppm-scale IN OUT PERCENT  reads a P6 file, resizes it, writes P6

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/bitmap/Bitmap.h"
#include "core/transforms/Resize.h"
#include "core/transforms/Rotate.h"

namespace {

using namespace ozm;

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A photograph-like source: smooth gradients with some noise, so that nothing compresses or
// predicts trivially.
const Bitmap& Source() {
    static const Bitmap source = [] {
        Bitmap bmp;
        if (!bmp.Create(kWidth, kHeight, 24)) std::abort();
        std::minstd_rand rng(7);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = bmp.Row(y);
            for (int x = 0; x < kWidth; ++x) {
                const unsigned noise = rng() & 15;
                row[3 * x] = static_cast<std::uint8_t>(x / 24 + noise);
                row[3 * x + 1] = static_cast<std::uint8_t>(y / 16 + noise);
                row[3 * x + 2] = static_cast<std::uint8_t>((x + y) / 40 + noise);
            }
        }
        return bmp;
    }();
    return source;
}

void SetRate(benchmark::State& state, const Bitmap& target) {
    state.counters["MP/s"] =
        benchmark::Counter(static_cast<double>(target.Width()) * target.Height() / 1e6 *
                               static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["target_w"] = target.Width();
    state.counters["target_h"] = target.Height();
}

void BM_ResizePointSample(benchmark::State& state) {
    const Bitmap& source = Source();
    const int percent = static_cast<int>(state.range(0));
    const int w = kWidth * percent / 100, h = kHeight * percent / 100;
    Bitmap target;
    for (auto _ : state) {
        if (!PointSampleTo24(source, target, w, h)) state.SkipWithError("resample failed");
        benchmark::DoNotOptimize(target.Data());
    }
    SetRate(state, target);
}
BENCHMARK(BM_ResizePointSample)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

struct ThreadsHost : TransformHost {
    int threads = 2;
    int TransformThreads() const override { return threads; }
};

// Arguments: degrees, threads.
void BM_Rotate(benchmark::State& state) {
    const Bitmap& source = Source();
    const int degrees = static_cast<int>(state.range(0));
    ThreadsHost host;
    host.threads = static_cast<int>(state.range(1));
    Bitmap target;
    for (auto _ : state) {
        if (!RotateBitmap(source, target, degrees, 0, host)) state.SkipWithError("rotation failed");
        benchmark::DoNotOptimize(target.Data());
    }
    SetRate(state, target);
}
BENCHMARK(BM_Rotate)
    ->Args({90, 2})
    ->Args({30, 2})
    ->Args({90, 1})
    ->Args({30, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Blue, green, red to red, green, blue, `count` pixels.
void SwapRedBlue(const std::uint8_t* __restrict in, std::uint8_t* __restrict out, int count) {
    for (int x = 0; x < count; ++x, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

bool WritePpm(const Bitmap& source, const char* path) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    const int width = source.Width();
    std::fprintf(f, "P6\n%d %d\n255\n", width, source.Height());
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    bool ok = true;
    for (int y = 0; y < source.Height() && ok; ++y) {
        SwapRedBlue(source.Row(y), row.data(), width);
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    return std::fclose(f) == 0 && ok;
}

// Reads a binary PPM with maxval 255 (no comments) into a 24-bit bitmap.
bool ReadPpm(const char* path, Bitmap& bitmap) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    int width = 0, height = 0, maxval = 0;
    bool ok = std::fscanf(f, "P6 %d %d %d", &width, &height, &maxval) == 3 && maxval == 255 &&
              std::fgetc(f) != EOF && bitmap.Create(width, height, 24, false);
    std::vector<std::uint8_t> line(static_cast<std::size_t>(std::max(width, 0)) * 3);
    for (int y = 0; ok && y < height; ++y) {
        std::uint8_t* row = bitmap.Row(y);
        ok = std::fread(line.data(), 3, static_cast<std::size_t>(width), f) ==
             static_cast<std::size_t>(width);
        SwapRedBlue(line.data(), row, width);
    }
    std::fclose(f);
    return ok;
}

int PpmCommand(const std::string& mode, const char* in, const char* out, int amount) {
    Bitmap work;
    if (!ReadPpm(in, work)) return 1;
    if (mode == "--ppm-rotate") {
        TransformSettings options;
        options.rotateDegrees = amount;
        RotateWorkBitmap(work, options);
    } else {
        TransformSettings options;
        options.resizeMode = ResizeMode::ByPercent;
        options.percentage = amount;
        if (!ResizeWorkBitmap(work, options)) return 1;
    }
    return WritePpm(work, out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-ppm") == 0) {
        return WritePpm(Source(), argv[2]) ? 0 : 1;
    }
    if (argc == 5 &&
        (std::strcmp(argv[1], "--ppm-rotate") == 0 || std::strcmp(argv[1], "--ppm-scale") == 0)) {
        return PpmCommand(argv[1], argv[2], argv[3], std::atoi(argv[4]));
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
