// The main window at scale and during a long run, offscreen.
// First a source list of ENTRIES files (20,000 by default; 0 leaves it out): how long the
// window takes to answer F5, Ctrl+A, a click and the run's reading of the selection, and how
// long an 8200 x 8200 BMP takes to show in the preview (its decode is not the window thread's).
// Then photos of 1920x1080 converted to the formats TO (jpg,png by default) from the window,
// while a 10 ms probe timer on the window's thread records how late each of its ticks comes,
// and the same files through `ozmconv` as it runs by default (a file per core) and on one
// core (`--jobs 1 --threads 1`), alternated over several rounds so that all three see the
// same load on a shared machine; CPU seconds are shown beside wall time, as they depend less
// on that load, and the load average at the start and the end. PHOTOS 0 runs the list case
// alone.
// ROTATE (degrees, 0 by default) turns every photo in all three.
// Usage: bench_window [PHOTOS] [OZMCONV] [ROUNDS] [ENTRIES] [TO] [ROTATE]
// Targets: every list operation answered within 100 ms; no tick more than 100 ms late, 99%
// within 30 ms; the window's time within 1.15 times ozmconv's default; the window at least
// 1.7 times as fast as one core.

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "app/session/AppSession.h"
#include "app/ui/MainForm.h"
#include "core/formats/ImgConvertUnit.h"

namespace fs = std::filesystem;

// User plus system CPU seconds of this process (RUSAGE_SELF) or of its waited-for children.
double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A 10 ms timer on this thread that records how late each tick comes and, for ticks more
// than 30 ms late, how much of the gap this thread spent working (the rest it waited for a
// core).
class Probe {
  public:
    Probe(std::vector<double>& lateness, std::vector<std::pair<double, double>>* busyInLate) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this, &lateness, busyInLate] {
            const double late = std::max<double>(0, clock_.nsecsElapsed() / 1e6 - 10);
            const double cpu = ThreadCpuMs();
            lateness.push_back(late);
            if (busyInLate && late > 30) busyInLate->push_back({late, cpu - cpu_});
            cpu_ = cpu;
            clock_.restart();
        });
        cpu_ = ThreadCpuMs();
        clock_.start();
        timer_.start();
    }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    double cpu_ = 0;
};

struct Figures {
    double worst = 0, p99 = 0, within30 = 1;
};

Figures Summarise(std::vector<double>& lateness) {
    Figures f;
    if (lateness.empty()) return f;
    std::sort(lateness.begin(), lateness.end());
    f.worst = lateness.back();
    f.p99 = lateness[lateness.size() * 99 / 100];
    f.within30 =
        double(std::upper_bound(lateness.begin(), lateness.end(), 30.0) - lateness.begin()) /
        lateness.size();
    return f;
}

// Milliseconds `action` keeps the window's thread, the events it posts included.
template <typename Action>
double AnswerMs(Action&& action) {
    QElapsedTimer clock;
    clock.start();
    action();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    return clock.nsecsElapsed() / 1e6;
}

