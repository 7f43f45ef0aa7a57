#pragma once
// Plays the 16-bit records of a Windows metafile onto a canvas.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/formats/metafile/MetafileCanvas.h"

namespace ozm::metafile {

// The enhanced metafile that a converted Windows metafile carries in its comment records,
// reassembled, when every piece is there and the pieces agree; else nullopt. `wmf` starts
// at the 18-byte metafile header (after any placeable header).
std::optional<std::vector<std::uint8_t>> FindEmbeddedEmf(std::span<const std::uint8_t> wmf);

// Plays the records after the metafile header up to the end record. Throws RecordError when
// the header or a record does not fit, when an object index is out of range or the object
// table overflows, or when the data ends without an end record; WorkLimitError when the
// picture needs more work than the canvas's meter allows.
void PlayWmf(std::span<const std::uint8_t> wmf, Canvas& canvas);

}  // namespace ozm::metafile
