#include "core/transforms/Rotate.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "core/parallel/ThreadBudget.h"

namespace ozm {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Nearest integer, ties to even, in the processor's default rounding mode. Within the image
// size limit every value rounded here is below 2^30 in magnitude.
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

// Writes `count` pixels of the fill colour (blue 255, green 0, red 0), sixteen pixels (three
// 16-byte words) at a time.
inline void PutFill(std::uint8_t* out, std::int64_t count) {
    static constexpr auto kPattern = [] {
        std::array<std::uint8_t, 48> p{};
        for (std::size_t k = 0; k < p.size(); k += 3) p[k] = 255;
        return p;
    }();
    for (; count >= 16; count -= 16, out += 48) std::memcpy(out, kPattern.data(), 48);
    std::memcpy(out, kPattern.data(), static_cast<std::size_t>(count) * 3);
}

// The fixed quantities of one rotation: source and target sizes, the centre and the offsets of
// the target's grid against the source's.
struct Grid {
    std::int64_t w, h, nw, nh;
    std::int64_t iAxis, jAxis, dx, dy;

    Grid(int width, int height, std::int64_t targetWidth, std::int64_t targetHeight)
        : w(width),
          h(height),
          nw(targetWidth),
          nh(targetHeight),
          iAxis(width / 2),
          jAxis(height / 2),
          dx((targetWidth - width) / 2),
          dy((targetHeight - height) / 2) {}

    // Doubled, odd coordinates of target column i and row j about the centre.
    std::int64_t ColumnP(std::int64_t i) const { return 2 * (i - dx - iAxis) + 1; }
    std::int64_t RowP(std::int64_t j) const { return 2 * (j - dy - jAxis) + 1; }
    // Source column and row for rounded doubled coordinates (division truncates toward zero).
    std::int64_t SourceColumn(std::int64_t iR) const { return (iR - 1) / 2 + iAxis; }
    std::int64_t SourceRow(std::int64_t jR) const { return (jR - 1) / 2 + jAxis; }
    bool HasColumn(std::int64_t iO) const {
        return static_cast<std::uint64_t>(iO) < static_cast<std::uint64_t>(w);
    }
    bool HasRow(std::int64_t jO) const {
        return static_cast<std::uint64_t>(jO) < static_cast<std::uint64_t>(h);
    }
};

// Splits the target into bands of rows and calls work(j0, j1) for each, on the calling thread
// and, for large images, on as many more as the host and the thread budget allow. Every pixel
// depends on its own position only, so the split cannot change the result. Progress is reported
// from the calling thread only, one step per finished row.
template <class Work>
void ForEachBand(const Grid& grid, std::int64_t bandRows, TransformHost& host, Work&& work) {
    const std::int64_t bands = (grid.nh + bandRows - 1) / bandRows;
    std::atomic<std::int64_t> nextBand{0};
    std::atomic<std::int64_t> rowsDone{0};
    auto run = [&](bool reportProgress) {
        std::int64_t reported = 0;
        for (std::int64_t b; (b = nextBand.fetch_add(1)) < bands;) {
            const std::int64_t j0 = b * bandRows, j1 = std::min(grid.nh, j0 + bandRows);
            work(j0, j1);
            rowsDone += j1 - j0;
            if (reportProgress) {
                for (const std::int64_t done = rowsDone; reported < done; ++reported) {
                    host.StepProgress();
                }
            }
        }
        return reported;
    };
    // Below about a megapixel a second thread costs more than it saves.
    constexpr std::int64_t kMinPixelsForHelper = std::int64_t{1} << 20;
    std::int64_t reported = 0;
    {
        // Helpers come out of the process's thread budget, so that files converted side by
        // side never keep more threads busy than there are cores.
        const std::int64_t wanted =
            grid.nw * grid.nh >= kMinPixelsForHelper
                ? std::min<std::int64_t>(host.TransformThreads() - 1, bands - 1)
                : 0;
        BudgetShare share(ThreadBudget::Process(),
                          static_cast<int>(std::max<std::int64_t>(0, wanted)));
        std::vector<std::jthread> helpers;
        helpers.reserve(static_cast<std::size_t>(share.Count()));
        for (int i = 0; i < share.Count(); ++i) {
            try {
                helpers.emplace_back([&run] { run(false); });
            } catch (const std::system_error&) {
                break;  // no more threads to be had: the ones running do all bands
            }
        }
        reported = run(true);
    }
    for (; reported < grid.nh; ++reported) host.StepProgress();
}

// Any angle. Each coordinate costs one double subtraction or addition and one rounding per
// pixel: the products iP * cos and iP * sin are taken once per column, jP * sin and jP * cos
// once per row, and their difference and sum are the very double operations of the direct
// formula, so the pixels are the same.
class GeneralRotation {
  public:
    GeneralRotation(const Bitmap& src, Bitmap& dst, const Grid& grid, double s, double c)
        : src_(src), dst_(dst), grid_(grid), s_(s), c_(c) {}

