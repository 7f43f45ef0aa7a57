#include "core/formats/raster/WebpCodec.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/bitmap/RowsAs24.h"

namespace ozm {

namespace {

constexpr int kMaxWebpSide = 16383;

struct AnimDecoderFree {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

// Copies (or blends) 4-byte BGRA pixels into a 24-bit row.
void StoreRow(const std::uint8_t* bgra, std::uint8_t* out, int width,
              const std::optional<RgbQuad>& background) {
    for (int x = 0; x < width; ++x, bgra += 4, out += 3) {
        if (background) {
            out[0] = BlendOnto(bgra[0], bgra[3], background->blue);
            out[1] = BlendOnto(bgra[1], bgra[3], background->green);
            out[2] = BlendOnto(bgra[2], bgra[3], background->red);
        } else {
            out[0] = bgra[0];
            out[1] = bgra[1];
            out[2] = bgra[2];
        }
    }
}

bool DecodeFirstFrame(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason,
                      const std::optional<RgbQuad>& background) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return Refuse(reason, "damaged WebP data");
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData whole{data.data(), data.size()};
    std::unique_ptr<WebPAnimDecoder, AnimDecoderFree> decoder(WebPAnimDecoderNew(&whole, &options));
    if (!decoder) return Refuse(reason, "damaged WebP data");
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info)) return Refuse(reason, "damaged WebP data");
    const int w = static_cast<int>(info.canvas_width), h = static_cast<int>(info.canvas_height);
    if (!IsAcceptableImageSize(w, h)) return Refuse(reason, ImageSizeReason(w, h));
    std::uint8_t* frame = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp) || frame == nullptr) {
        return Refuse(reason, "damaged WebP data");
    }
    if (!out.Create(w, h, 24, true)) return Refuse(reason, "out of memory");
    for (int y = 0; y < h; ++y) {
        StoreRow(frame + std::size_t(y) * std::size_t(w) * 4, out.Row(y), w, background);
    }
    return true;
}

int WriteToFile(const std::uint8_t* data, std::size_t size, const WebPPicture* picture) {
    auto* file = static_cast<std::FILE*>(picture->custom_ptr);
    return std::fwrite(data, 1, size, file) == size ? 1 : 0;
}

struct PictureFree {
    void operator()(WebPPicture* p) const { WebPPictureFree(p); }
};

}  // namespace

bool DecodeWebp(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason,
                std::optional<RgbQuad> background) {
    if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0 ||
        std::memcmp(data.data() + 8, "WEBP", 4) != 0) {
        return Refuse(reason, "not a WebP file");
    }
    WebPBitstreamFeatures features;
    switch (WebPGetFeatures(data.data(), data.size(), &features)) {
        case VP8_STATUS_OK:
            break;
        case VP8_STATUS_NOT_ENOUGH_DATA:
            return Refuse(reason, "truncated image data");
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            return Refuse(reason, "unsupported WebP feature");
        default:
            return Refuse(reason, "damaged WebP data");
    }
    if (features.has_animation) return DecodeFirstFrame(data, out, reason, background);
    const int w = features.width, h = features.height;
    if (!IsAcceptableImageSize(w, h)) return Refuse(reason, ImageSizeReason(w, h));
    const bool blend = background && features.has_alpha;
    // Every side fits the pixel limit (16384 x 16384 is 2^28), so a small file may announce
    // a huge picture: the memory is reserved but not touched, and a decode that fails early
    // uses little of it.
    if (!blend) {
        if (!out.Create(w, h, 24, false)) return Refuse(reason, "out of memory");
        if (!WebPDecodeBGRInto(data.data(), data.size(), out.Data(), out.DataSize(),
                               static_cast<int>(out.Stride()))) {
            out.Clear();
            return Refuse(reason, "damaged WebP data");
        }
        // Row padding cleared, so that a re-encoded BMP carries no stale memory.
        const std::size_t used = std::size_t(w) * 3;
        for (int y = 0; y < h && out.Stride() > used; ++y)
            std::memset(out.Row(y) + used, 0, out.Stride() - used);
        return true;
    }
    const std::size_t bytes = std::size_t(w) * std::size_t(h) * 4;
    std::unique_ptr<std::uint8_t[]> bgra(new (std::nothrow) std::uint8_t[bytes]);
    if (!bgra) return Refuse(reason, "out of memory");
    if (!WebPDecodeBGRAInto(data.data(), data.size(), bgra.get(), bytes, w * 4)) {
        return Refuse(reason, "damaged WebP data");
    }
    if (!out.Create(w, h, 24, true)) return Refuse(reason, "out of memory");
    for (int y = 0; y < h; ++y) {
        StoreRow(bgra.get() + std::size_t(y) * std::size_t(w) * 4, out.Row(y), w, background);
    }
    return true;
}

bool EncodeWebp(const Bitmap& bitmap, std::FILE* file, int quality, bool lossless) {
    const int w = bitmap.Width(), h = bitmap.Height();
    if (bitmap.Empty() || w > kMaxWebpSide || h > kMaxWebpSide) return false;
    WebPConfig config;
    if (!WebPConfigInit(&config)) return false;
    config.quality = static_cast<float>(std::clamp(quality, 0, 100));
    config.lossless = lossless ? 1 : 0;
    if (!WebPValidateConfig(&config)) return false;
    WebPPicture storage;
    if (!WebPPictureInit(&storage)) return false;
    std::unique_ptr<WebPPicture, PictureFree> picture(&storage);
    picture->width = w;
    picture->height = h;
    picture->use_argb = lossless ? 1 : 0;
    // 24-bit rows go in as they are; every other depth through a packed copy.
    if (bitmap.BitCount() == 24) {
        if (!WebPPictureImportBGR(picture.get(), bitmap.Data(), static_cast<int>(bitmap.Stride())))
            return false;
    } else {
        RowsAs24 rows(bitmap, ChannelOrder::Bgr);
        std::vector<std::uint8_t> packed(std::size_t(w) * std::size_t(h) * 3);
        for (int y = 0; y < h; ++y) rows.CopyRow(y, packed.data() + std::size_t(y) * w * 3);
        if (!WebPPictureImportBGR(picture.get(), packed.data(), w * 3)) return false;
    }
    picture->writer = WriteToFile;
    picture->custom_ptr = file;
    return WebPEncode(&config, picture.get()) != 0;
}

}  // namespace ozm
