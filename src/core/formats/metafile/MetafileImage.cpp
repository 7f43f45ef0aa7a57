#include "core/formats/metafile/MetafileImage.h"

#include <algorithm>
#include <cstdlib>

#include "core/bitmap/Bitmap.h"
#include "core/formats/metafile/MetafileRecords.h"
#include "core/formats/raster/BmpCodec.h"

namespace ozm::metafile {

namespace {

struct DibShape {
    std::int64_t width = 0;
    std::int64_t height = 0;  // signed: negative for top-down rows
    int bitCount = 0;
    std::uint32_t compression = kBiRgb;
};

std::optional<DibShape> ReadDibShape(std::span<const std::uint8_t> info) {
    const RecordReader r(info);
    if (!r.Has(0, 4)) return std::nullopt;
    const std::uint32_t headerSize = r.U32(0);
    DibShape s;
    if (headerSize == 12) {
        if (!r.Has(0, 12)) return std::nullopt;
        s.width = r.U16(4);
        s.height = r.U16(6);
        s.bitCount = r.U16(10);
    } else if (headerSize >= 40) {
        if (!r.Has(0, 40)) return std::nullopt;
        s.width = r.I32(4);
        s.height = r.I32(8);
        s.bitCount = r.U16(14);
        s.compression = r.U32(16);
    } else {
        return std::nullopt;
    }
    return s;
}

// Checks the claimed size against the drawing limits and against the bytes that carry it.
bool DibFitsItsBytes(const DibShape& s, std::size_t bitsSize) {
    const std::int64_t h = std::llabs(s.height);
    if (s.width <= 0 || h <= 0 || s.width > kMaxRecordImageSide || h > kMaxRecordImageSide) {
        return false;
    }
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(s.width) * static_cast<std::uint64_t>(h);
    if (pixels > kMaxRecordImagePixels) return false;
    if (s.compression == kBiRgb || s.compression == kBiBitfields) {
        const auto stride = RowStride(s.width, s.bitCount);
        return stride &&
               static_cast<std::uint64_t>(*stride) * static_cast<std::uint64_t>(h) <= bitsSize;
    }
    if (s.compression == kBiRle8 || s.compression == kBiRle4) {
        // Run-length data can skip over blank areas, but a picture hundreds of times larger
        // than its bytes is not one a producer writes.
        return pixels <= std::max<std::uint64_t>(std::uint64_t{1} << 20,
                                                 static_cast<std::uint64_t>(bitsSize) * 512);
    }
    return true;
}

}  // namespace

std::uint64_t DibPixelCount(std::span<const std::uint8_t> info) {
    const auto shape = ReadDibShape(info);
    if (!shape || shape->width <= 0) return 0;
    return static_cast<std::uint64_t>(shape->width) *
           static_cast<std::uint64_t>(std::llabs(shape->height));
}

DibVerdict CheckDib(std::span<const std::uint8_t> info, std::size_t bitsSize) {
    const auto shape = ReadDibShape(info);
    if (!shape) return DibVerdict::Lies;
    const std::int64_t h = std::llabs(shape->height);
    if (shape->width <= 0 || h <= 0) return DibVerdict::Lies;
    if (shape->compression == kBiRgb || shape->compression == kBiBitfields) {
        const auto stride = RowStride(shape->width, shape->bitCount);
        if (!stride) return DibVerdict::Lies;
        const std::uint64_t need =
            static_cast<std::uint64_t>(*stride) * static_cast<std::uint64_t>(h);
        if (need > bitsSize) return DibVerdict::Lies;
    }
    return DibFitsItsBytes(*shape, bitsSize) ? DibVerdict::Usable : DibVerdict::OutOfLimits;
}

std::optional<PackedDibParts> SplitPackedDib(std::span<const std::uint8_t> dib,
                                             bool paletteIndexes) {
    const RecordReader r(dib);
    if (!r.Has(0, 4)) return std::nullopt;
    const std::uint32_t headerSize = r.U32(0);
    std::uint64_t colours = 0;
    std::uint64_t entry = 4;
    std::uint64_t masks = 0;
    if (headerSize == 12) {
        if (!r.Has(0, 12)) return std::nullopt;
        const int bitCount = r.U16(10);
        if (bitCount <= 8) colours = std::uint64_t{1} << bitCount;
        entry = 3;
    } else if (headerSize >= 40 && headerSize <= 1024) {
        if (!r.Has(0, 40)) return std::nullopt;
        const int bitCount = r.U16(14);
        const std::uint32_t compression = r.U32(16);
        const std::uint32_t used = r.U32(32);
        if (bitCount <= 8) {
            colours = used ? std::min<std::uint64_t>(used, std::uint64_t{1} << bitCount)
                           : std::uint64_t{1} << bitCount;
        } else {
            colours = std::min<std::uint64_t>(used, 256);
        }
        if (headerSize == 40 && (compression == kBiBitfields || compression == 6)) {
            masks = compression == 6 ? 16 : 12;
        }
    } else {
        return std::nullopt;
    }
    if (paletteIndexes) entry = 2;
    const std::uint64_t infoSize = headerSize + masks + colours * entry;
    if (infoSize > dib.size()) return std::nullopt;
    return PackedDibParts{dib.first(static_cast<std::size_t>(infoSize)),
                          dib.subspan(static_cast<std::size_t>(infoSize))};
}

std::vector<std::uint8_t> LimitDibHeight(std::span<const std::uint8_t> info, std::uint32_t lines) {
    std::vector<std::uint8_t> out(info.begin(), info.end());
    const RecordReader r(info);
    if (r.Has(0, 40) && r.U32(0) >= 40) {
        const std::int32_t h = r.I32(8);
        const std::int64_t kept = std::min<std::int64_t>(std::llabs(std::int64_t{h}), lines);
        const auto patched = static_cast<std::int32_t>(h < 0 ? -kept : kept);
        for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<std::uint8_t>(patched >> (8 * i));
    } else if (r.Has(0, 12) && r.U32(0) == 12) {
        const std::uint16_t kept =
            static_cast<std::uint16_t>(std::min<std::uint32_t>(r.U16(6), lines));
        out[6] = static_cast<std::uint8_t>(kept);
        out[7] = static_cast<std::uint8_t>(kept >> 8);
    }
    return out;
}

std::shared_ptr<const MetafileImage> MetafileImage::WithTransparentColour(std::uint32_t rgb) const {
    auto image = std::make_shared<MetafileImage>();
    image->width_ = width_;
    image->height_ = height_;
    image->bottomUp_ = bottomUp_;
    image->surface_ = MakeImageSurface(CAIRO_FORMAT_ARGB32, width_, height_);
    if (!image->surface_) return nullptr;
    cairo_surface_flush(surface_.get());
    cairo_surface_flush(image->surface_.get());
    const std::uint8_t* src = cairo_image_surface_get_data(surface_.get());
    std::uint8_t* dst = cairo_image_surface_get_data(image->surface_.get());
    const int srcStride = cairo_image_surface_get_stride(surface_.get());
    const int dstStride = cairo_image_surface_get_stride(image->surface_.get());
    for (int y = 0; y < height_; ++y) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(
            src + static_cast<std::ptrdiff_t>(srcStride) * y);
        auto* out =
            reinterpret_cast<std::uint32_t*>(dst + static_cast<std::ptrdiff_t>(dstStride) * y);
        for (int x = 0; x < width_; ++x) {
            out[x] = (in[x] >> 24) == 255 && (in[x] & 0xFFFFFF) == rgb ? 0 : in[x];
        }
    }
    cairo_surface_mark_dirty(image->surface_.get());
    return image;
}

