#pragma once
// A deflate encoder for rows of pixels as a PNG with row filter None carries them.
//
// Photos are mostly noise to a general compressor: few byte strings repeat, and a short match
// far back costs more bits than the literals it replaces. This encoder therefore looks for
// matches only where pixel data repeats (the pixel to the left, the pixel above, and the last
// place the same four bytes were seen), takes a match only when the previous block's codes say
// it is shorter than its literals, and ends blocks at fixed input lengths. On photos it writes
// smaller streams than the general libraries' default levels at several times their speed;
// on screenshots it stays within a few percent of them (bench/png_deflate.results.txt).
//
// The output depends on the bytes, `pixelBytes`, `rowBytes` and `last` alone.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace ozm {

class PixelDeflater {
  public:
    PixelDeflater();
    ~PixelDeflater();
    PixelDeflater(const PixelDeflater&) = delete;
    PixelDeflater& operator=(const PixelDeflater&) = delete;

    // Appends raw deflate blocks that stand for `data` to `out`. `pixelBytes` is the distance
    // to the same sample in the pixel to the left (3 for RGB, 1 for palette indexes) and
    // `rowBytes` the distance to the row above (0: no rows). Unless `last`, the blocks end with
    // an empty stored block, on a byte boundary, so that another call's blocks can follow them
    // in the same stream; the last call's final block ends the stream. Matches never reach
    // before `data`: each call's blocks can be made on their own, on any thread.
    void Deflate(std::span<const std::uint8_t> data, std::size_t pixelBytes, std::size_t rowBytes,
                 bool last, std::vector<std::uint8_t>& out);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace ozm
