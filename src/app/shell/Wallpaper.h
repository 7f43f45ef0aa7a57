#pragma once
// "设置为墙纸": the first file of the quick conversion fitted to the screen, saved as the one
// wallpaper bitmap and handed to the desktop's setter; the three values a wallpaper is
// described by are recorded in the settings file, section "Desktop".

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/convert/ProfileFile.h"
#include "platform/DesktopWallpaper.h"

namespace ozm {

inline constexpr std::string_view kNoSupportImageMessage = "No support image type.";
inline constexpr std::string_view kWallpaperFileName = "Wallpaper1.bmp";
inline constexpr std::string_view kDesktopSection = "Desktop";

struct WallpaperPlacementInfo {
    std::string_view caption;
    WallpaperPlacement placement;  // the entry's tag
    std::string_view wallpaperStyle;
    std::string_view tileWallpaper;
    bool cover;  // cover the screen; otherwise shrink to fit
};

inline constexpr std::array<WallpaperPlacementInfo, 4> kWallpaperPlacements = {{
    {"居中", WallpaperPlacement::Centre, "0", "0", false},
    {"平铺", WallpaperPlacement::Tile, "0", "1", false},
    {"桌面最佳位置", WallpaperPlacement::BestPosition, "2", "0", false},
    {"最佳适合桌面", WallpaperPlacement::Cover, "0", "0", true},
}};

struct FittedSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const FittedSize&, const FittedSize&) = default;
};

// Shrink to fit a screen of W x H: keeps the aspect ratio and never enlarges. Rounding is to
// the nearest integer with halves to the even neighbour; a side is at least 1.
FittedSize FitShrink(int width, int height, int screenWidth, int screenHeight);

// Cover a screen of W x H: keeps the aspect ratio, may enlarge. A computed side above 9999
// leaves the image's own size; a side is at least 1.
FittedSize FitCover(int width, int height, int screenWidth, int screenHeight);

// $XDG_DATA_HOME/ozm-imgconv/Wallpaper1.bmp.
std::filesystem::path WallpaperFile();

// Fits `file` to the screen, replaces `wallpaperFile` with it (atomically: a desktop reading
// it never sees half a file), applies it and records "Wallpaper", "WallpaperStyle" and
// "TileWallpaper". Returns the message to show: "No support image type." for a file that is
// not a supported image or cannot be read (nothing is changed then), else empty. Failures
// while fitting, saving or applying are not reported.
std::string SetWallpaper(const std::string& file, WallpaperPlacement placement, int screenWidth,
                         int screenHeight, const std::filesystem::path& wallpaperFile,
                         DesktopWallpaper& setter, ProfileFile& profile);

}  // namespace ozm
