#pragma once
// The eight picture orientations a camera records (1 as stored, 2 mirrored left to right,
// 3 turned half round, 4 mirrored top to bottom, 5 mirrored along the main diagonal, 6 to be
// turned a quarter clockwise, 7 mirrored along the other diagonal, 8 to be turned a quarter
// anticlockwise), applied to a bitmap so that it shows the right way up.

#include "core/bitmap/Bitmap.h"

namespace ozm {

// True for 5..8, whose upright picture has the stored width and height exchanged.
inline bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

// Replaces `bitmap` by its upright form. Depths of 8, 24 and 32 bits keep their depth and
// palette; the others become 24 bits. 1 and values outside 1..8 change nothing. False, with
// the bitmap unchanged, when memory cannot be had.
bool ApplyOrientation(Bitmap& bitmap, int orientation);

}  // namespace ozm
