#include "core/formats/raster/JpegPreview.h"

#include "core/formats/raster/JpegGlue.h"

namespace ozm {

namespace {

// A multi-scan file's coefficients are kept at full size whatever the output scale; a preview
// may take 256 MiB for them (a progressive colour photo of about 85 megapixels at 4:2:0), a
// full decode more.
constexpr std::uint64_t kMaxPreviewCoefficientBytes = std::uint64_t{256} << 20;

}  // namespace

bool ReadJpegSize(std::span<const std::uint8_t> data, int& width, int& height,
                  std::string* reason) {
    return DecodeJpegRequest(data, {}, nullptr, &width, &height, reason);
}

bool DecodeJpegScaled(std::span<const std::uint8_t> data, int denominator, Bitmap& out,
                      std::string* reason) {
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
        return Refuse(reason, "scale must be 1, 2, 4 or 8");
    return DecodeJpegRequest(data, {denominator, kMaxPreviewCoefficientBytes, false}, &out, nullptr,
                             nullptr, reason);
}

}  // namespace ozm
