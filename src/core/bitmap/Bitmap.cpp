#include "core/bitmap/Bitmap.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "core/bitmap/RowsAs24.h"
#include "core/parallel/OrderedBands.h"

namespace ozm {

bool IsValidBitCount(int bitCount) {
    switch (bitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            return true;
        default:
            return false;
    }
}

std::optional<std::size_t> RowStride(std::int64_t width, int bitCount) {
    if (width < 0 || bitCount <= 0 || bitCount > 32) return std::nullopt;
    // width < 2^31 and bitCount <= 32 keep the product below 2^36: no overflow in 64 bits.
    if (width > INT32_MAX) return std::nullopt;
    const std::uint64_t bits = static_cast<std::uint64_t>(width) * static_cast<unsigned>(bitCount);
    const std::uint64_t stride = ((bits + 31) / 32) * 4;
    if (stride > (std::uint64_t{1} << 31)) return std::nullopt;
    return static_cast<std::size_t>(stride);
}

bool IsAcceptableImageSize(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return false;
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <=
           kMaxImagePixels;
}

std::string ImageSizeReason(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) {
        return "image has no pixels: " + std::to_string(width) + " x " + std::to_string(height);
    }
    return "image too large: " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, limit " + std::to_string(kMaxImagePixels / 1000000) + " megapixels";
}

std::string CurrentExceptionReason() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unexpected failure";
    }
}

bool Refuse(std::string* reason, std::string_view text) {
    if (reason && reason->empty()) *reason = text;
    return false;
}

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Pixel memory from malloc, so that large blocks can be aligned for 2 MiB pages. Zeroed
// memory comes from calloc, which takes fresh (already zero) pages without touching them.
std::uint8_t* AllocatePixels(std::size_t size, bool zeroFill) {
    if (zeroFill) return static_cast<std::uint8_t*>(std::calloc(size, 1));
    if (size < 4 * kHugePage) return static_cast<std::uint8_t*>(std::malloc(size));
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p) ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint; ignored where not offered
    return static_cast<std::uint8_t*>(p);
}

}  // namespace

void Bitmap::FreeDeleter::operator()(std::uint8_t* p) const { std::free(p); }

Bitmap::Bitmap(const Bitmap& other) { *this = other; }

Bitmap& Bitmap::operator=(const Bitmap& other) {
    if (this == &other) return *this;
    Clear();
    if (other.data_) {
        data_.reset(AllocatePixels(other.DataSize(), false));
        if (!data_) throw std::bad_alloc();
        std::memcpy(data_.get(), other.data_.get(), other.DataSize());
    }
    width_ = other.width_;
    height_ = other.height_;
    bitCount_ = other.bitCount_;
    stride_ = other.stride_;
    palette_ = other.palette_;
    return *this;
}

void Bitmap::Clear() {
    data_.reset();
    palette_.clear();
    width_ = height_ = bitCount_ = 0;
    stride_ = 0;
}

bool Bitmap::Create(int width, int height, int bitCount, bool zeroFill) {
    // Pixels of the same byte size are kept when their content does not matter: a batch of
    // same-sized photos then reuses one block instead of faulting in fresh pages each time.
    const std::optional<std::size_t> reusable =
        zeroFill || !data_ ? std::nullopt : std::optional<std::size_t>(DataSize());
    std::unique_ptr<std::uint8_t[], FreeDeleter> kept;
    if (reusable) kept = std::move(data_);
    Clear();
    if (!IsValidBitCount(bitCount) || width < 0 || height < 0) return false;
    if (width == 0 || height == 0) {
        width_ = width;
        height_ = height;
        bitCount_ = bitCount;
        stride_ = RowStride(width, bitCount).value_or(0);
        if (HasPalette()) palette_.assign(std::size_t{1} << bitCount, RgbQuad{});
        return true;
    }
    if (!IsAcceptableImageSize(width, height)) return false;
    const auto stride = RowStride(width, bitCount);
    if (!stride) return false;
    const std::size_t size = *stride * static_cast<std::size_t>(height);
    if (reusable == size) {
        data_ = std::move(kept);
    } else {
        kept.reset();
        data_.reset(AllocatePixels(size, zeroFill));
    }
    if (!data_) return false;
    width_ = width;
    height_ = height;
    bitCount_ = bitCount;
    stride_ = *stride;
    if (HasPalette()) palette_.assign(std::size_t{1} << bitCount, RgbQuad{});
    return true;
}

