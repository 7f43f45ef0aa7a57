// Windows bitmap decoding and encoding against plain memory copies of the same bytes, on a
// 4000 x 3000 picture. A 24-bit decode should stay close to CopyRowsReversed: each row is
// copied once. The decode loops reuse their bitmap, as a batch of equal-sized files does.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/bitmap/Bitmap.h"
#include "core/formats/raster/BmpCodec.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

ozm::Bitmap Pattern(int bitCount) {
    ozm::Bitmap bmp;
    bmp.Create(kWidth, kHeight, bitCount, true);
    for (std::size_t i = 0; i < bmp.DataSize(); ++i) {
        bmp.Data()[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    }
    if (bitCount == 16) {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) bmp.Row(y)[2 * x + 1] &= 0x7F;
        }
    }
    return bmp;
}

std::vector<std::uint8_t> FileOf(const ozm::Bitmap& bmp) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::tmpfile(), std::fclose);
    ozm::EncodeBmp(bmp, f.get());
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::ftell(f.get())));
    std::rewind(f.get());
    if (std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) bytes.clear();
    return bytes;
}

// Makes a written file top-down: negative height, rows reversed.
std::vector<std::uint8_t> TopDown(std::vector<std::uint8_t> file, std::size_t stride) {
    const std::size_t off = file[10] | (file[11] << 8) | (file[12] << 16);
    std::vector<std::uint8_t> rows(file.begin() + static_cast<std::ptrdiff_t>(off), file.end());
    for (int y = 0; y < kHeight; ++y) {
        std::memcpy(file.data() + off + y * stride, rows.data() + (kHeight - 1 - y) * stride,
                    stride);
    }
    const std::uint32_t h = static_cast<std::uint32_t>(-kHeight);
    for (int i = 0; i < 4; ++i) file[22 + i] = static_cast<std::uint8_t>(h >> (8 * i));
    return file;
}

void CopyIntoWarmMemory(benchmark::State& state) {
    const std::vector<std::uint8_t> src(static_cast<std::size_t>(kWidth) * 3 * kHeight, 7);
    std::vector<std::uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}

void CopyIntoFreshMemory(benchmark::State& state) {
    const std::vector<std::uint8_t> src(static_cast<std::size_t>(kWidth) * 3 * kHeight, 7);
    for (auto _ : state) {
        std::unique_ptr<std::uint8_t[]> dst(new std::uint8_t[src.size()]);
        std::memcpy(dst.get(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}

// What a bottom-up 24-bit decode must do at least: every row copied, in reverse order.
void CopyRowsReversed(benchmark::State& state) {
    const std::size_t stride = static_cast<std::size_t>(kWidth) * 3;
    const std::vector<std::uint8_t> src(stride * kHeight, 7);
    std::vector<std::uint8_t> dst(src.size());
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            std::memcpy(dst.data() + y * stride, src.data() + (kHeight - 1 - y) * stride, stride);
        }
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}

void Decode(benchmark::State& state, const std::vector<std::uint8_t>& file) {
    ozm::Bitmap out;
    for (auto _ : state) {
        if (!ozm::DecodeBmp(file, out)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.Data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}

void Decode24(benchmark::State& state) { Decode(state, FileOf(Pattern(24))); }
void Decode24TopDown(benchmark::State& state) {
    Decode(state, TopDown(FileOf(Pattern(24)), ozm::RowStride(kWidth, 24).value()));
}
void Decode32(benchmark::State& state) { Decode(state, FileOf(Pattern(32))); }
void Decode16(benchmark::State& state) { Decode(state, FileOf(Pattern(16))); }
void Decode8(benchmark::State& state) { Decode(state, FileOf(Pattern(8))); }

// 5-6-5 masks: every pixel through the channel tables into 24 bits.
void Decode565(benchmark::State& state) {
    auto file = FileOf(Pattern(16));
    // Turn the 40-byte header into BI_BITFIELDS with the masks after it.
    const std::uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
    std::vector<std::uint8_t> m(12);
    std::memcpy(m.data(), masks, 12);  // little-endian machine
    file.insert(file.begin() + 54, m.begin(), m.end());
    file[30] = 3;
    file[10] += 12;
    Decode(state, file);
}

void Encode24(benchmark::State& state) {
    const ozm::Bitmap bmp = Pattern(24);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen("/dev/null", "wb"), std::fclose);
    for (auto _ : state) {
        if (!ozm::EncodeBmp(bmp, f.get())) state.SkipWithError("encode failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bmp.DataSize()));
}

}  // namespace

BENCHMARK(CopyIntoWarmMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyIntoFreshMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyRowsReversed)->Unit(benchmark::kMillisecond);
BENCHMARK(Decode24)->Unit(benchmark::kMillisecond);
BENCHMARK(Decode24TopDown)->Unit(benchmark::kMillisecond);
BENCHMARK(Decode32)->Unit(benchmark::kMillisecond);
BENCHMARK(Decode16)->Unit(benchmark::kMillisecond);
BENCHMARK(Decode565)->Unit(benchmark::kMillisecond);
BENCHMARK(Decode8)->Unit(benchmark::kMillisecond);
BENCHMARK(Encode24)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
