// The desktop program's way of converting, without a window: one file at a time through the
// pipeline, with the next file prepared ahead (the window's and the quick conversion's run)
// and without (every stage on one thread), against the same files on one core (no helper
// threads at all). Usage: bench_one_at_a_time FORMAT OUT_FOLDER ROUNDS FILE...
// FORMAT is jpg, bmp or png. Prints wall and CPU seconds, best of ROUNDS, and the ratios.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <optional>
#include <vector>

#include "core/parallel/ThreadBudget.h"

#include "app/convert/Pipeline.h"
#include "app/convert/PrepareAhead.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_one_at_a_time jpg|bmp|png OUT_FOLDER ROUNDS FILE...\n");
        return 2;
    }
    const std::string format = argv[1];
    const std::filesystem::path out = argv[2];
    const int rounds = std::atoi(argv[3]);
    const std::vector<std::string> files(argv + 4, argv + argc);
    ozm::ConversionOptions options;
    options.formats.Tick(format == "png"   ? ozm::FormatCode::Png
                         : format == "bmp" ? ozm::FormatCode::Bmp
                                           : ozm::FormatCode::Jpg);
    const char* names[] = {"one core", "one at a time, no prepare-ahead", "one at a time"};
    Figures best[3];
    for (int round = 0; round < rounds; ++round) {
        for (int mode = 0; mode < 3; ++mode) {
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
}
