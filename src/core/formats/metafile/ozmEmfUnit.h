#pragma once
// Enhanced and placeable Windows metafiles: written around a bitmap, and played back into one.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "core/bitmap/Bitmap.h"

namespace ozm {

// Plays an EMF or placeable WMF into `bitmap`, made afresh at 24 bits per pixel and the
// picture's size (what it held before has no say). On a refusal `*reason` says why: "not a
// metafile", "units per inch of 0", "image too large: ...", "EMF+ records are not
// supported", "metafile too complex to draw", or the damage met in a record.
bool PlayMetafileIntoBitmap(std::span<const std::uint8_t> data, Bitmap& bitmap,
                            std::string* reason = nullptr);

enum class MetafileKind { Emf, Wmf };

// A metafile holding one stretched drawing of the bitmap at its own size, its rows streamed
// into the file (no copy of the bitmap is made).
bool BuildMetafileFromBitmap(const Bitmap& bitmap, std::FILE* file, MetafileKind kind);

}  // namespace ozm
