#include "core/transforms/Resize.h"

#include <cstring>
#include <limits>
#include <vector>

#include "core/parallel/OrderedBands.h"

namespace ozm {

namespace {

// Both sides of a resample target must be usable as bitmap sides.
bool IsUsableSide(std::int64_t side) {
    return side >= 1 && side <= std::numeric_limits<std::int32_t>::max();
}

// Given x other div side, or 0 when the source side is 0 (the target is then refused).
// The product is exact in 64 bits: a typed side and a bitmap side are both below 2^31.
std::int64_t DerivedSide(std::int32_t given, int other, int side) {
    if (side == 0) return 0;
    return std::int64_t{given} * other / side;
}

// Copies one 3-byte pixel. Where a 4-byte move is known to stay inside both buffers it is
// used instead: the extra byte lands on the next target pixel, which is written afterwards.
inline void CopyPixel3(std::uint8_t* out, const std::uint8_t* in) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
}

inline void CopyPixel4(std::uint8_t* out, const std::uint8_t* in) {
    std::uint32_t v;
    std::memcpy(&v, in, 4);
    std::memcpy(out, &v, 4);
}

}  // namespace

ResizeTarget ComputeResizeTarget(int sourceWidth, int sourceHeight,
                                 const TransformSettings& options) {
    const ResizeTarget sameSize{true, sourceWidth, sourceHeight};
    switch (options.resizeMode) {
        case ResizeMode::ToSize:
            if (options.keepAspect) {
                if (options.width) {
                    return {true, *options.width,
                            DerivedSide(*options.width, sourceHeight, sourceWidth)};
                }
                if (options.height) {
                    return {true, DerivedSide(*options.height, sourceWidth, sourceHeight),
                            *options.height};
                }
                return sameSize;
            }
            if (options.width && options.height) return {true, *options.width, *options.height};
            return sameSize;
        case ResizeMode::ByPercent:
            if (!options.percentage) return sameSize;
            if (*options.percentage == 100) return {};
            // Truncating toward zero, as the division of the exact product by 100 in floating
            // point does for every product below 2^46.
            return {true, std::int64_t{sourceWidth} * *options.percentage / 100,
                    std::int64_t{sourceHeight} * *options.percentage / 100};
        default:
            return {};
    }
}

bool PointSampleTo24(const Bitmap& source, Bitmap& target, int width, int height, int threads) {
    target.Clear();
    if (width < 1 || height < 1 || source.Empty()) return false;
    Bitmap converted;
    const Bitmap* src = &source;
    if (source.BitCount() != 24) {
        if (!ConvertTo24(source, converted, threads)) return false;
        src = &converted;
    }
    if (!target.Create(width, height, 24, false)) return false;

    const std::int64_t sw = src->Width(), sh = src->Height();
    std::vector<std::uint32_t> columnOffset;
    try {
        columnOffset.resize(static_cast<std::size_t>(width));
    } catch (const std::bad_alloc&) {
        target.Clear();
        return false;
    }
    // Centre sampling: target pixel x covers [x, x + 1) of the target, whose centre maps to
    // (2x + 1) * sw / (2 * width) in the source.
    for (int x = 0; x < width; ++x) {
        columnOffset[x] = static_cast<std::uint32_t>(
            3 * ((2 * std::int64_t{x} + 1) * sw / (2 * std::int64_t{width})));
    }
    // A 4-byte read at offset o stays inside the source row (and so inside the buffer) while
    // o + 4 <= stride; offsets grow with x, so the columns that may use it form a prefix.
    int fastColumns = width - 1;  // the last target pixel never uses a 4-byte write
    while (fastColumns > 0 && columnOffset[fastColumns - 1] + 4 > src->Stride()) --fastColumns;

    const std::size_t usedBytes = static_cast<std::size_t>(width) * 3;
    // Bands of about 1 MiB of target rows, each on whichever thread is free; a band samples
    // its first row afresh, so the split cannot change a pixel.
    const int bandRows =
        static_cast<int>(std::max<std::size_t>(1, (std::size_t{1} << 20) / target.Stride()));
    const auto band = [&](std::size_t b, std::size_t) {
        const int y0 = static_cast<int>(b) * bandRows;
        const int y1 = std::min(height, y0 + bandRows);
        std::int64_t previousRow = -1;
        for (int y = y0; y < y1; ++y) {
            const std::int64_t sy = (2 * std::int64_t{y} + 1) * sh / (2 * std::int64_t{height});
            std::uint8_t* out = target.Row(y);
            if (sy == previousRow) {
                std::memcpy(out, target.Row(y - 1), target.Stride());
                continue;
            }
            previousRow = sy;
            const std::uint8_t* in = src->Row(static_cast<int>(sy));
            int x = 0;
            for (; x < fastColumns; ++x) CopyPixel4(out + 3 * x, in + columnOffset[x]);
            for (; x < width; ++x) CopyPixel3(out + 3 * x, in + columnOffset[x]);
            std::memset(out + usedBytes, 0, target.Stride() - usedBytes);
        }
        return true;
    };
    BandRun run;
    run.count = static_cast<std::size_t>((height + bandRows - 1) / bandRows);
    run.threads = threads;
    return RunBandsInOrder(run, band, [](std::size_t, std::size_t) { return true; });
}

bool ResizeWorkBitmap(Bitmap& workBitmap, const TransformSettings& options, TransformHost& host) {
    if (options.resizeMode != ResizeMode::ToSize && options.resizeMode != ResizeMode::ByPercent) {
        return false;
    }
    auto step = [&host](bool letPendingWorkRun) {
        host.StepProgress();
        if (letPendingWorkRun) host.ProcessPendingWork();
    };
    step(true);  // entry
    const ResizeTarget target =
        ComputeResizeTarget(workBitmap.Width(), workBitmap.Height(), options);
    step(true);  // target settled

    bool replaced = false;
    if (target.resample && IsUsableSide(target.width) && IsUsableSide(target.height) &&
        !workBitmap.Empty()) {
        Bitmap result;
        if (PointSampleTo24(workBitmap, result, static_cast<int>(target.width),
                            static_cast<int>(target.height), host.TransformThreads())) {
            step(true);  // resampled
            step(true);  // copy mode chosen
            workBitmap = std::move(result);
            step(false);  // final copy done
            replaced = true;
        }
    }
    step(true);  // exit
    return replaced;
}

}  // namespace ozm
