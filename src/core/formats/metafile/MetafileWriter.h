#pragma once
// Builds the bytes of a metafile that holds one bitmap drawn at its own size: an enhanced
// metafile recorded for the 96-per-inch screen, or a placeable Windows metafile.

#include <cstdio>

#include "core/bitmap/Bitmap.h"
#include "core/formats/metafile/MetafileRecords.h"

namespace ozm::metafile {

// The picture frame in 0.01 mm for a bitmap of `width` x `height` pixels on the screen; a
// side of 0 takes the whole screen's size.
SizeL FrameForPixels(int width, int height);

// The writers stream the bitmap's rows into the file one by one: besides the bitmap they hold
// only the headers and one row. False when a write fails or a size does not fit its field.

// Header, one stretched-DIB record of the bitmap in its own depth, end record.
bool WriteEmf(const Bitmap& bitmap, std::FILE* file);

// Placeable header at 96 units per inch, then 16-bit records: anisotropic mapping, window
// origin and extent, the bitmap stretched over the box. False when a side does not fit the
// signed 16-bit fields.
bool WriteWmf(const Bitmap& bitmap, std::FILE* file);

}  // namespace ozm::metafile
