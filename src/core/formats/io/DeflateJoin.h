#pragma once
// Raw deflate streams made one after another, joined into one: a stream that others are to
// follow is left open at its end, as a full flush leaves it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ozm {

// Takes a complete raw deflate stream (final block included, nothing after it) and leaves it
// open for more: the final flag of its last block cleared and an empty stored block appended,
// so that the data ends on a byte boundary and the next stream's first block follows. The
// blocks are found by walking their codes without producing the bytes they stand for. False,
// with `data` unchanged, when the stream is damaged, has bytes after its end, or stands for
// other than `length` bytes.
bool KeepDeflateOpen(std::vector<std::uint8_t>& data, std::size_t length);

}  // namespace ozm
