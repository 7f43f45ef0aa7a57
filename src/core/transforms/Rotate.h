#pragma once
// Rotation of the working bitmap by any angle in whole degrees plus hundredths, clockwise as
// seen on screen, by nearest-pixel sampling on a half-pixel grid around the source's centre.
// Every angle, quarter turns included, follows the one mapping below; quarter turns take a
// faster path that yields the same pixels.

#include <cstdint>

#include "core/bitmap/Bitmap.h"
#include "core/transforms/TransformSettings.h"
#include "core/transforms/TransformHost.h"

namespace ozm {

// The working angle theta = -(degrees + hundredths / 100) * pi / 180, worked out in long
// double and held as a double, and its sine and cosine held as doubles.
struct RotationAngle {
    double theta = 0;
    double sine = 0;
    double cosine = 1;
};
RotationAngle ComputeRotationAngle(std::int32_t degrees, std::int32_t hundredths);

// Size of the rotated image: |round(h * sine)| + |round(w * cosine)| wide and
// |round(w * sine)| + |round(h * cosine)| high, rounding to nearest with ties to even.
struct RotatedSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};
RotatedSize ComputeRotatedSize(int width, int height, const RotationAngle& angle);

// Turns `source` (any depth; read as 24 bits) into a new 24-bit `target`. Target pixel (i, j)
// takes source pixel (iO, jO) with
//   iP = 2 (i - dx - w div 2) + 1,   jP = 2 (j - dy - h div 2) + 1,
//   iR = round(iP cos - jP sin),      jR = round(iP sin + jP cos),
//   iO = (iR - 1) div 2 + w div 2,    jO = (jR - 1) div 2 + h div 2,
// where dx = (target width - w) div 2, dy likewise, div truncates toward zero, rounding is to
// nearest with ties to even (the processor's default mode) on double products; target pixels
// whose (iO, jO) lies outside the source are pure blue. Advances the progress by one step per
// target row and never lets pending work run. Returns false, with `target` empty, when the
// source is empty or the target cannot be allocated.
bool RotateBitmap(const Bitmap& source, Bitmap& target, std::int32_t degrees,
                  std::int32_t hundredths, TransformHost& host = NullTransformHost());

// Turns the working bitmap by the options' angle when rotateDegrees is above 0 (hundredths
// alone never rotate). The bitmap is brought to 24 bits first; when the rotation fails it keeps
// its unrotated pixels and the result is false.
bool RotateWorkBitmap(Bitmap& workBitmap, const TransformSettings& options,
                      TransformHost& host = NullTransformHost());

}  // namespace ozm
