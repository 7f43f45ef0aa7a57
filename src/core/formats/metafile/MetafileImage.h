#pragma once
// A device-independent bitmap carried by a metafile record, decoded once and kept as a
// cairo surface for drawing.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "core/formats/metafile/CairoPtr.h"
#include "core/formats/metafile/MetafileRecords.h"

namespace ozm::metafile {

enum class DibVerdict {
    Usable,       // worth handing to the decoder
    Lies,         // claims more pixel bytes than the record carries, or a broken header
    OutOfLimits,  // a real picture, but larger than this program draws from one record
};

// Pixels a DIB's header claims (0 when the header cannot be read), and what decoding one of
// them costs in the units of WorkMeter: the decoder's pass, the colour look-up and the copy
// into the drawing surface.
std::uint64_t DibPixelCount(std::span<const std::uint8_t> info);
inline constexpr double kCostDecodePixel = 15;

// Checks a DIB's header against the bytes that carry its pixels.
DibVerdict CheckDib(std::span<const std::uint8_t> info, std::size_t bitsSize);

// Splits a packed DIB (header, colour table, pixels in one run, as 16-bit records carry it)
// into its info part and its pixel part; nullopt when the header does not fit. With
// `paletteIndexes` the colour table holds 16-bit palette indexes instead of colours.
struct PackedDibParts {
    std::span<const std::uint8_t> info;
    std::span<const std::uint8_t> bits;
};
std::optional<PackedDibParts> SplitPackedDib(std::span<const std::uint8_t> dib,
                                             bool paletteIndexes = false);

// A copy of the info part whose height says at most `lines` rows, for records that carry
// only some scan lines of a taller bitmap.
std::vector<std::uint8_t> LimitDibHeight(std::span<const std::uint8_t> info, std::uint32_t lines);

class MetafileImage {
  public:
    // Decodes the info header (with its colour table) and the bits through the program's
    // DIB decoder. With `useAlpha`, a 32-bit image keeps its fourth byte as premultiplied
    // alpha (as a blend with per-pixel alpha expects); otherwise the image is opaque.
    // Null when the DIB is damaged, larger than its bytes allow, or beyond the drawing
    // limits.
    static std::shared_ptr<const MetafileImage> FromDib(std::span<const std::uint8_t> info,
                                                        std::span<const std::uint8_t> bits,
                                                        bool useAlpha);
    // The same image with every pixel of colour `rgb` (0x00RRGGBB) made transparent.
    std::shared_ptr<const MetafileImage> WithTransparentColour(std::uint32_t rgb) const;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Premultiplied ARGB32.
    cairo_surface_t* Surface() const { return surface_.get(); }
    // Whether the DIB's rows run bottom-up (a positive height), which decides where the
    // source rectangles of some records are measured from.
    bool BottomUp() const { return bottomUp_; }

  private:
    SurfacePtr surface_;
    int width_ = 0;
    int height_ = 0;
    bool bottomUp_ = true;
};

// Images decoded for one picture, kept while it is drawn tile by tile so that each is decoded
// once, within a memory budget (an image that does not fit is decoded again per tile, and
// charged again). Keys are the positions of the record's bytes in the file's data, which
// outlives the cache.
class ImageCache {
  public:
    explicit ImageCache(std::uint64_t byteBudget = 0) : budget_(byteBudget) {}

    // The image of a DIB: `info` (perhaps a patched copy of the header at `keyInfo`) and
    // `bits`; `lines` tells such copies apart. Charges `meter` for decoding unless the
    // image is kept already. Null when the DIB cannot be decoded.
    std::shared_ptr<const MetafileImage> Decode(std::span<const std::uint8_t> info,
                                                const std::uint8_t* keyInfo,
                                                std::span<const std::uint8_t> bits, bool useAlpha,
                                                std::uint32_t lines, WorkMeter& meter);

  private:
    using Key =
        std::tuple<const std::uint8_t*, const std::uint8_t*, std::size_t, bool, std::uint32_t>;
    std::map<Key, std::shared_ptr<const MetafileImage>> images_;
    std::uint64_t budget_;
    std::uint64_t used_ = 0;
};

// The largest image a record may carry before decoding is refused: cairo's own side limit
// and a pixel budget that keeps one record's memory modest.
inline constexpr int kMaxRecordImageSide = 32767;
inline constexpr std::uint64_t kMaxRecordImagePixels = std::uint64_t{1} << 26;

}  // namespace ozm::metafile
