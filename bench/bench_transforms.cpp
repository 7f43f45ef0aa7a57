// Throughput of the resize and rotation steps on a 24-bit 6000 x 4000 image, in megapixels of
// target per second (wall time).
//
//   bench_transforms [--benchmark_filter=...]
//
// With --write-ppm FILE it only writes the benchmark's source image as a binary PPM, so that
// bench/transforms_peers.sh can hand other tools the very same pixels.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

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
    state.counters["MP/s"] = benchmark::Counter(
        static_cast<double>(target.Width()) * target.Height() / 1e6 *
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
BENCHMARK(BM_ResizePointSample)
    ->Arg(50)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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

bool WritePpm(const char* path) {
    const Bitmap& source = Source();
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
    std::string row(static_cast<std::size_t>(kWidth) * 3, '\0');
    bool ok = true;
    for (int y = 0; y < kHeight && ok; ++y) {
        const std::uint8_t* in = source.Row(y);
        for (int x = 0; x < kWidth; ++x) {
            row[3 * x] = static_cast<char>(in[3 * x + 2]);
            row[3 * x + 1] = static_cast<char>(in[3 * x + 1]);
            row[3 * x + 2] = static_cast<char>(in[3 * x]);
        }
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-ppm") == 0) return WritePpm(argv[2]) ? 0 : 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
