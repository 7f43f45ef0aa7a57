// The desktop program's way of converting, without a window: one file at a time through the
// pipeline, with PrepareAhead's two lanes (the window's and the quick conversion's run: two
// files in flight, each converted whole on its own thread; "one at a time") and without them
// (every stage on the run's thread; "no prepare-ahead"), against the same files on one core
// (no helper threads at all). Usage: bench_one_at_a_time [FORMAT OUT_FOLDER ROUNDS FILE...]
// FORMAT is jpg, bmp or png. Prints wall and CPU seconds, best of ROUNDS, and the ratios.
// Without arguments: 40 photo-like JPEGs of 1920 x 1080 made here, to each of the three
// formats, 5 rounds, in a temporary folder.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <optional>
#include <vector>

#include "core/parallel/ThreadBudget.h"

#include "app/convert/Pipeline.h"
#include "app/convert/PrepareAhead.h"
#include "core/formats/raster/JpegCodec.h"

namespace {

class BenchHost : public ozm::PipelineHost {
  public:
    BenchHost(ozm::ConversionOptions options, int threads)
        : options_(std::move(options)), threads_(threads) {}
    ozm::ConversionOptions Options() override { return options_; }
    int TransformThreads() const override { return threads_; }

  private:
    ozm::ConversionOptions options_;
    int threads_;
};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    double wall = 1e9, cpu = 1e9;
};

// Smooth fields with grain, as a camera gives them, at quality 90.
std::vector<std::string> MakePhotos(const std::filesystem::path& folder, int count) {
    std::filesystem::create_directories(folder);
    std::vector<std::string> files;
    std::uint32_t seed = 12345;
    for (int i = 0; i < count; ++i) {
        ozm::Bitmap photo;
        photo.Create(1920, 1080, 24, false);
        for (int y = 0; y < photo.Height(); ++y) {
            std::uint8_t* row = photo.Row(y);
            for (int x = 0; x < photo.Width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int grain = static_cast<int>(seed >> 28) - 8;
                row[3 * x] = static_cast<std::uint8_t>(std::clamp((x + i * 37) / 8 + grain, 0, 255));
                row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(y / 5 + grain, 0, 255));
                row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp((x + y) / 12 + grain, 0, 255));
            }
        }
        files.push_back((folder / ("p" + std::to_string(1000 + i) + ".jpg")).string());
        std::FILE* f = std::fopen(files.back().c_str(), "wb");
        if (!f || !ozm::EncodeJpeg(photo, f, 90)) std::exit(1);
        std::fclose(f);
    }
    return files;
}

int Measure(const std::string& format, const std::filesystem::path& out, int rounds,
            const std::vector<std::string>& files);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        const std::filesystem::path work =
            std::filesystem::temp_directory_path() / ("ozm-one-at-a-time-" + std::to_string(getpid()));
        const std::vector<std::string> files = MakePhotos(work / "in", 40);
        int status = 0;
        for (const char* format : {"jpg", "bmp", "png"}) status |= Measure(format, work / "out", 5, files);
        std::filesystem::remove_all(work);
        return status;
    }
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_one_at_a_time [jpg|bmp|png OUT_FOLDER ROUNDS FILE...]\n");
        return 2;
    }
    return Measure(argv[1], argv[2], std::atoi(argv[3]),
                   std::vector<std::string>(argv + 4, argv + argc));
}

namespace {

int Measure(const std::string& format, const std::filesystem::path& out, int rounds,
            const std::vector<std::string>& files) {
    ozm::ConversionOptions options;
    options.formats.Tick(format == "png"   ? ozm::FormatCode::Png
                         : format == "bmp" ? ozm::FormatCode::Bmp
                                           : ozm::FormatCode::Jpg);
    const char* names[] = {"one core", "one at a time, no prepare-ahead", "one at a time"};
    Figures best[3];
    // OZM_BENCH_MODE=0, 1 or 2 runs that line alone (to profile it); the others print 0.
    const char* only = std::getenv("OZM_BENCH_MODE");
    for (int round = 0; round < rounds; ++round) {
        for (int mode = 0; mode < 3; ++mode) {
            if (only && std::atoi(only) != mode) continue;
            std::filesystem::remove_all(out);
            std::filesystem::create_directories(out);
            const std::string target = out.string() + "/";
            // One core: one transform thread and no helper from the process's budget.
            BenchHost host(options, mode == 0 ? 1 : ozm::MachineCores());
            std::optional<ozm::BudgetShare> hold;
            if (mode == 0) hold.emplace(ozm::ThreadBudget::Process(), ozm::MachineCores());
            std::atomic<bool> stop{false};
            ozm::PrepareAhead ahead(host, stop, mode == 2);
            ozm::Bitmap bitmap;
            const double cpu0 = CpuSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            int failed = 0;
            for (std::size_t i = 0; i < files.size(); ++i) {
                ozm::OutputNamer namer;
                const auto outcome = ozm::ConvertOneFile(
                    files[i], target, bitmap, host, namer, ahead,
                    [&]() -> std::optional<std::string> {
                        if (i + 1 < files.size()) return files[i + 1];
                        return std::nullopt;
                    });
                failed += outcome.Converted() ? 0 : 1;
            }
            const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const double cpu = CpuSeconds() - cpu0;
            if (failed) std::fprintf(stderr, "%d files failed\n", failed);
            if (wall < best[mode].wall) best[mode].wall = wall;
            if (cpu < best[mode].cpu) best[mode].cpu = cpu;
        }
    }
    std::printf("%zu files to %s, best of %d rounds\n", files.size(), format.c_str(), rounds);
    for (int mode = 0; mode < 3; ++mode) {
        std::printf("  %-34s %6.3f s wall (%.2fx one core)  %6.3f s cpu\n", names[mode],
                    best[mode].wall, best[0].wall / best[mode].wall, best[mode].cpu);
    }
    std::filesystem::remove_all(out);
    return 0;
}

}  // namespace
