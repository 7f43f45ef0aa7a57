#pragma once
// Plays the records of an enhanced metafile onto a canvas.

#include <cstdint>
#include <span>

#include "core/formats/metafile/MetafileCanvas.h"
#include "core/formats/metafile/MetafileRecords.h"

namespace ozm::metafile {

// Plays every record after the header up to the end record. Throws RecordError when a
// record's sizes, counts, offsets or object indexes do not fit, or when the data ends
// without an end record; WorkLimitError when the picture needs more work than the canvas's
// meter allows.
void PlayEmf(std::span<const std::uint8_t> data, const EmfHeader& header, Canvas& canvas);

}  // namespace ozm::metafile