// An uncompressed 24-bit BMP of width x height with a gradient, written row by row.
void WriteBmp(const fs::path& path, int width, int height) {
    const std::uint32_t row = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    const std::uint32_t pixels = row * static_cast<std::uint32_t>(height);
    auto le = [](std::string& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
    };
    std::string header = "BM";
    le(header, 54 + pixels, 4);
    le(header, 0, 4);
    le(header, 54, 4);
    for (const std::uint32_t v :
         {40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
        le(header, v, 4);
    le(header, 1, 2);
    le(header, 24, 2);
    for (const std::uint32_t v : {0u, pixels, 2835u, 2835u, 0u, 0u}) le(header, v, 4);
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(header.data(), static_cast<qint64>(header.size()));
    QByteArray line(static_cast<qsizetype>(row), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) line[x] = static_cast<char>((x / 3 + y) & 255);
        file.write(line);
    }
}

// A source list of `entries` small JPEGs (hard links of one), an 8200 x 8200 BMP and PNG.
void ListCase(const fs::path& work, int entries) {
    const fs::path program = work / "lists";
    const fs::path source = program / "source";
    fs::create_directories(source);
    {
        QImage image(64, 48, QImage::Format_RGB888);
        image.fill(QColor(40, 120, 200));
        const fs::path first = source / "p100000.jpg";
        image.save(QString::fromStdString(first.string()), "jpeg", 88);
        for (int i = 1; i < entries; ++i)
            fs::create_hard_link(first, source / ("p" + std::to_string(100000 + i) + ".jpg"));
        WriteBmp(source / "zbig.bmp", 8200, 8200);
        ozm::Bitmap big;
        if (big.Create(8200, 8200, 24, false)) {
            for (int y = 0; y < big.Height(); ++y)
                for (int x = 0; x < big.Width() * 3; ++x)
                    big.Row(y)[x] = static_cast<std::uint8_t>((x / 3 + y) & 255);
            ozm::WriteSettings settings;
            settings.threads = 2;
            if (!ozm::WriteImageFile(big, source / "zbig.png", 2, settings))
                std::fprintf(stderr, "bench_window: the PNG was not written\n");
        }
    }
    ozm::AppSession session(program.string() + "/");
    ozm::TMainForm form(session);
    form.resize(1200, 800);
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    form.activateWindow();
    (void)QTest::qWaitForWindowActive(&form);
    auto* list = form.findChild<QListWidget*>("LbDocList");
    auto* label = form.findChild<QLabel*>("LblWHSource");
    QTest::mouseClick(form.findChild<QCheckBox*>("CbPreviewSourceImg"), Qt::LeftButton);
    list->setFocus();
    const auto clickRow = [&](int row) {
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    };

    auto* target = form.findChild<QListWidget*>("LbTarget");
    target->setFocus();
    QTest::keyClick(target, Qt::Key_F5);
    list->setFocus();
    const double refresh = AnswerMs([&] { QTest::keyClick(list, Qt::Key_F5); });
    const int count = list->count();
    const double selectAll =
        AnswerMs([&] { QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier); });
    const int selected = static_cast<int>(form.Model().source.list.SelectedIndexes().size());
    std::fprintf(stderr, "F5 %.1f ms, Ctrl+A %.1f ms\n", refresh, selectAll);
    const double refreshSelected = AnswerMs([&] { QTest::keyClick(list, Qt::Key_F5); });
    const double click = AnswerMs([&] { clickRow(count / 2); });
    // The run over every entry with only the last JPEG selected: its reading of the selection,
    // one small file and the closing steps.
    clickRow(count - 3);
    QElapsedTimer runClock;
    runClock.start();
    QTest::mouseClick(form.findChild<QToolButton*>("BtnImgCovert"), Qt::LeftButton);
    (void)QTest::qWaitFor([&] { return form.Run().State() == ozm::RunState::Idle; }, 600 * 1000);
    const double run = runClock.nsecsElapsed() / 1e6;
    // The previews of the BMP and the PNG: the click, and the picture with its size in the
    // label.
    const auto previewMs = [&](int row, double& clickMs) {
        clickRow(0);
        (void)QTest::qWaitFor([&] { return label->text() == QStringLiteral(" [宽度:64,高度:48]"); },
                              30 * 1000);
        QElapsedTimer clock;
        clock.start();
        clickMs = AnswerMs([&] { clickRow(row); });
        const QString full = QStringLiteral(" [宽度:8200,高度:8200]");
        const bool shown = QTest::qWaitFor([&] { return label->text() == full; }, 30 * 1000);
        return shown ? clock.nsecsElapsed() / 1e6 : -1;
    };
    double bmpClick = 0, pngClick = 0;
    const double bmpPreview = previewMs(count - 2, bmpClick);
    const double pngPreview = previewMs(count - 1, pngClick);
    form.close();

    std::printf("bench_window: a source list of %d entries (%d selected by Ctrl+A)\n", count,
                selected);
    std::printf(
        "  F5 %.1f ms, Ctrl+A %.1f ms, F5 with all selected %.1f ms, a click %.1f ms "
        "(target 100 each)\n",
        refresh, selectAll, refreshSelected, click);
    std::printf("  a run over the list with one entry selected: %.1f ms, click to idle\n", run);
    std::printf("  an 8200x8200 BMP: the click %.1f ms, the preview shown after %.1f ms\n",
                bmpClick, bmpPreview);
    std::printf("  an 8200x8200 PNG: the click %.1f ms, the preview shown after %.1f ms\n",
                pngClick, pngPreview);
    fs::remove_all(program);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int photos = argc > 1 ? std::max(0, std::atoi(argv[1])) : 200;
    const fs::path self = fs::canonical("/proc/self/exe").parent_path();
    const std::string ozmconv = argc > 2 && *argv[2] ? argv[2] : (self / "ozmconv").string();
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const int entries = argc > 4 ? std::max(0, std::atoi(argv[4])) : 20000;
    const std::string to = argc > 5 && *argv[5] ? argv[5] : "jpg,png";
    const int rotate = argc > 6 ? std::max(0, std::atoi(argv[6])) : 0;
    QApplication app(argc, argv);

    // TMPDIR picks the disk: a run of BMP files writes 6 MB a photo.
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (fs::path(tmp && *tmp ? tmp : "/tmp") / "ozm-bench-window-XXXXXX").string();
    const fs::path work = mkdtemp(pattern.data());
    const fs::path program = work / "program";
    fs::create_directories(program / "source");
    setenv("HOME", work.c_str(), 1);
    if (entries > 0) ListCase(work, std::max(2, entries));
    if (photos == 0) {
        fs::remove_all(work);
        return 0;
    }
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

    struct Run {
        double seconds = 0, cpu = 0;
        int status = 0;
    };
    struct Round {
        Run window, cliDefault, cliOneCore;
    };
    const auto loadAverage = [] {
        QFile file("/proc/loadavg");
        if (!file.open(QIODevice::ReadOnly)) return std::string("?");
        return file.readLine().split(' ').mid(0, 3).join(' ').toStdString();
    };
    const std::string loadBefore = loadAverage();
    std::vector<Round> rounds;
    std::vector<double> lateness, idleLateness;
    std::vector<std::pair<double, double>> busyInLate;  // ms late, ms of this thread's CPU
    double guiCpu = 0;
    const auto runCli = [&](const QStringList& extra) {
        Run result;
        const fs::path cliOut = work / "cli";
        fs::remove_all(cliOut);
        fs::create_directories(cliOut);
        // The last run's files on disk first: its writeback would slow this one's writes.
        ::sync();
        const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
        QElapsedTimer clock;
        clock.start();
        // The same probe on this idle thread meanwhile: the lateness the machine's load
        // alone causes, for comparison with the window's.
        Probe idle(idleLateness, nullptr);
        QProcess cli;
        cli.setStandardOutputFile(QProcess::nullDevice());
        QStringList arguments = extra;
        if (rotate > 0) arguments << "--rotate" << QString::number(rotate);
        arguments << "--to" << QString::fromStdString(to) << "--out"
                  << QString::fromStdString(cliOut.string());
        for (int i = 0; i < photos; ++i)
            arguments << QString::fromStdString(
                (program / "source" / ("p" + std::to_string(1000 + i) + ".jpg")).string());
        cli.start(QString::fromStdString(ozmconv), arguments);
        (void)QTest::qWaitFor([&] { return cli.state() == QProcess::NotRunning; }, 3600 * 1000);
        result.status = cli.exitCode();
        result.seconds = clock.nsecsElapsed() / 1e9;
        result.cpu = CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
        return result;
    };
    for (int r = 0; r < repeats; ++r) {
        Round round;
        // The three runs one after the other: all see the same load on a shared machine.
        round.cliDefault = runCli({});
        round.cliOneCore = runCli({"--jobs", "1", "--threads", "1"});

        fs::remove_all(program / "target");
        ozm::AppSession session(program.string() + "/");
        ozm::TMainForm form(session);
        form.show();
        (void)QTest::qWaitForWindowExposed(&form);
        form.activateWindow();
        (void)QTest::qWaitForWindowActive(&form);
        const QStringList ticked = QString::fromStdString(to).split(',');
        using Box = std::pair<const char*, const char*>;
        for (const auto& [box, format] :
             std::initializer_list<Box>{{"CBBMP", "bmp"}, {"CbJPG", "jpg"}, {"CBJPEG", "jpeg"}, {"CbPNG", "png"},
              {"CBEMF", "emf"}, {"CBWMF", "wmf"}, {"CBGIF", "gif"}, {"CBTIFF", "tif"}}) {
            auto* check = form.findChild<QCheckBox*>(box);
            if (check->isChecked() != ticked.contains(format))
                QTest::mouseClick(check, Qt::LeftButton);
        }
        form.findChild<QLineEdit*>("EdtRoateRate1")->setText(QString::number(rotate));
        auto* target = form.findChild<QListWidget*>("LbTarget");
        auto* source = form.findChild<QListWidget*>("LbDocList");
        target->setFocus();
        QTest::keyClick(target, Qt::Key_F5);
        source->setFocus();
        QTest::keyClick(source, Qt::Key_F5);
        QTest::keyClick(source, Qt::Key_A, Qt::ControlModifier);

        ::sync();
        const double cpuBefore = CpuSeconds(RUSAGE_SELF);
        const double guiCpuBefore = ThreadCpuMs();
        QElapsedTimer wall;
        wall.start();
        QTest::mouseClick(form.findChild<QToolButton*>("BtnImgCovert"), Qt::LeftButton);
        {
            Probe probe(lateness, &busyInLate);
            (void)QTest::qWaitFor([&] { return form.Run().State() == ozm::RunState::Idle; },
                                  3600 * 1000);
        }
        round.window.seconds = wall.nsecsElapsed() / 1e9;
        round.window.cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
        guiCpu += (ThreadCpuMs() - guiCpuBefore) / 1000;
        form.close();
        rounds.push_back(round);
    }

    const Figures window = Summarise(lateness);
    const Figures idle = Summarise(idleLateness);
    std::printf(
        "bench_window: %d photos 1920x1080 -> %s, rotated %d, %d rounds of ozmconv (default, one core) then "
        "the window; load average %s at the start, %s at the end\n",
        photos, to.c_str(), rotate, repeats, loadBefore.c_str(), loadAverage().c_str());
    std::printf("  window thread cpu %.2f s in all rounds (probe included)\n", guiCpu);
    std::sort(busyInLate.begin(), busyInLate.end());
    for (std::size_t i = busyInLate.size() > 5 ? busyInLate.size() - 5 : 0; i < busyInLate.size();
         ++i)
        std::printf("  late tick %.1f ms: window thread busy %.1f ms of it\n", busyInLate[i].first,
                    busyInLate[i].second);
    std::vector<double> toDefault, overOneCore;
    for (const Round& round : rounds) {
        toDefault.push_back(round.window.seconds / round.cliDefault.seconds);
        overOneCore.push_back(round.cliOneCore.seconds / round.window.seconds);
        std::printf(
            "  ozmconv %.2f s (cpu %.2f s, status %d) | one core %.2f s (cpu %.2f s, status %d) "
            "| window %.2f s (cpu %.2f s, %.1f photos/s) | window / ozmconv %.2f, one core / "
            "window %.2f\n",
            round.cliDefault.seconds, round.cliDefault.cpu, round.cliDefault.status,
            round.cliOneCore.seconds, round.cliOneCore.cpu, round.cliOneCore.status,
            round.window.seconds, round.window.cpu, photos / round.window.seconds,
            toDefault.back(), overOneCore.back());
    }
    // The fastest of each: the rounds that the machine's other work disturbed least.
    const auto best = [&](Run Round::*run) {
        double seconds = (rounds.front().*run).seconds;
        for (const Round& round : rounds) seconds = std::min(seconds, (round.*run).seconds);
        return seconds;
    };
    const double bestWindow = best(&Round::window), bestDefault = best(&Round::cliDefault),
                 bestOneCore = best(&Round::cliOneCore);
    std::printf(
        "  fastest: ozmconv %.2f s, one core %.2f s, window %.2f s: window / ozmconv %.2f, one "
        "core / window %.2f\n",
        bestDefault, bestOneCore, bestWindow, bestWindow / bestDefault, bestOneCore / bestWindow);
    std::sort(toDefault.begin(), toDefault.end());
    std::sort(overOneCore.begin(), overOneCore.end());
    std::printf(
        "  median: window / ozmconv wall %.2f (target at most 1.15), one core / window wall %.2f "
        "(target at least 1.7)\n",
        toDefault[toDefault.size() / 2], overOneCore[overOneCore.size() / 2]);
    std::printf(
        "  probe during the window's runs, %zu ticks: worst %.1f ms late (target 100), p99 %.1f "
        "ms, %.1f%% within 30 ms (target 99%%)\n",
        lateness.size(), window.worst, window.p99, window.within30 * 100);
    std::printf(
        "  probe during ozmconv's runs (window thread idle), %zu ticks: worst %.1f ms, p99 %.1f "
        "ms, %.1f%% within 30 ms\n",
        idleLateness.size(), idle.worst, idle.p99, idle.within30 * 100);
    fs::remove_all(work);
    return 0;
}