    bool Prepare() {
        try {
            columnCos_.resize(static_cast<std::size_t>(grid_.nw));
            columnSin_.resize(static_cast<std::size_t>(grid_.nw));
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (std::int64_t i = 0; i < grid_.nw; ++i) {
            const double iP = static_cast<double>(grid_.ColumnP(i));
            columnCos_[i] = iP * c_;
            columnSin_[i] = iP * s_;
        }
        return true;
    }

    // Rows are done in bands, each band in blocks of columns, so that the source pixels one
    // block reads stay in cache whatever the angle.
    static constexpr std::int64_t kBandRows = 64;
    static constexpr std::int64_t kBlockColumns = 128;

    void Band(std::int64_t j0, std::int64_t j1) const {
        struct RowWork {
            double rowSin, rowCos;
            std::int64_t lo, hi;
            std::uint8_t* out;
        };
        RowWork rows[kBandRows];
        for (std::int64_t j = j0; j < j1; ++j) {
            RowWork& r = rows[j - j0];
            const double jP = static_cast<double>(grid_.RowP(j));
            r.rowSin = jP * s_;
            r.rowCos = jP * c_;
            Span(r.rowSin, r.rowCos, r.lo, r.hi);
            r.out = dst_.Row(static_cast<int>(j));
        }
        for (std::int64_t i0 = 0; i0 < grid_.nw; i0 += kBlockColumns) {
            const std::int64_t i1 = std::min(grid_.nw, i0 + kBlockColumns);
            for (std::int64_t j = j0; j < j1; ++j) {
                const RowWork& r = rows[j - j0];
                const std::int64_t a = std::clamp(r.lo, i0, i1);
                const std::int64_t b = std::clamp(r.hi, a, i1);
                PutFill(r.out + 3 * i0, a - i0);
                CopyRun(r.out, a, b, r.rowSin, r.rowCos);
                PutFill(r.out + 3 * b, i1 - b);
            }
        }
    }

  private:
    // Target columns [a, b) of one row (a span of at most one block), all of whose source
    // pixels exist. The source offsets are worked out first and the pixels moved after, so
    // that the moving loop is short and many of its cache misses overlap. A pixel moves as one
    // 4-byte word where that stays inside both buffers: the read must end inside the source,
    // and the extra byte written lands on the next pixel of the same row, which is written
    // after it (the copy runs left to right and the fill after it); the row's last pixel moves
    // as 3 bytes so that it never touches padding or another thread's row.
    void CopyRun(std::uint8_t* out, std::int64_t a, std::int64_t b, double rowSin,
                 double rowCos) const {
        const double* columnCos = columnCos_.data();
        const double* columnSin = columnSin_.data();
        const std::int64_t stride = static_cast<std::int64_t>(src_.Stride());
        const std::int64_t iAxis = grid_.iAxis, jAxis = grid_.jAxis;
        const std::uint8_t* srcData = src_.Data();
        std::uint32_t offsets[kBlockColumns];
        std::int64_t i = a;
#if defined(__SSE2__)
        // Two pixels at a time. cvtpd2dq rounds as cvtsd2si does (the current mode, to nearest
        // with ties to even), and inside the span every coordinate is a small non-negative
        // number, so 32-bit lanes and unsigned products hold them exactly.
        const __m128d rowSin2 = _mm_set1_pd(rowSin), rowCos2 = _mm_set1_pd(rowCos);
        const __m128i axes = _mm_set_epi32(static_cast<int>(jAxis), static_cast<int>(jAxis),
                                           static_cast<int>(iAxis), static_cast<int>(iAxis));
        const __m128i one = _mm_set1_epi32(1), three = _mm_set1_epi32(3);
        const __m128i stride2 = _mm_set1_epi32(static_cast<int>(stride));
        for (; i + 2 <= b; i += 2) {
            const __m128i iR = _mm_cvtpd_epi32(_mm_sub_pd(_mm_loadu_pd(columnCos + i), rowSin2));
            const __m128i jR = _mm_cvtpd_epi32(_mm_add_pd(_mm_loadu_pd(columnSin + i), rowCos2));
            // Lanes iR0, iR1, jR0, jR1; (r - 1) div 2 truncating toward zero, plus the axis.
            __m128i v = _mm_sub_epi32(_mm_unpacklo_epi64(iR, jR), one);
            v = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(v, _mm_srli_epi32(v, 31)), 1), axes);
            const __m128i rows =
                _mm_mul_epu32(_mm_shuffle_epi32(v, _MM_SHUFFLE(0, 3, 0, 2)), stride2);
            const __m128i columns =
                _mm_mul_epu32(_mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 0, 0)), three);
            const __m128i sum = _mm_add_epi64(rows, columns);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(offsets + (i - a)),
                             _mm_shuffle_epi32(sum, _MM_SHUFFLE(3, 1, 2, 0)));
            // The moves below wait on these reads; asking for them now lets them overlap.
            __builtin_prefetch(srcData + offsets[i - a]);
            __builtin_prefetch(srcData + offsets[i - a + 1]);
        }
