#include "core/transforms/Rotate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>
#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace ozm {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Target rows are worked in bands and each band in column blocks, so that the source pixels a
// block reads stay in cache however steep the angle. Results do not depend on the order.
constexpr int kBandRows = 16;
constexpr int kBlockColumns = 256;

// Nearest integer, ties to even, in the processor's default rounding mode. |v| stays below
// 2^32 for every target that fits the image size limit.
inline std::int64_t RoundToNearest(double v) {
#if defined(__SSE2__) && defined(__x86_64__)
    return _mm_cvtsd_si64(_mm_set_sd(v));
#else
    return std::llrint(v);
#endif
}

inline void CopyPixel(std::uint8_t* out, const std::uint8_t* in) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
}

inline void PutFill(std::uint8_t* out) {
    out[0] = 255;  // blue
    out[1] = 0;
    out[2] = 0;
}

// The fixed quantities of one rotation: source and target sizes, the centre and the offsets of
// the target's grid against the source's.
struct Grid {
    std::int64_t w, h, nw, nh;
    std::int64_t iAxis, jAxis, dx, dy;

    Grid(int width, int height, std::int64_t targetWidth, std::int64_t targetHeight)
        : w(width), h(height), nw(targetWidth), nh(targetHeight),
          iAxis(width / 2), jAxis(height / 2),
          dx((targetWidth - width) / 2), dy((targetHeight - height) / 2) {}

    // Doubled, odd coordinates of target column i and row j about the centre.
    std::int64_t ColumnP(std::int64_t i) const { return 2 * (i - dx - iAxis) + 1; }
    std::int64_t RowP(std::int64_t j) const { return 2 * (j - dy - jAxis) + 1; }
    // Source column and row for rounded doubled coordinates (division truncates toward zero).
    std::int64_t SourceColumn(std::int64_t iR) const { return (iR - 1) / 2 + iAxis; }
    std::int64_t SourceRow(std::int64_t jR) const { return (jR - 1) / 2 + jAxis; }
    bool HasColumn(std::int64_t iO) const { return static_cast<std::uint64_t>(iO) < static_cast<std::uint64_t>(w); }
    bool HasRow(std::int64_t jO) const { return static_cast<std::uint64_t>(jO) < static_cast<std::uint64_t>(h); }
};

// Calls work(j0, j1, i0, i1) over the target in bands of rows and blocks of columns, advancing
// the progress by one step for each row as its band begins.
template <class Work>
void ForEachBlock(const Grid& grid, TransformHost& host, Work&& work) {
    for (std::int64_t j0 = 0; j0 < grid.nh; j0 += kBandRows) {
        const std::int64_t j1 = std::min(grid.nh, j0 + kBandRows);
        for (std::int64_t j = j0; j < j1; ++j) host.StepProgress();
        for (std::int64_t i0 = 0; i0 < grid.nw; i0 += kBlockColumns) {
            work(j0, j1, i0, std::min(grid.nw, i0 + kBlockColumns));
        }
    }
}

