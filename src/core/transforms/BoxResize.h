#pragma once
// Resampling by area averaging ("box") and the fit-into-a-box size rule, for the command
// line's --filter box and --fit. The desktop program keeps its point sampling (Resize.h).

#include "core/bitmap/Bitmap.h"

namespace ozm {

struct FitSize {
    bool resample = false;  // false: the image already fits and is left alone
    int width = 0;
    int height = 0;
    friend bool operator==(const FitSize&, const FitSize&) = default;
};

// The size that shrinks width x height into a box of boxWidth x boxHeight keeping the
// proportions, never enlarging. A box side of 0 leaves that side unbounded. The bounded side
// takes the box's size exactly; the other is rounded to the nearest whole pixel, at least 1.
FitSize ComputeFitSize(int width, int height, int boxWidth, int boxHeight);

// Each target pixel is the mean of the source area it covers, every source pixel weighted by
// the exact fraction of it inside that area, as whole numbers: one rounding at the end, so
// the result is the true area mean rounded to the nearest level. Works for enlarging too
// (each target pixel then takes the one or two source pixels it lies on). The result is 24
// bits per pixel. False, with `target` empty, when a side is below 1, the source is empty,
// or memory cannot be had. `threads` (1 or more) share the rows; the result never depends on it.
bool BoxResampleTo24(const Bitmap& source, Bitmap& target, int width, int height, int threads = 1);

}  // namespace ozm
