#pragma once
// Resizing of the working bitmap by point sampling: to a given size (optionally keeping the
// proportions) or by a percentage. The result is always 24 bits per pixel.

#include "core/bitmap/Bitmap.h"
#include "core/transforms/TransformHost.h"
#include "core/transforms/TransformSettings.h"

namespace ozm {

struct ResizeTarget {
    bool resample = false;  // false: the bitmap is not touched at all
    // The size the rules give. May be 0, negative or too large for a bitmap; the resample
    // then refuses it.
    std::int64_t width = 0;
    std::int64_t height = 0;
    friend bool operator==(const ResizeTarget&, const ResizeTarget&) = default;
};

// The target size for a source of sourceWidth x sourceHeight under the resize settings.
// Mode 1 keeping the aspect derives the missing side as given x source side div other source
// side (exact 64-bit product, division truncating toward zero); mode 2 scales both sides by
// the percentage, truncating toward zero, and a percentage of exactly 100 means no resample.
// Absent entries fall back to the source size, which still resamples. A source side of 0 in
// the keep-aspect division gives resample = true with the size 0 x 0, which is refused later.
ResizeTarget ComputeResizeTarget(int sourceWidth, int sourceHeight,
                                 const TransformSettings& options);

// Point-samples `workBitmap` to the target that ComputeResizeTarget gives. Returns true when
// the bitmap was replaced by the 24-bit resampled image; false when it was left exactly as it
// was (no resize asked for, a percentage of 100, a target side below 1, a source side of 0,
// a target above the image size limit, or memory that cannot be had).
// Progress: nothing in mode 0; otherwise 3 steps, or 6 when it resamples. Pending work runs at
// every step except the one right after the final copy.
bool ResizeWorkBitmap(Bitmap& workBitmap, const TransformSettings& options,
                      TransformHost& host = NullTransformHost());

// Point sampling of any bitmap onto a new 24-bit bitmap of width x height: target column x
// takes source column floor((2x + 1) * sourceWidth / (2 * width)), rows likewise, so every
// source pixel is used equally often (within one) and an equal size copies pixel for pixel.
// False, with `target` empty, when a side is below 1 or the target cannot be allocated. Large
// targets are filled on up to `threads` threads; the pixels do not depend on it.
bool PointSampleTo24(const Bitmap& source, Bitmap& target, int width, int height, int threads = 1);

}  // namespace ozm
