#include "core/formats/raster/WebpCodec.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/bitmap/RowsAs24.h"

namespace ozm {

namespace {

constexpr int kMaxWebpSide = 16383;

struct DemuxFree {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};

// Blends a 32-bit BGRA bitmap onto the background (when there is one) and drops the alpha,
// all in its own memory.
void FinishBgra(Bitmap& out, const std::optional<RgbQuad>& background) {
    if (background) {
        const unsigned blue = background->blue, green = background->green, red = background->red;
        for (int y = 0; y < out.Height(); ++y) {
            std::uint8_t* p = out.Row(y);
            for (int x = 0; x < out.Width(); ++x, p += 4) {
                const unsigned a = p[3];
                if (a == 255) continue;  // opaque: the colour stays
                p[0] = BlendOnto(p[0], a, blue);
                p[1] = BlendOnto(p[1], a, green);
                p[2] = BlendOnto(p[2], a, red);
            }
        }
    }
    out.NarrowTo24InPlace();
}

// The first frame of an animation as the animation decoder shows it: a transparent canvas
// with the frame's pixels put in place (the first frame is never blended). Done here rather
// than by that decoder, which holds two canvases of 4 bytes a pixel (2 GiB for the largest
// canvas a header of a few bytes may declare) before it reads a frame; here the canvas size
// is checked first and the memory is at most 4 bytes a canvas pixel.
bool DecodeFirstFrame(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason,
                      const std::optional<RgbQuad>& background) {
    const WebPData whole{data.data(), data.size()};
    std::unique_ptr<WebPDemuxer, DemuxFree> demux(WebPDemux(&whole));
    if (!demux) return Refuse(reason, "damaged WebP data");
    const int w = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
    const int h = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
    if (!IsAcceptableImageSize(w, h)) return Refuse(reason, ImageSizeReason(w, h));
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demux.get(), 1, &frame)) return Refuse(reason, "damaged WebP data");
    const int fw = frame.width, fh = frame.height, fx = frame.x_offset, fy = frame.y_offset;
    const WebPData bits = frame.fragment;
    WebPDemuxReleaseIterator(&frame);
    if (fw <= 0 || fh <= 0 || fx < 0 || fy < 0 || fw > w - fx || fh > h - fy) {
        return Refuse(reason, "damaged WebP data");
    }
    // A frame that covers most of the canvas is decoded into it (4 bytes a pixel); a smaller
    // one on its own, then put onto a 24-bit canvas (3 bytes a pixel, plus 4 for the frame's).
    if (4 * std::uint64_t(fw) * std::uint64_t(fh) > std::uint64_t(w) * std::uint64_t(h)) {
        if (!out.Create(w, h, 32, true)) return Refuse(reason, "out of memory");
        std::uint8_t* at = out.Row(fy) + std::size_t(fx) * 4;
        const std::size_t room = out.DataSize() - static_cast<std::size_t>(at - out.Data());
        if (!WebPDecodeBGRAInto(bits.bytes, bits.size, at, room, static_cast<int>(out.Stride()))) {
            out.Clear();
            return Refuse(reason, "damaged WebP data");
        }
        FinishBgra(out, background);
        return true;
    }
    Bitmap pixels;
    if (!pixels.Create(fw, fh, 32, false)) return Refuse(reason, "out of memory");
    if (!WebPDecodeBGRAInto(bits.bytes, bits.size, pixels.Data(), pixels.DataSize(),
                            static_cast<int>(pixels.Stride()))) {
        return Refuse(reason, "damaged WebP data");
    }
    FinishBgra(pixels, background);
    if (!out.Create(w, h, 24, !background)) return Refuse(reason, "out of memory");
    if (background) {
        // Outside the frame the canvas is transparent: the background itself shows. One row
        // is made pixel by pixel and copied to the others (a canvas may hold 2^28 pixels).
        const std::uint8_t shown[3] = {background->blue, background->green, background->red};
        const std::size_t used = std::size_t(w) * 3;
        std::uint8_t* first = out.Row(0);
        for (std::size_t i = 0; i < used; i += 3) std::memcpy(first + i, shown, 3);
        std::memset(first + used, 0, out.Stride() - used);
        for (int y = 1; y < h; ++y) std::memcpy(out.Row(y), first, out.Stride());
    }
    for (int y = 0; y < fh; ++y) {
        std::memcpy(out.Row(fy + y) + std::size_t(fx) * 3, pixels.Row(y), std::size_t(fw) * 3);
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

struct MemoryWriterFree {
    void operator()(WebPMemoryWriter* w) const { WebPMemoryWriterClear(w); }
};

struct MuxFree {
    void operator()(WebPMux* m) const { WebPMuxDelete(m); }
};

// The encoded picture `image` with the metadata's ICCP and EXIF chunks (and the extended
// header that announces them), written to `file`.
bool WriteWithMetadata(const WebPMemoryWriter& image, const PhotoMetadata& metadata,
                       std::FILE* file) {
    const WebPData bitstream{image.mem, image.size};
    std::unique_ptr<WebPMux, MuxFree> mux(WebPMuxCreate(&bitstream, 0));
    if (!mux) return false;
    const WebPData icc{metadata.icc.data(), metadata.icc.size()};
    const WebPData exif{metadata.exif.data(), metadata.exif.size()};
    if (icc.size > 0 && WebPMuxSetChunk(mux.get(), "ICCP", &icc, 0) != WEBP_MUX_OK) return false;
    if (exif.size > 0 && WebPMuxSetChunk(mux.get(), "EXIF", &exif, 0) != WEBP_MUX_OK) return false;
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) return false;
    const bool ok = std::fwrite(assembled.bytes, 1, assembled.size, file) == assembled.size;
    WebPDataClear(&assembled);
    return ok;
}

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
    if (!out.Create(w, h, 32, false)) return Refuse(reason, "out of memory");
    if (!WebPDecodeBGRAInto(data.data(), data.size(), out.Data(), out.DataSize(),
                            static_cast<int>(out.Stride()))) {
        out.Clear();
        return Refuse(reason, "damaged WebP data");
    }
    FinishBgra(out, background);
    return true;
}

bool EncodeWebp(const Bitmap& bitmap, std::FILE* file, int quality, bool lossless,
                const PhotoMetadata* metadata) {
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
    if (!metadata || metadata->Empty()) {
        picture->writer = WriteToFile;
        picture->custom_ptr = file;
        return WebPEncode(&config, picture.get()) != 0;
    }
    // The chunks are put around the picture once it is coded, so it is coded into memory.
    WebPMemoryWriter memoryStorage;
    WebPMemoryWriterInit(&memoryStorage);
    std::unique_ptr<WebPMemoryWriter, MemoryWriterFree> memory(&memoryStorage);
    picture->writer = WebPMemoryWrite;
    picture->custom_ptr = memory.get();
    return WebPEncode(&config, picture.get()) != 0 && WriteWithMetadata(*memory, *metadata, file);
}

}  // namespace ozm
