// Runs a fuzz target over files and folders given on the command line, without libFuzzer.
// Outside the sanitizers each input must also keep to the readers' bounds: the process never
// past 1 GiB of memory, no input past 10 s of processor time.

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

constexpr long kMaxResidentKiB = 1L << 20;
constexpr double kMaxSeconds = 10;

double ProcessorSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

long PeakResidentKiB() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return use.ru_maxrss;
}

bool RunOne(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    [[maybe_unused]] const double start = ProcessorSeconds();
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
#ifndef OZM_SANITIZED
    const double seconds = ProcessorSeconds() - start;
    const long peak = PeakResidentKiB();
    if (seconds > kMaxSeconds || peak > kMaxResidentKiB) {
        std::printf("%s: %.1f s of processor time, peak %ld MiB resident\n", path.c_str(),
                    seconds, peak >> 10);
        return false;
    }
#endif
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path p = argv[i];
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p)) {
                if (e.is_regular_file()) {
                    ok = RunOne(e.path()) && ok;
                    ++count;
                }
            }
        } else {
            ok = RunOne(p) && ok;
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return ok ? 0 : 1;
}
