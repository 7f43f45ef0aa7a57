// Reading and writing a 24-bit 4000 x 3000 TIFF against copying a file of the same size in the
// same folder. Both TIFF directions are a copy with a byte swap, so each should take at most
// 1.5 times as long as the copy. The folder is $OZM_BENCH_DIR, else the temporary folder.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/bitmap/Bitmap.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/formats/tiff/ReadTiff.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

struct Fixture {
    std::filesystem::path folder;
    std::filesystem::path source;
    ozm::Bitmap bitmap;

    Fixture() {
        const char* env = std::getenv("OZM_BENCH_DIR");
        folder =
            (env && *env ? std::filesystem::path(env) : std::filesystem::temp_directory_path()) /
            ("ozm-bench-tiff-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        if (!bitmap.Create(kWidth, kHeight, 24)) throw std::runtime_error("no memory");
        std::uint32_t v = 12345;
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = bitmap.Row(y);
            for (int i = 0; i < kWidth * 3; ++i) {
                v = v * 1103515245u + 12345u;
                row[i] = static_cast<std::uint8_t>(v >> 24);
            }
        }
        source = folder / "source.tif";
        if (!ozm::WriteImageFile(bitmap, source, ozm::FormatCode::Tiff)) {
            throw std::runtime_error("cannot write " + source.string());
        }
    }
    ~Fixture() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

// A plain copy through user space, 1 MiB at a time: what the TIFF reader and writer are
// measured against.
void CopyFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) throw std::runtime_error("cannot open for copying");
    std::vector<char> buffer(std::size_t{1} << 20);
    for (ssize_t n; (n = ::read(in, buffer.data(), buffer.size())) > 0;) {
        if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) {
            throw std::runtime_error("short write");
        }
    }
    ::close(in);
    ::close(out);
}

void RemoveUntimed(benchmark::State& state, const std::filesystem::path& path) {
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
}

void BM_CopyFile(benchmark::State& state) {
    Fixture& f = Shared();
    const auto target = f.folder / "copy.tif";
    for (auto _ : state) {
        RemoveUntimed(state, target);
        CopyFile(f.source, target);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(f.source)));
}

// The same copy as the kernel does it (copy_file_range where available), for reference.
void BM_CopyFileInKernel(benchmark::State& state) {
    Fixture& f = Shared();
    const auto target = f.folder / "kcopy.tif";
    for (auto _ : state) {
        RemoveUntimed(state, target);
        std::filesystem::copy_file(f.source, target);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(f.source)));
}

void BM_ReadTiff(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        ozm::Bitmap bitmap;
        if (!ozm::ReadTiffFile(f.source, bitmap, {})) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(bitmap.Data());
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(f.source)));
}

void BM_WriteTiff(benchmark::State& state) {
    Fixture& f = Shared();
    const auto target = f.folder / "written.tif";
    for (auto _ : state) {
        RemoveUntimed(state, target);
        if (!ozm::WriteImageFile(f.bitmap, target, ozm::FormatCode::Tiff)) {
            state.SkipWithError("write failed");
        }
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(f.source)));
}

BENCHMARK(BM_CopyFile)->Unit(benchmark::kMillisecond)->Repetitions(9);
BENCHMARK(BM_ReadTiff)->Unit(benchmark::kMillisecond)->Repetitions(9);
BENCHMARK(BM_WriteTiff)->Unit(benchmark::kMillisecond)->Repetitions(9);
BENCHMARK(BM_CopyFileInKernel)->Unit(benchmark::kMillisecond)->Repetitions(9);

}  // namespace

// The repetitions of the four benchmarks run in random interleaved order, so that the copy and
// the TIFF runs share the same disk, cache and machine load; only the aggregates are shown.
int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {interleave, aggregates});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
