#pragma once
// The working bitmap: a device-independent raster in the layout every codec of this program
// shares. Rows are stored top first, each padded to a multiple of 4 bytes; pixels of 24 and
// 32 bits are blue, green, red (, unused) bytes; 16 bits is 5-5-5 (bit 15 unused) in a
// little-endian word; 1, 4 and 8 bits are palette indexes, the leftmost pixel in the highest
// bits of a byte.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ozm {

struct RgbQuad {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;
    friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};

// A decoded image may hold at most this many pixels (2^28: 1 GiB at 32 bits per pixel).
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 28;
// The largest side a format that stores 16-bit sizes can carry.
inline constexpr int kMaxSide16 = 65535;

// True for the depths the bitmap type holds: 1, 4, 8, 16, 24, 32.
bool IsValidBitCount(int bitCount);

// Bytes in one row of `width` pixels at `bitCount`, padded to 4; nullopt when the width is
// negative or the result would not fit comfortably (above 2^31).
std::optional<std::size_t> RowStride(std::int64_t width, int bitCount);

// True when width x height is a size a reader may allocate: both sides above 0 and the
// pixel count within kMaxImagePixels.
bool IsAcceptableImageSize(std::int64_t width, std::int64_t height);

// The reason given for a size IsAcceptableImageSize refuses:
// "image too large: 70000 x 70000 pixels, limit 268 megapixels" (or "... has no pixels").
std::string ImageSizeReason(std::int64_t width, std::int64_t height);

// Stores `text` in `*reason` when the caller asked for a reason and none was given yet, and
// returns false, so a refusal reads `return Refuse(reason, "not a PNG file");`.
bool Refuse(std::string* reason, std::string_view text);

// The reason to give for the exception being handled; call only inside a catch block.
// "out of memory", the exception's own text, or "unexpected failure" for anything else.
std::string CurrentExceptionReason();

class Bitmap {
  public:
    Bitmap() = default;
    Bitmap(const Bitmap& other);
    Bitmap& operator=(const Bitmap& other);
    Bitmap(Bitmap&&) noexcept = default;
    Bitmap& operator=(Bitmap&&) noexcept = default;

    // Replaces size, depth and content. Pixels are zero when `zeroFill`, else undefined: the
    // block already held is kept when it has the same byte size (decoders that write every
    // byte skip the clearing; large uncleared bitmaps are then
    // backed by 2 MiB pages where the system offers them, which saves most page faults). The
    // palette is resized to 2^bitCount black entries for palette depths and emptied otherwise.
    // Returns false, leaving the bitmap empty, when the size is outside the limits or the
    // memory cannot be had. A 0 x 0 bitmap is valid and empty.
    bool Create(int width, int height, int bitCount, bool zeroFill = true);
    void Clear();
    // Makes a 32-bit bitmap 24-bit in the memory it already has: each pixel's fourth byte is
    // dropped and the rows close up to the 24-bit stride, so the pixels are never held twice.
    // The memory left over at the end goes back to the system. Other depths stay as they are.
    void NarrowTo24InPlace();

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitCount() const { return bitCount_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    std::size_t Stride() const { return stride_; }
    std::size_t DataSize() const { return stride_ * static_cast<std::size_t>(height_); }

    std::uint8_t* Data() { return data_.get(); }
    const std::uint8_t* Data() const { return data_.get(); }
    std::uint8_t* Row(int y) { return data_.get() + stride_ * static_cast<std::size_t>(y); }
    const std::uint8_t* Row(int y) const {
        return data_.get() + stride_ * static_cast<std::size_t>(y);
    }

    // Palette of a 1-, 4- or 8-bit bitmap: at most 256 entries. A palette may be shorter
    // than 2^bitCount; pixel indexes past its end read as black.
    std::vector<RgbQuad>& Palette() { return palette_; }
    const std::vector<RgbQuad>& Palette() const { return palette_; }
    bool HasPalette() const { return bitCount_ <= 8 && bitCount_ > 0; }

    // Palette index of pixel x in row y of a 1-, 4- or 8-bit bitmap.
    std::uint8_t IndexAt(int x, int y) const;
    // Colour of pixel x, y at any depth (palette looked up; indexes past the palette give black).
    RgbQuad PixelAt(int x, int y) const;

    friend bool operator==(const Bitmap& a, const Bitmap& b);

  private:
    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    std::size_t stride_ = 0;
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t[], FreeDeleter> data_;
    std::vector<RgbQuad> palette_;
};

// Makes `palette` `levels` (2 to 256) greys from black to white, evenly spaced: entry i is
// i * 255 / (levels - 1). A palette that already has that many entries is not reallocated.
void SetGreyPalette(std::vector<RgbQuad>& palette, int levels);

// Brings any depth to 24 bits per pixel. `dst` may be `src`'s own object only through
// ConvertTo24InPlace. Returns false when memory cannot be had. Large bitmaps are converted on
// up to `threads` threads; the pixels do not depend on it.
bool ConvertTo24(const Bitmap& src, Bitmap& dst, int threads = 1);
bool ConvertTo24InPlace(Bitmap& bitmap, int threads = 1);

// Expands the 5-5-5 channel value (0..31) to 8 bits the way a display does: v << 3 | v >> 2.
inline std::uint8_t Expand5To8(unsigned v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

}  // namespace ozm