// Any angle: each coordinate costs one double subtraction or addition and one rounding, the
// products iP * cos and iP * sin being taken once per column and jP * sin, jP * cos once per
// row. The sums are the same double operations as the direct formula, so the pixels are too.
bool RotateGeneral(const Bitmap& src, Bitmap& dst, const Grid& grid, double s, double c,
                   TransformHost& host) {
    std::vector<double> columnCos, columnSin;
    try {
        columnCos.resize(static_cast<std::size_t>(grid.nw));
        columnSin.resize(static_cast<std::size_t>(grid.nw));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::int64_t i = 0; i < grid.nw; ++i) {
        const double iP = static_cast<double>(grid.ColumnP(i));
        columnCos[i] = iP * c;
        columnSin[i] = iP * s;
    }
    const std::uint8_t* srcData = src.Data();
    const std::size_t srcStride = src.Stride();
    ForEachBlock(grid, host, [&](std::int64_t j0, std::int64_t j1, std::int64_t i0, std::int64_t i1) {
        for (std::int64_t j = j0; j < j1; ++j) {
            const double jP = static_cast<double>(grid.RowP(j));
            const double rowSin = jP * s;
            const double rowCos = jP * c;
            std::uint8_t* out = dst.Row(static_cast<int>(j));
            for (std::int64_t i = i0; i < i1; ++i) {
                const std::int64_t iO = grid.SourceColumn(RoundToNearest(columnCos[i] - rowSin));
                const std::int64_t jO = grid.SourceRow(RoundToNearest(columnSin[i] + rowCos));
                if (grid.HasColumn(iO) && grid.HasRow(jO)) {
                    CopyPixel(out + 3 * i, srcData + static_cast<std::size_t>(jO) * srcStride +
                                               3 * static_cast<std::size_t>(iO));
                } else {
                    PutFill(out + 3 * i);
                }
            }
        }
    });
    return true;
}

// Quarter and half turns, where sin and cos round to -1, 0 or 1 without any pixel's rounding
// being able to tell: the source offset of target (i, j) is then a per-row part plus a
// per-column part, each worked out once with integers from the same rule.
bool RotateSeparable(const Bitmap& src, Bitmap& dst, const Grid& grid, int s0, int c0,
                     TransformHost& host) {
    constexpr std::int64_t kNone = -1;
    std::vector<std::int64_t> columnPart, rowPart;
    try {
        columnPart.resize(static_cast<std::size_t>(grid.nw));
        rowPart.resize(static_cast<std::size_t>(grid.nh));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::int64_t stride = static_cast<std::int64_t>(src.Stride());
    // iR = iP c0 - jP s0 and jR = iP s0 + jP c0: with one of s0, c0 zero each of iR and jR
    // depends on only one of i and j.
    for (std::int64_t i = 0; i < grid.nw; ++i) {
        const std::int64_t iP = grid.ColumnP(i);
        if (c0 != 0) {
            const std::int64_t iO = grid.SourceColumn(iP * c0);
            columnPart[i] = grid.HasColumn(iO) ? 3 * iO : kNone;
        } else {
            const std::int64_t jO = grid.SourceRow(iP * s0);
            columnPart[i] = grid.HasRow(jO) ? jO * stride : kNone;
        }
    }
    for (std::int64_t j = 0; j < grid.nh; ++j) {
        const std::int64_t jP = grid.RowP(j);
        if (c0 != 0) {
            const std::int64_t jO = grid.SourceRow(jP * c0);
            rowPart[j] = grid.HasRow(jO) ? jO * stride : kNone;
        } else {
            const std::int64_t iO = grid.SourceColumn(-jP * s0);
            rowPart[j] = grid.HasColumn(iO) ? 3 * iO : kNone;
        }
    }
    const std::uint8_t* srcData = src.Data();
    ForEachBlock(grid, host, [&](std::int64_t j0, std::int64_t j1, std::int64_t i0, std::int64_t i1) {
        for (std::int64_t j = j0; j < j1; ++j) {
            std::uint8_t* out = dst.Row(static_cast<int>(j));
            const std::int64_t r = rowPart[j];
            if (r == kNone) {
                for (std::int64_t i = i0; i < i1; ++i) PutFill(out + 3 * i);
                continue;
            }
            const std::uint8_t* base = srcData + r;
            for (std::int64_t i = i0; i < i1; ++i) {
                const std::int64_t p = columnPart[i];
                if (p != kNone) {
                    CopyPixel(out + 3 * i, base + p);
                } else {
                    PutFill(out + 3 * i);
                }
            }
        }
    });
    return true;
}

// Whether the rounded sin and cos (s0, c0) give every pixel of this grid the same (iR, jR) as
// the real ones. The exact value iP c - jP s lies within (|iP| + |jP|)(|c - c0| + |s - s0|) of
// iP c0 - jP s0, and the double products and sum add at most 3 * 2^-53 (|iP| + |jP|); below
// 0.5 in all the rounding cannot move. 0.25 leaves a wide margin.
bool IsExactQuarterTurn(const Grid& grid, double s, double c, int& s0, int& c0) {
    const double rs = std::nearbyint(s), rc = std::nearbyint(c);
    if ((rs == 0) == (rc == 0)) return false;
    const double maxIP = static_cast<double>(
        std::max(std::llabs(grid.ColumnP(0)), std::llabs(grid.ColumnP(grid.nw - 1))));
    const double maxJP = static_cast<double>(
        std::max(std::llabs(grid.RowP(0)), std::llabs(grid.RowP(grid.nh - 1))));
    const double reach = maxIP + maxJP;
    const double drift = reach * (std::fabs(s - rs) + std::fabs(c - rc)) + reach * 0x1p-50;
    if (!(drift < 0.25)) return false;
    s0 = static_cast<int>(rs);
    c0 = static_cast<int>(rc);
    return true;
}

}  // namespace

