// The main window stays live during a long run: photos of 1920x1080 converted to JPG and PNG
// from the window (offscreen), while a 10 ms probe timer on the window's thread records how
// late each of its ticks comes. Then the same files through `ozmconv --jobs 1`, for the
// throughput comparison. Usage: bench_window [PHOTOS] [OZMCONV]
// Targets: no tick more than 100 ms late, 99% within 30 ms; time within 10% of ozmconv's.

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ui/MainForm.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int photos = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const fs::path self = fs::canonical("/proc/self/exe").parent_path();
    const std::string ozmconv = argc > 2 ? argv[2] : (self / "ozmconv").string();
    QApplication app(argc, argv);

    char pattern[] = "/tmp/ozm-bench-window-XXXXXX";
    const fs::path work = mkdtemp(pattern);
    const fs::path program = work / "program";
    fs::create_directories(program / "source");
    setenv("HOME", work.c_str(), 1);
    {
        QImage image(1920, 1080, QImage::Format_RGB888);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixelColor(x, y,
                                    QColor((x + y / 3) & 255, (x * y / 97) & 255, (y * 5) & 255));
        const QString first = QString::fromStdString((program / "source" / "p1000.jpg").string());
        image.save(first, "jpeg", 88);
        for (int i = 1; i < photos; ++i)
            fs::copy_file(first.toStdString(),
                          program / "source" / ("p" + std::to_string(1000 + i) + ".jpg"));
    }

    double windowSeconds = 0;
    std::vector<double> lateness;
    {
        ozm::TMainForm form(program.string() + "/");
        form.show();
        QTest::qWaitForWindowExposed(&form);
        form.activateWindow();
        QTest::qWaitForWindowActive(&form);
        auto* png = form.findChild<QCheckBox*>("CbPNG");
        if (!png->isChecked()) QTest::mouseClick(png, Qt::LeftButton);
        auto* target = form.findChild<QListWidget*>("LbTarget");
        auto* source = form.findChild<QListWidget*>("LbDocList");
        target->setFocus();
        QTest::keyClick(target, Qt::Key_F5);
        source->setFocus();
        QTest::keyClick(source, Qt::Key_F5);
        QTest::keyClick(source, Qt::Key_A, Qt::ControlModifier);

        QElapsedTimer probeClock;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            lateness.push_back(std::max<double>(0, probeClock.nsecsElapsed() / 1e6 - 10));
            probeClock.restart();
        });
        QElapsedTimer wall;
        wall.start();
        QTest::mouseClick(form.findChild<QToolButton*>("BtnImgCovert"), Qt::LeftButton);
        probeClock.start();
        probe.start();
        QTest::qWaitFor([&] { return form.Run().State() == ozm::RunState::Idle; }, 3600 * 1000);
        probe.stop();
        windowSeconds = wall.nsecsElapsed() / 1e9;
        form.close();
    }

    const fs::path cliOut = work / "cli";
    fs::create_directories(cliOut);
    std::string command = "'" + ozmconv + "' --jobs 1 --to jpg,png --out '" + cliOut.string() +
                          "' '" + (program / "source").string() + "'/*.jpg > /dev/null";
    QElapsedTimer cliClock;
    cliClock.start();
    const int status = std::system(command.c_str());
    const double cliSeconds = cliClock.nsecsElapsed() / 1e9;

    std::sort(lateness.begin(), lateness.end());
    const double worst = lateness.empty() ? 0 : lateness.back();
    const double p99 = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
    const double within30 =
        lateness.empty()
            ? 1
            : double(std::upper_bound(lateness.begin(), lateness.end(), 30.0) - lateness.begin()) /
                  lateness.size();
    std::printf("bench_window: %d photos 1920x1080 -> JPG+PNG\n", photos);
    std::printf(
        "  window run   %.2f s (%.1f photos/s), probe ticks %zu: worst %.1f ms late, "
        "p99 %.1f ms, %.1f%% within 30 ms\n",
        windowSeconds, photos / windowSeconds, lateness.size(), worst, p99, within30 * 100);
    std::printf("  ozmconv -j1  %.2f s (status %d); window / ozmconv = %.2f\n", cliSeconds, status,
                windowSeconds / cliSeconds);
    fs::remove_all(work);
    return 0;
}
