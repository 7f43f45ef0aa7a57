#include "core/formats/raster/PngOnto.h"

#include <png.h>

#include <cstring>
#include <memory>
#include <new>

#include "core/formats/raster/PngCodec.h"
#include "core/formats/raster/WebpCodec.h"

namespace ozm {

namespace {

// Frees libpng's reading state however the decode ends.
struct ImageGuard {
    png_image& image;
    ~ImageGuard() { png_image_free(&image); }
};

}  // namespace

bool DecodePngOnto(std::span<const std::uint8_t> data, Bitmap& out, RgbQuad background,
                   std::string* reason) {
    if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) {
        return Refuse(reason, "not a PNG file");
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ImageGuard guard{image};
    if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) {
        // The ordinary decoder gives the precise reason.
        return DecodePng(data, out, reason);
    }
    if ((image.format & PNG_FORMAT_FLAG_ALPHA) == 0) return DecodePng(data, out, reason);
    const int w = static_cast<int>(image.width), h = static_cast<int>(image.height);
    if (!IsAcceptableImageSize(w, h)) return Refuse(reason, ImageSizeReason(w, h));
    // 8-bit sRGB values with a straight (not premultiplied) alpha, blended here in the same
    // arithmetic as the other readers.
    image.format = PNG_FORMAT_BGRA;
    // Not cleared: a small file may announce a large picture, and untouched memory costs
    // nothing until the decode gets that far.
    const std::size_t bytes = std::size_t(w) * std::size_t(h) * 4;
    std::unique_ptr<std::uint8_t[]> bgra(new (std::nothrow) std::uint8_t[bytes]);
    if (!bgra) return Refuse(reason, "out of memory");
    if (!png_image_finish_read(&image, nullptr, bgra.get(), w * 4, nullptr)) {
        std::string text = image.message;
        return Refuse(reason, text.empty() ? "damaged PNG data" : "damaged PNG data: " + text);
    }
    if (!out.Create(w, h, 24, true)) return Refuse(reason, "out of memory");
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* p = bgra.get() + std::size_t(y) * std::size_t(w) * 4;
        std::uint8_t* o = out.Row(y);
        for (int x = 0; x < w; ++x, p += 4, o += 3) {
            o[0] = BlendOnto(p[0], p[3], background.blue);
            o[1] = BlendOnto(p[1], p[3], background.green);
            o[2] = BlendOnto(p[2], p[3], background.red);
        }
    }
    return true;
}

}  // namespace ozm