RotationAngle ComputeRotationAngle(std::int32_t degrees, std::int32_t hundredths) {
    const long double angle =
        static_cast<long double>(degrees) + static_cast<long double>(hundredths) / 100.0L;
    RotationAngle result;
    result.theta = static_cast<double>(-angle * kPi / 180.0L);
    result.sine = static_cast<double>(std::sin(static_cast<long double>(result.theta)));
    result.cosine = static_cast<double>(std::cos(static_cast<long double>(result.theta)));
    return result;
}

RotatedSize ComputeRotatedSize(int width, int height, const RotationAngle& angle) {
    // Products in long double, rounded by the processor's default mode (ties to even).
    auto roundedProduct = [](int side, double factor) {
        return std::llabs(std::llrint(static_cast<long double>(side) * factor));
    };
    return {roundedProduct(height, angle.sine) + roundedProduct(width, angle.cosine),
            roundedProduct(width, angle.sine) + roundedProduct(height, angle.cosine)};
}

bool RotateBitmap(const Bitmap& source, Bitmap& target, std::int32_t degrees,
                  std::int32_t hundredths, TransformHost& host) {
    target.Clear();
    if (source.Empty()) return false;
    Bitmap converted;
    const Bitmap* src = &source;
    if (source.BitCount() != 24) {
        if (!ConvertTo24(source, converted)) return false;
        src = &converted;
    }
    const RotationAngle angle = ComputeRotationAngle(degrees, hundredths);
    const RotatedSize size = ComputeRotatedSize(src->Width(), src->Height(), angle);
    if (!IsAcceptableImageSize(size.width, size.height)) return false;
    if (!target.Create(static_cast<int>(size.width), static_cast<int>(size.height), 24, false)) {
        return false;
    }
    // Row padding is never written by the sampling loops; keep it defined.
    const std::size_t used = static_cast<std::size_t>(size.width) * 3;
    for (int j = 0; j < target.Height(); ++j) {
        std::fill(target.Row(j) + used, target.Row(j) + target.Stride(), std::uint8_t{0});
    }

    const Grid grid(src->Width(), src->Height(), size.width, size.height);
    int s0 = 0, c0 = 0;
    const bool done = IsExactQuarterTurn(grid, angle.sine, angle.cosine, s0, c0)
                          ? RotateSeparable(*src, target, grid, s0, c0, host)
                          : RotateGeneral(*src, target, grid, angle.sine, angle.cosine, host);
    if (!done) target.Clear();
    return done;
}

void RotateWorkBitmap(Bitmap& workBitmap, const ConversionOptions& options,
                      TransformHost& host) {
    if (options.rotateDegrees <= 0) return;
    if (!ConvertTo24InPlace(workBitmap)) return;
    Bitmap target;
    if (RotateBitmap(workBitmap, target, options.rotateDegrees, options.rotateHundredths, host)) {
        workBitmap = std::move(target);
    }
}

}  // namespace ozm
