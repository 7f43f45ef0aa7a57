// The update's download against curl's own on the same route: a package of 100 MiB from the
// loopback web server (tests/tools/update_server.py), fetched by the curl program and by the
// update window (offscreen) in alternating rounds, while a 10 ms probe timer on the window's
// thread records how late each of its ticks comes.
// Usage: bench_update [MIB] [ROUNDS]
// Targets: at least 80% of curl's rate; no probe tick more than 50 ms late.

#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ui/FrmUpdateRoot.h"
#include "support/LoopbackServer.h"

namespace fs = std::filesystem;

namespace {

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The window, with the moments of the first and last progress report kept: the transfer's
// own time, without the wait before it and the check after it.
class TimedWindow : public ozm::TFrmUpdateRoot {
  public:
    using TFrmUpdateRoot::TFrmUpdateRoot;
    void DownloadProgress(std::uint64_t current, std::int64_t total) override {
        const auto now = std::chrono::steady_clock::now();
        if (reports == 0) {
            first = now;
            firstBytes = current;
        }
        last = now;
        lastBytes = current;
        ++reports;
        TFrmUpdateRoot::DownloadProgress(current, total);
    }
    std::chrono::steady_clock::time_point first, last;
    std::uint64_t firstBytes = 0, lastBytes = 0;
    int reports = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int mib = argc > 1 ? std::atoi(argv[1]) : 100;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const fs::path work =
        fs::temp_directory_path() / ("ozm_bench_update_" + std::to_string(getpid()));
    fs::create_directories(work / "program");
    const fs::path tools = fs::path(OZM_SOURCE_DIR) / "tests" / "tools";
    ozm::test::LoopbackServer server((tools / "update_server.py").string(),
                                     (work / "marker").string());
    if (!server.Running()) {
        std::fprintf(stderr, "bench_update: the web server did not start\n");
        return 1;
    }
    const std::string page = server.Page("size-" + std::to_string(mib));
    const ozm::UpdatePaths paths = ozm::MakeUpdatePaths(page, work / "program");

    // The server builds the package and its sum on the first request.
    std::string warm = "curl -s -o /dev/null '" + paths.sumAddress + "'";
    if (std::system(warm.c_str()) != 0) {
        std::fprintf(stderr, "bench_update: curl is not installed\n");
        return 1;
    }

    QWidget mainWindow;
    mainWindow.resize(600, 400);
    mainWindow.show();
    std::vector<double> curlRates, ourRates, lateness;
    double ownWorkInLate = 0;
    for (int round = 0; round < rounds; ++round) {
        // curl's own figure: bytes over its transfer time, into a file on the same disk.
        const std::string curl = "curl -s -w '%{speed_download}' -o '" +
                                 (work / "curl.out").string() + "' '" + paths.remotePackage + "'";
        FILE* pipe = popen(curl.c_str(), "r");
        double speed = 0;
        if (!pipe || std::fscanf(pipe, "%lf", &speed) != 1 || pclose(pipe) != 0) return 1;
        curlRates.push_back(speed / 1e6);
        fs::remove(work / "curl.out");

        auto* window = new TimedWindow(&mainWindow);
        window->SetMessageShower([](const QString&) {
            std::fprintf(stderr, "bench_update: the download failed\n");
            std::exit(1);
        });
        window->Prepare(paths);
        window->ShowUpdate();
        QElapsedTimer sinceTick;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(10);
        double cpuAtTick = ThreadCpuMs();
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const double late = std::max<double>(0, sinceTick.nsecsElapsed() / 1e6 - 10);
            const double cpu = ThreadCpuMs();
            lateness.push_back(late);
            // How much of a late tick's gap this thread worked; the rest it waited for a core.
            if (late > 50) ownWorkInLate = std::max(ownWorkInLate, cpu - cpuAtTick);
            cpuAtTick = cpu;
            sinceTick.restart();
        });
        sinceTick.start();
        probe.start();
        while (window->isVisible())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        probe.stop();
        const double seconds = Seconds(window->last - window->first);
        if (window->reports < 2 || seconds <= 0) return 1;
        ourRates.push_back((window->lastBytes - window->firstBytes) / seconds / 1e6);
        delete window;
        fs::remove(work / "program" / "setupQV.run");
    }
    fs::remove_all(work);

    std::sort(curlRates.begin(), curlRates.end());
    std::sort(ourRates.begin(), ourRates.end());
    std::sort(lateness.begin(), lateness.end());
    const double curlMedian = curlRates[curlRates.size() / 2];
    const double ourMedian = ourRates[ourRates.size() / 2];
    const double worst = lateness.empty() ? 0 : lateness.back();
    const double p99 = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
    std::printf("update download of %d MiB over loopback, %d rounds (medians)\n", mib, rounds);
    std::printf("  curl program:    %8.0f MB/s\n", curlMedian);
    std::printf("  update window:   %8.0f MB/s  (%.0f%% of curl; target >= 80%%)\n", ourMedian,
                100 * ourMedian / curlMedian);
    std::printf(
        "  10 ms probe:     worst %.1f ms late, 99%% within %.1f ms, %zu ticks "
        "(target: worst <= 50 ms)\n",
        worst, p99, lateness.size());
    std::printf(
        "  the window thread's own work in any tick later than 50 ms: %.1f ms (the rest "
        "of such a gap is waiting for a core on a loaded machine)\n",
        ownWorkInLate);
    return 0;
}
