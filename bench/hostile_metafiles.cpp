// Small metafiles built to cost as much as possible: a polygon of 100,000 edges, hundreds of
// picture-sized rectangles, a placeable header with 0 units per inch, a 128-byte enhanced
// metafile claiming the largest picture allowed. Each case runs in its own child process,
// so its peak memory (ru_maxrss) is its own; it reports the outcome, wall and processor time
// and peak memory. The reader should answer every input under 1 MB within 10 s of one core
// and 1 GiB, and writing a picture as a metafile holds no more than one extra copy of it.
//
// Usage: bench_hostile_metafiles [--limit=SECONDS] [case-name...]

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/bitmap/Bitmap.h"
#include "core/formats/metafile/MetafileBuilders.h"
#include "core/formats/metafile/ozmEmfUnit.h"

namespace {

using ozm::test::EmfBuilder;
using ozm::test::WmfBuilder;

// One EMR_POLYGON16 of `edges` points zigzagging over the whole picture: every edge crosses
// every scan line.
std::vector<std::uint8_t> ZigzagPolygonEmf(int side, int edges) {
    EmfBuilder emf(side, side);
    std::vector<std::uint8_t> body;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto u16 = [&](std::uint32_t v) {
        body.push_back(static_cast<std::uint8_t>(v));
        body.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    for (int v : {0, 0, side - 1, side - 1}) u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(edges));
    for (int i = 0; i < edges; ++i) {
        u16(static_cast<std::uint32_t>(static_cast<std::int64_t>(i) * (side - 1) / edges));
        u16(i % 2 ? static_cast<std::uint32_t>(side - 1) : 0u);
    }
    emf.Rec(39, {1, 0, 0x00FF0000, 0});  // a solid blue brush, selected
    emf.Rec(37, {1});
    emf.Raw(86, body);
    return emf.Finish();
}

// Rectangles over the whole 16-bit box, drawn with the default pen and brush.
std::vector<std::uint8_t> RectanglesWmf(int side, int count) {
    WmfBuilder wmf(side, side);
    for (int i = 0; i < count; ++i) wmf.Rec(0x041B, {side, side, 0, 0});
    return wmf.Finish();
}

// A placeable metafile of no records whose box is read at 0 units per inch.
std::vector<std::uint8_t> ZeroUnitsWmf() { return WmfBuilder(16384, 16384, 1, 0).Finish(); }

// Header and end record only, with a frame of 16384 x 16384 device pixels: 128 bytes.
std::vector<std::uint8_t> HugeFrameEmf() { return EmfBuilder(16384, 16384).Finish(); }

std::vector<std::uint8_t> Le(std::initializer_list<std::int64_t> words) {
    std::vector<std::uint8_t> body;
    for (std::int64_t v : words) {
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    return body;
}

// Rectangles over the whole picture whose edges fall between pixels (a world transform
// shifts them by half a pixel), which the drawing library fills on a slow path.
std::vector<std::uint8_t> UnalignedRectanglesEmf(int side, int count) {
    EmfBuilder emf(side, side);
    emf.Raw(35, Le({0x3F800000, 0, 0, 0x3F800000, 0x3F000000, 0x3F000000}));  // translate 0.5
    for (int i = 0; i < count; ++i) emf.Rec(43, {0, 0, side - 1, side - 1});
    return emf.Finish();
}

// Bit-block transfers of the brush with the destination (exclusive or), computed pixel by
// pixel over the whole picture.
std::vector<std::uint8_t> PatternInvertEmf(int side, int count) {
    EmfBuilder emf(side, side);
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> body = Le({0, 0, side - 1, side - 1, 0, 0, side, side,
                                             0x005A0049, 0, 0, 0x3F800000, 0, 0, 0x3F800000,
                                             0, 0, 0, 0, 0, 0, 0, 0});
        emf.Raw(76, body);
    }
    return emf.Finish();
}

// One text record of 200,000 letters 150 pixels high, all at the same place (advances of 0).
std::vector<std::uint8_t> PiledTextEmf(int side, int letters) {
    EmfBuilder emf(side, side);
    std::vector<std::uint8_t> font = Le({1, -150, 0, 0, 0, 400, 0});
    font.resize(font.size() + 64 + 4, 0);
    const char* face = "DejaVu Sans";
    for (int i = 0; face[i]; ++i) font[4 + 28 + 2 * i] = static_cast<std::uint8_t>(face[i]);
    emf.Raw(82, font).Rec(37, {1});
    const std::uint32_t offString = 76;
    const std::uint32_t offDx = offString + static_cast<std::uint32_t>(2 * letters + 3) / 4 * 4;
    std::vector<std::uint8_t> body = Le({0, 0, 0, 0, 1, 0, 0, side / 2, side / 2, letters,
                                         offString, 0, 0, 0, 0, 0, offDx});
    for (int i = 0; i < letters; ++i) {
        body.push_back('W');
        body.push_back(0);
    }
    while ((body.size() + 8) % 4) body.push_back(0);
    body.resize(body.size() + 4 * static_cast<std::size_t>(letters), 0);
    emf.Raw(84, body);
    return emf.Finish();
}

enum class Write { None, Emf, Wmf };

struct Case {
    std::string name;
    std::function<std::vector<std::uint8_t>()> make;
    Write write = Write::None;
};

// Runs in the child: reads the picture, optionally writes it, and reports through stdout.
int RunCase(const Case& c) {
    const std::vector<std::uint8_t> data = c.make();
    ozm::Bitmap bitmap;
    std::string reason;
    const bool ok = ozm::PlayMetafileIntoBitmap(data, bitmap, &reason);
    std::string outcome;
    if (ok) {
        outcome = "read " + std::to_string(bitmap.Width()) + "x" + std::to_string(bitmap.Height());
        if (c.write != Write::None) {
            std::FILE* sink = std::fopen("/dev/null", "wb");
            const bool written = ozm::BuildMetafileFromBitmap(
                bitmap, sink,
                c.write == Write::Emf ? ozm::MetafileKind::Emf : ozm::MetafileKind::Wmf);
            if (sink) std::fclose(sink);
            outcome += written ? ", written" : ", write failed";
        }
    } else {
        outcome = "refused: " + (reason.empty() ? std::string("(no reason)") : reason);
    }
    std::printf("%zu bytes, %s", data.size(), outcome.c_str());
    std::fflush(stdout);
    return 0;
}

void Measure(const Case& c, int limitSeconds) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    std::fflush(stdout);  // or the child would print what is still buffered
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        dup2(pipeFds[1], STDOUT_FILENO);
        alarm(static_cast<unsigned>(limitSeconds));
        _exit(RunCase(c));
    }
    close(pipeFds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    if (WIFSIGNALED(status)) {
        text += WTERMSIG(status) == SIGALRM
                    ? "stopped at the limit of " + std::to_string(limitSeconds) + " s"
                    : "killed by signal " + std::to_string(WTERMSIG(status));
    }
    std::printf("%-28s %8.2f s wall %8.2f s cpu %8.1f MiB peak  %s\n", c.name.c_str(), wall, cpu,
                usage.ru_maxrss / 1024.0, text.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int limit = 120;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--limit=", 8) == 0) {
            limit = std::max(1, std::atoi(argv[i] + 8));
        } else {
            only.emplace_back(argv[i]);
        }
    }
    const std::vector<Case> cases = {
        {"polygon-100k-edges-4096", [] { return ZigzagPolygonEmf(4096, 100000); }},
        {"polygon-100k-edges-16384", [] { return ZigzagPolygonEmf(16384, 100000); }},
        {"wmf-500-rectangles-16384", [] { return RectanglesWmf(16384, 500); }},
        {"wmf-zero-units", ZeroUnitsWmf},
        {"wmf-zero-units-to-emf", ZeroUnitsWmf, Write::Emf},
        {"emf-128-bytes", HugeFrameEmf},
        {"emf-128-bytes-to-emf", HugeFrameEmf, Write::Emf},
        {"emf-128-bytes-to-wmf", HugeFrameEmf, Write::Wmf},
        {"emf-unaligned-rectangles-4096", [] { return UnalignedRectanglesEmf(4096, 40000); }},
        {"emf-pattern-invert-4096", [] { return PatternInvertEmf(4096, 10000); }},
        {"emf-piled-text-2048", [] { return PiledTextEmf(2048, 200000); }},
    };
    std::printf("hostile metafiles (limit %d s per case)\n", limit);
    for (const Case& c : cases) {
        if (!only.empty() && std::find(only.begin(), only.end(), c.name) == only.end()) continue;
        Measure(c, limit);
    }
    return 0;
}