void Bitmap::NarrowTo24InPlace() {
    if (bitCount_ != 32) return;
    const std::size_t stride = RowStride(width_, 24).value_or(0);
    // Row y moves to y * stride and pixel x within it to 3x: never past a byte not yet read.
    std::uint8_t* base = data_.get();
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* in = base + stride_ * static_cast<std::size_t>(y);
        std::uint8_t* out = base + stride * static_cast<std::size_t>(y);
        for (int x = 0; x < width_; ++x, in += 4, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
        std::memset(out, 0, stride - static_cast<std::size_t>(width_) * 3);
    }
    // Only whole pages inside the block: the bytes after it may be the allocator's.
    constexpr std::uintptr_t kPage = 4096;
    const auto start = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t from = (start + stride * std::size_t(height_) + kPage - 1) / kPage * kPage;
    const std::uintptr_t end = (start + DataSize()) / kPage * kPage;
    if (base && from + (std::uintptr_t{1} << 20) <= end) {
        ::madvise(reinterpret_cast<void*>(from), end - from, MADV_DONTNEED);
    }
    stride_ = stride;
    bitCount_ = 24;
}

std::uint8_t Bitmap::IndexAt(int x, int y) const {
    const std::uint8_t* row = Row(y);
    switch (bitCount_) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        default:
            return row[x];
    }
}

RgbQuad Bitmap::PixelAt(int x, int y) const {
    const std::uint8_t* row = Row(y);
    switch (bitCount_) {
        case 1:
        case 4:
        case 8: {
            const std::uint8_t i = IndexAt(x, y);
            if (i >= palette_.size()) return RgbQuad{};
            RgbQuad q = palette_[i];
            q.reserved = 0;
            return q;
        }
        case 16: {
            const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
            return RgbQuad{Expand5To8(v & 31), Expand5To8((v >> 5) & 31),
                           Expand5To8((v >> 10) & 31), 0};
        }
        case 24:
            return RgbQuad{row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
        case 32:
            return RgbQuad{row[4 * x], row[4 * x + 1], row[4 * x + 2], 0};
        default:
            return RgbQuad{};
    }
}

bool operator==(const Bitmap& a, const Bitmap& b) {
    if (a.width_ != b.width_ || a.height_ != b.height_ || a.bitCount_ != b.bitCount_) return false;
    if (a.palette_ != b.palette_) return false;
    // Compare pixels only, not the padding bytes at the end of each row.
    const std::size_t used = (static_cast<std::size_t>(a.width_) * a.bitCount_ + 7) / 8;
    const int tailBits = static_cast<int>((static_cast<std::size_t>(a.width_) * a.bitCount_) % 8);
    for (int y = 0; y < a.height_; ++y) {
        const std::uint8_t* ra = a.Row(y);
        const std::uint8_t* rb = b.Row(y);
        if (tailBits == 0) {
            if (std::memcmp(ra, rb, used) != 0) return false;
        } else {
            if (used > 1 && std::memcmp(ra, rb, used - 1) != 0) return false;
            const std::uint8_t mask = static_cast<std::uint8_t>(0xFF << (8 - tailBits));
            if ((ra[used - 1] & mask) != (rb[used - 1] & mask)) return false;
        }
    }
    return true;
}

void SetGreyPalette(std::vector<RgbQuad>& palette, int levels) {
    palette.resize(static_cast<std::size_t>(levels));
    for (int i = 0; i < levels; ++i) {
        const auto v = static_cast<std::uint8_t>(i * 255 / (levels - 1));
        palette[static_cast<std::size_t>(i)] = RgbQuad{v, v, v, 0};
    }
}

bool ConvertTo24(const Bitmap& src, Bitmap& dst, int threads) {
    if (&src == &dst) return ConvertTo24InPlace(dst, threads);
    if (!dst.Create(src.Width(), src.Height(), 24, false)) return false;
    // A bitmap with a side of 0 has no pixel memory at all.
    if (src.Empty()) return true;
    const std::size_t used = static_cast<std::size_t>(src.Width()) * 3;
    const RowsAs24 rows(src, ChannelOrder::Bgr);
    // Pieces of about 1 MiB of output rows, each converted straight into place.
    const std::size_t rowsPerPiece =
        std::max<std::size_t>(1, (std::size_t{1} << 20) / dst.Stride());
    const std::size_t height = static_cast<std::size_t>(src.Height());
    BandRun run;
    run.count = (height + rowsPerPiece - 1) / rowsPerPiece;
    run.threads = threads;
    return RunBandsInOrder(
        run,
        [&](std::size_t piece, std::size_t) {
            const std::size_t last = std::min(height, (piece + 1) * rowsPerPiece);
            for (std::size_t y = piece * rowsPerPiece; y < last; ++y) {
                std::uint8_t* out = dst.Row(static_cast<int>(y));
                rows.CopyRow(static_cast<int>(y), out);
                // Padding bytes are defined so that written files never carry stale memory.
                std::memset(out + used, 0, dst.Stride() - used);
            }
            return true;
        },
        [](std::size_t, std::size_t) { return true; });
}

bool ConvertTo24InPlace(Bitmap& bitmap, int threads) {
    if (bitmap.BitCount() == 24) return true;
    Bitmap out;
    if (!ConvertTo24(bitmap, out, threads)) return false;
    bitmap = std::move(out);
    return true;
}

}  // namespace ozm