#endif
        for (; i < b; ++i) {
            const std::int64_t iR = RoundToNearest(columnCos[i] - rowSin);
            const std::int64_t jR = RoundToNearest(columnSin[i] + rowCos);
            offsets[i - a] = static_cast<std::uint32_t>(((jR - 1) / 2 + jAxis) * stride +
                                                        3 * ((iR - 1) / 2 + iAxis));
            __builtin_prefetch(srcData + offsets[i - a]);
        }
        const std::uint32_t lastWideRead = static_cast<std::uint32_t>(src_.DataSize() - 4);
        const std::int64_t wideEnd = std::max(a, std::min(b, grid_.nw - 1));
        std::uint8_t* o = out + 3 * a;
        const std::uint32_t* offset = offsets;
        for (i = a; i < wideEnd; ++i, o += 3, ++offset) {
            if (*offset <= lastWideRead) {
                std::uint32_t pixel;
                std::memcpy(&pixel, srcData + *offset, 4);
                std::memcpy(o, &pixel, 4);
            } else {
                CopyPixel(o, srcData + *offset);
            }
        }
        if (wideEnd < b) CopyPixel(o, srcData + *offset);
    }

    // The target columns [lo, hi) of one row whose source pixel exists. As i grows, iO follows
    // the sign of cos and jO the sign of sin without ever turning back (each step of the
    // formula is monotonic, roundings included), so the columns where each lies inside the
    // source form one run, found by bisection with the exact formula.
    void Span(double rowSin, double rowCos, std::int64_t& lo, std::int64_t& hi) const {
        auto firstTrue = [n = grid_.nw](auto&& pred) {
            std::int64_t a = 0, b = n;
            while (a < b) {
                const std::int64_t m = a + (b - a) / 2;
                if (pred(m))
                    b = m;
                else
                    a = m + 1;
            }
            return a;
        };
        auto clip = [&](auto&& f, bool rising, std::int64_t limit) {
            if (rising) {
                lo = std::max(lo, firstTrue([&](std::int64_t i) { return f(i) >= 0; }));
                hi = std::min(hi, firstTrue([&](std::int64_t i) { return f(i) >= limit; }));
            } else {
                lo = std::max(lo, firstTrue([&](std::int64_t i) { return f(i) < limit; }));
                hi = std::min(hi, firstTrue([&](std::int64_t i) { return f(i) < 0; }));
            }
        };
        lo = 0;
        hi = grid_.nw;
        clip(
            [&](std::int64_t i) {
                return grid_.SourceColumn(RoundToNearest(columnCos_[i] - rowSin));
            },
            c_ >= 0, grid_.w);
        clip(
            [&](std::int64_t i) { return grid_.SourceRow(RoundToNearest(columnSin_[i] + rowCos)); },
            s_ >= 0, grid_.h);
        hi = std::max(hi, lo);
    }

    const Bitmap& src_;
    Bitmap& dst_;
    const Grid& grid_;
    double s_, c_;
    std::vector<double> columnCos_, columnSin_;
};

