#pragma once
// The program's own writer of uncompressed single-strip TIFF files.

#include <cstdio>

#include "core/bitmap/Bitmap.h"

namespace ozm {

bool WriteTiffFile(const Bitmap& bitmap, std::FILE* file);

}  // namespace ozm
