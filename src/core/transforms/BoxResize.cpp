#include "core/transforms/BoxResize.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace ozm {

namespace {

// The source pixels one target pixel covers along one axis, with their overlaps. In units
// where a source pixel is `targetSide` long and a target pixel `sourceSide` long, every
// boundary is a whole number, so the overlaps are exact and add up to `sourceSide`.
struct Span {
    int first = 0;
    std::vector<std::uint32_t> weights;
};

std::vector<Span> Spans(int sourceSide, int targetSide) {
    std::vector<Span> spans(static_cast<std::size_t>(targetSide));
    const std::int64_t s = sourceSide, t = targetSide;
    for (std::int64_t x = 0; x < t; ++x) {
        const std::int64_t begin = x * s, end = (x + 1) * s;
        Span& span = spans[static_cast<std::size_t>(x)];
        span.first = static_cast<int>(begin / t);
        for (std::int64_t i = span.first; i * t < end; ++i) {
            const std::int64_t lo = std::max(begin, i * t), hi = std::min(end, (i + 1) * t);
            if (hi > lo) span.weights.push_back(static_cast<std::uint32_t>(hi - lo));
        }
    }
    return spans;
}

// Rows [rowBegin, rowEnd) of the target.
void ResampleRows(const Bitmap& src, Bitmap& dst, const std::vector<Span>& columns,
                  const std::vector<Span>& rows, int rowBegin, int rowEnd) {
    const int tw = dst.Width();
    const std::uint64_t area = std::uint64_t(src.Width()) * std::uint64_t(src.Height());
    // One source row averaged across: at most sourceWidth * 255 per channel.
    std::vector<std::uint64_t> across(static_cast<std::size_t>(tw) * 3);
    std::vector<std::uint64_t> sum(static_cast<std::size_t>(tw) * 3);
    int acrossRow = -1;
    for (int y = rowBegin; y < rowEnd; ++y) {
        std::fill(sum.begin(), sum.end(), 0);
        const Span& vertical = rows[static_cast<std::size_t>(y)];
        for (std::size_t k = 0; k < vertical.weights.size(); ++k) {
            const int sy = vertical.first + static_cast<int>(k);
            if (sy != acrossRow) {
                const std::uint8_t* in = src.Row(sy);
                for (int x = 0; x < tw; ++x) {
                    const Span& h = columns[static_cast<std::size_t>(x)];
                    const std::uint8_t* p = in + std::size_t(h.first) * 3;
                    std::uint64_t b = 0, g = 0, r = 0;
                    for (const std::uint32_t w : h.weights) {
                        b += std::uint64_t{w} * p[0];
                        g += std::uint64_t{w} * p[1];
                        r += std::uint64_t{w} * p[2];
                        p += 3;
                    }
                    across[std::size_t(x) * 3] = b;
                    across[std::size_t(x) * 3 + 1] = g;
                    across[std::size_t(x) * 3 + 2] = r;
                }
                acrossRow = sy;
            }
            const std::uint64_t w = vertical.weights[k];
            for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += w * across[i];
        }
        std::uint8_t* out = dst.Row(y);
        for (std::size_t i = 0; i < sum.size(); ++i) {
            out[i] = static_cast<std::uint8_t>((sum[i] + area / 2) / area);
        }
    }
}

}  // namespace

FitSize ComputeFitSize(int width, int height, int boxWidth, int boxHeight) {
    if (width < 1 || height < 1) return {};
    const bool wide = boxWidth > 0 && width > boxWidth;
    const bool tall = boxHeight > 0 && height > boxHeight;
    if (!wide && !tall) return {};
    const std::int64_t w = width, h = height;
    // Bounded by the width when width / boxWidth >= height / boxHeight.
    const bool byWidth = boxHeight <= 0 || (boxWidth > 0 && w * boxHeight >= h * boxWidth);
    FitSize fit{true, 0, 0};
    if (byWidth) {
        fit.width = boxWidth;
        fit.height = static_cast<int>(std::max<std::int64_t>(1, (2 * h * boxWidth + w) / (2 * w)));
    } else {
        fit.height = boxHeight;
        fit.width = static_cast<int>(std::max<std::int64_t>(1, (2 * w * boxHeight + h) / (2 * h)));
    }
    return fit;
}

bool BoxResampleTo24(const Bitmap& source, Bitmap& target, int width, int height, int threads) {
    target.Clear();
    if (width < 1 || height < 1 || source.Empty()) return false;
    Bitmap converted;
    const Bitmap* src = &source;
    if (source.BitCount() != 24) {
        if (!ConvertTo24(source, converted)) return false;
        src = &converted;
    }
    if (!target.Create(width, height, 24, true)) return false;
    const auto columns = Spans(src->Width(), width);
    const auto rows = Spans(src->Height(), height);
    threads = std::clamp(threads, 1, std::max(1, height / 64));
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        helpers.emplace_back([&, t] {
            ResampleRows(*src, target, columns, rows, height * t / threads,
                         height * (t + 1) / threads);
        });
    }
    ResampleRows(*src, target, columns, rows, 0, height / threads);
    for (auto& h : helpers) h.join();
    return true;
}

}  // namespace ozm
