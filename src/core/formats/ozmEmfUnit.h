#pragma once
// Enhanced and placeable Windows metafiles: written around a bitmap, and played back into one.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"

namespace ozm {

// Plays an EMF or placeable WMF into `bitmap`, sized to the picture, keeping its depth.
bool PlayMetafileIntoBitmap(std::span<const std::uint8_t> data, Bitmap& bitmap,
                            std::string* reason = nullptr);

enum class MetafileKind { Emf, Wmf };

// A metafile holding one stretched drawing of the bitmap at its own size.
bool BuildMetafileFromBitmap(const Bitmap& bitmap, std::FILE* file, MetafileKind kind);

}  // namespace ozm