std::shared_ptr<const MetafileImage> MetafileImage::FromDib(std::span<const std::uint8_t> info,
                                                            std::span<const std::uint8_t> bits,
                                                            bool useAlpha) {
    const auto shape = ReadDibShape(info);
    if (!shape || !DibFitsItsBytes(*shape, bits.size())) return nullptr;

    Bitmap decoded;
    if (!DecodeDib(info, bits, decoded) || decoded.Empty()) return nullptr;
    if (decoded.Width() > kMaxRecordImageSide || decoded.Height() > kMaxRecordImageSide) {
        return nullptr;
    }

    auto image = std::make_shared<MetafileImage>();
    image->width_ = decoded.Width();
    image->height_ = decoded.Height();
    image->bottomUp_ = shape->height > 0;
    image->surface_ = MakeImageSurface(CAIRO_FORMAT_ARGB32, image->width_, image->height_);
    if (!image->surface_) return nullptr;

    // The fourth byte of uncompressed 32-bit rows, read straight from the record, so the
    // alpha survives whatever the decoder does with that byte.
    const bool alphaFromBits = useAlpha && shape->bitCount == 32 &&
                               (shape->compression == kBiRgb || shape->compression == kBiBitfields);
    const std::size_t srcStride = static_cast<std::size_t>(shape->width) * 4;

    cairo_surface_t* s = image->surface_.get();
    cairo_surface_flush(s);
    std::uint8_t* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < image->height_; ++y) {
        auto* out =
            reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(stride) * y);
        const std::uint8_t* alphaRow = nullptr;
        if (alphaFromBits) {
            const int fileRow = image->bottomUp_ ? image->height_ - 1 - y : y;
            alphaRow = bits.data() + srcStride * static_cast<std::size_t>(fileRow);
        }
        for (int x = 0; x < image->width_; ++x) {
            const RgbQuad q = decoded.PixelAt(x, y);
            std::uint32_t a = 255, r = q.red, g = q.green, b = q.blue;
            if (alphaRow) {
                a = alphaRow[4 * x + 3];
                r = std::min(r, a);
                g = std::min(g, a);
                b = std::min(b, a);
            }
            out[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(s);
    return image;
}

std::shared_ptr<const MetafileImage> ImageCache::Decode(std::span<const std::uint8_t> info,
                                                        const std::uint8_t* keyInfo,
                                                        std::span<const std::uint8_t> bits,
                                                        bool useAlpha, std::uint32_t lines,
                                                        WorkMeter& meter) {
    const Key key{keyInfo, bits.data(), bits.size(), useAlpha, lines};
    if (const auto found = images_.find(key); found != images_.end()) return found->second;
    meter.Charge(double(DibPixelCount(info)) * kCostDecodePixel);
    auto image = MetafileImage::FromDib(info, bits, useAlpha);
    if (image) {
        const std::uint64_t bytes = std::uint64_t{4} * static_cast<std::uint64_t>(image->Width()) *
                                    static_cast<std::uint64_t>(image->Height());
        if (bytes <= budget_ - used_ && used_ <= budget_) {
            used_ += bytes;
            images_.emplace(key, image);
        }
    }
    return image;
}

}  // namespace ozm::metafile