// Quarter and half turns, where sin and cos round to -1, 0 or 1 without any pixel's rounding
// being able to tell: the source offset of target (i, j) is then a per-row part plus a
// per-column part, each worked out once with integers from the same rule.
class SeparableRotation {
  public:
    SeparableRotation(const Bitmap& src, Bitmap& dst, const Grid& grid, int s0, int c0)
        : src_(src), dst_(dst), grid_(grid), s0_(s0), c0_(c0) {}

    bool Prepare() {
        try {
            columnPart_.resize(static_cast<std::size_t>(grid_.nw));
            rowPart_.resize(static_cast<std::size_t>(grid_.nh));
        } catch (const std::bad_alloc&) {
            return false;
        }
        const std::int64_t stride = static_cast<std::int64_t>(src_.Stride());
        // iR = iP c0 - jP s0 and jR = iP s0 + jP c0: with one of s0, c0 zero, each of iR and
        // jR depends on only one of i and j.
        for (std::int64_t i = 0; i < grid_.nw; ++i) {
            const std::int64_t iP = grid_.ColumnP(i);
            if (c0_ != 0) {
                const std::int64_t iO = grid_.SourceColumn(iP * c0_);
                columnPart_[i] = grid_.HasColumn(iO) ? 3 * iO : kNone;
            } else {
                const std::int64_t jO = grid_.SourceRow(iP * s0_);
                columnPart_[i] = grid_.HasRow(jO) ? jO * stride : kNone;
            }
        }
        for (std::int64_t j = 0; j < grid_.nh; ++j) {
            const std::int64_t jP = grid_.RowP(j);
            if (c0_ != 0) {
                const std::int64_t jO = grid_.SourceRow(jP * c0_);
                rowPart_[j] = grid_.HasRow(jO) ? jO * stride : kNone;
            } else {
                const std::int64_t iO = grid_.SourceColumn(-jP * s0_);
                rowPart_[j] = grid_.HasColumn(iO) ? 3 * iO : kNone;
            }
        }
        return true;
    }

    // A quarter turn reads the source down its columns: square blocks keep those reads in
    // cache lines already fetched for the neighbouring target rows.
    static constexpr std::int64_t kBandRows = 32;
    static constexpr std::int64_t kBlockColumns = 64;

    void Band(std::int64_t j0, std::int64_t j1) const {
        const std::uint8_t* srcData = src_.Data();
        for (std::int64_t i0 = 0; i0 < grid_.nw; i0 += kBlockColumns) {
            const std::int64_t i1 = std::min(grid_.nw, i0 + kBlockColumns);
            for (std::int64_t j = j0; j < j1; ++j) {
                std::uint8_t* out = dst_.Row(static_cast<int>(j));
                const std::int64_t r = rowPart_[j];
                if (r == kNone) {
                    PutFill(out + 3 * i0, i1 - i0);
                    continue;
                }
                const std::uint8_t* base = srcData + r;
                for (std::int64_t i = i0; i < i1; ++i) {
                    const std::int64_t p = columnPart_[i];
                    if (p != kNone) {
                        CopyPixel(out + 3 * i, base + p);
                    } else {
                        PutFill(out + 3 * i, 1);
                    }
                }
            }
        }
    }

