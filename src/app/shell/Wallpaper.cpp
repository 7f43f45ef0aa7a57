#include "app/shell/Wallpaper.h"

#include <cstdint>
#include <exception>
#include <system_error>

#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/transforms/Resize.h"
#include "platform/SpecialFolders.h"

namespace ozm {

namespace {

// numerator / denominator rounded to the nearest integer, halves to the even neighbour;
// exact in integers, so 1365.5 and 1366.5 both give 1366.
std::int64_t RoundHalfEven(std::int64_t numerator, std::int64_t denominator) {
    std::int64_t quotient = numerator / denominator;
    const std::int64_t twiceRest = 2 * (numerator % denominator);
    if (twiceRest > denominator || (twiceRest == denominator && (quotient & 1) != 0)) ++quotient;
    return quotient;
}

int AtLeastOne(std::int64_t side) { return side < 1 ? 1 : static_cast<int>(side); }

}  // namespace

FittedSize FitShrink(int width, int height, int screenWidth, int screenHeight) {
    const std::int64_t w = width, h = height, sw = screenWidth, sh = screenHeight;
    if (w < 1 || h < 1 || sw < 1 || sh < 1) return {width, height};
    if (h < sh && w < sw) return {width, height};
    if (h < sh || (w >= sw && w * sh >= sw * h)) {
        return {screenWidth, AtLeastOne(RoundHalfEven(h * sw, w))};
    }
    return {AtLeastOne(RoundHalfEven(w * sh, h)), screenHeight};
}

FittedSize FitCover(int width, int height, int screenWidth, int screenHeight) {
    const std::int64_t w = width, h = height, sw = screenWidth, sh = screenHeight;
    if (w < 1 || h < 1 || sw < 1 || sh < 1) return {width, height};
    if (sw * h > w * sh) {
        const std::int64_t fittedHeight = RoundHalfEven(sw * h, w);
        if (fittedHeight > 9999) return {width, height};
        return {screenWidth, AtLeastOne(fittedHeight)};
    }
    const std::int64_t fittedWidth = RoundHalfEven(sh * w, h);
    if (fittedWidth > 9999) return {width, height};
    return {AtLeastOne(fittedWidth), screenHeight};
}

std::filesystem::path WallpaperFile() {
    return DataHome() / "ozm-imgconv" / std::string(kWallpaperFileName);
}

std::string SetWallpaper(const std::string& file, WallpaperPlacement placement, int screenWidth,
                         int screenHeight, const std::filesystem::path& wallpaperFile,
                         DesktopWallpaper& setter, ProfileFile& profile) {
    if (!IsSupportedImageFile(file)) return std::string(kNoSupportImageMessage);
    Bitmap bitmap;
    if (!ReadImageFile(file, bitmap)) return std::string(kNoSupportImageMessage);
    const WallpaperPlacementInfo& info = kWallpaperPlacements[static_cast<int>(placement)];
    try {
        const FittedSize size =
            info.cover ? FitCover(bitmap.Width(), bitmap.Height(), screenWidth, screenHeight)
                       : FitShrink(bitmap.Width(), bitmap.Height(), screenWidth, screenHeight);
        Bitmap fitted;
        if (!PointSampleTo24(bitmap, fitted, size.width, size.height)) return {};
        std::error_code ec;
        std::filesystem::create_directories(wallpaperFile.parent_path(), ec);
        // The writer puts the finished file in place with one rename.
        if (!WriteImageFile(fitted, wallpaperFile, FormatCode::Bmp)) return {};
        setter.Apply(wallpaperFile, placement);
        profile.WriteString(kDesktopSection, "Wallpaper", wallpaperFile.string());
        profile.WriteString(kDesktopSection, "WallpaperStyle", info.wallpaperStyle);
        profile.WriteString(kDesktopSection, "TileWallpaper", info.tileWallpaper);
    } catch (const std::exception&) {
        // Failures after the image was read are not reported; the program ends as usual.
    }
    return {};
}

}  // namespace ozm