  private:
    static constexpr std::int64_t kNone = -1;
    const Bitmap& src_;
    Bitmap& dst_;
    const Grid& grid_;
    int s0_, c0_;
    std::vector<std::int64_t> columnPart_, rowPart_;
};

// Maps in the memory of target rows [j0, j1) in one go, which costs far less than a page fault
// at each first touch; where the system cannot, the rows fault in as they are written.
void PrefaultRows(Bitmap& target, std::int64_t j0, std::int64_t j1) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto first = reinterpret_cast<std::uintptr_t>(target.Row(static_cast<int>(j0)));
    const auto last = first + static_cast<std::uintptr_t>(j1 - j0) * target.Stride();
    const std::uintptr_t begin = (first + page - 1) / page * page, end = last / page * page;
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)target;
    (void)j0;
    (void)j1;
#endif
}

// Fills the target band by band. The row padding, which the sampling never writes, is
// cleared by the thread that writes the row, so that no thread touches the other's pages.
template <class Rotation>
bool Run(Rotation& rotation, Bitmap& target, const Grid& grid, TransformHost& host) {
    if (!rotation.Prepare()) return false;
    const std::size_t used = static_cast<std::size_t>(grid.nw) * 3;
    ForEachBand(grid, Rotation::kBandRows, host, [&](std::int64_t j0, std::int64_t j1) {
        PrefaultRows(target, j0, j1);
        for (std::int64_t j = j0; j < j1; ++j) {
            std::uint8_t* row = target.Row(static_cast<int>(j));
            std::fill(row + used, row + target.Stride(), std::uint8_t{0});
        }
        rotation.Band(j0, j1);
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
    const double maxJP =
        static_cast<double>(std::max(std::llabs(grid.RowP(0)), std::llabs(grid.RowP(grid.nh - 1))));
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
        if (!ConvertTo24(source, converted, host.TransformThreads())) return false;
        src = &converted;
    }
    const RotationAngle angle = ComputeRotationAngle(degrees, hundredths);
    const RotatedSize size = ComputeRotatedSize(src->Width(), src->Height(), angle);
    if (!IsAcceptableImageSize(size.width, size.height)) return false;
    // Source offsets are held in 32 bits; within kMaxImagePixels a 24-bit bitmap stays below
    // 2^31 bytes, so this only guards the arithmetic.
    if (src->DataSize() >= (std::size_t{1} << 32) || src->DataSize() < 4) return false;
    if (!target.Create(static_cast<int>(size.width), static_cast<int>(size.height), 24, false)) {
        return false;
    }

    const Grid grid(src->Width(), src->Height(), size.width, size.height);
    int s0 = 0, c0 = 0;
    bool done;
    if (IsExactQuarterTurn(grid, angle.sine, angle.cosine, s0, c0)) {
        SeparableRotation rotation(*src, target, grid, s0, c0);
        done = Run(rotation, target, grid, host);
    } else {
        GeneralRotation rotation(*src, target, grid, angle.sine, angle.cosine);
        done = Run(rotation, target, grid, host);
    }
    if (!done) target.Clear();
    return done;
}

bool RotateWorkBitmap(Bitmap& workBitmap, const TransformSettings& options, TransformHost& host) {
    if (options.rotateDegrees <= 0) return true;
    if (!ConvertTo24InPlace(workBitmap, host.TransformThreads())) return false;
    Bitmap target;
    if (!RotateBitmap(workBitmap, target, options.rotateDegrees, options.rotateHundredths, host)) {
        return false;
    }
    workBitmap = std::move(target);
    return true;
}

}  // namespace ozm
