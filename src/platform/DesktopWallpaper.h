#pragma once
// Making a picture file the desktop's wallpaper, with the setter of the desktop the session
// runs (XDG_CURRENT_DESKTOP): GNOME and Cinnamon through gsettings, MATE through its own
// gsettings keys, XFCE through xfconf (every monitor and workspace), KDE Plasma through a
// shell script, and feh for any other session or when the desktop's own setter cannot run.
// The setters are started from argument lists (no shell) and waited for, at most a few
// seconds each.

#include <filesystem>
#include <string_view>

namespace ozm {

// The four placements, as the menu's tags give them.
enum class WallpaperPlacement { Centre = 0, Tile = 1, BestPosition = 2, Cover = 3 };

enum class DesktopKind { Gnome, Cinnamon, Mate, Xfce, Kde, Other };

// The desktop an XDG_CURRENT_DESKTOP value (a ":"-separated list) names; Other when none is
// known.
DesktopKind DesktopFromEnvironment(std::string_view currentDesktop);

class DesktopWallpaper {
  public:
    virtual ~DesktopWallpaper() = default;
    // True when a setter ran and reported success.
    virtual bool Apply(const std::filesystem::path& file, WallpaperPlacement placement) = 0;
};

class SystemDesktopWallpaper : public DesktopWallpaper {
  public:
    // The desktop is read from XDG_CURRENT_DESKTOP at each Apply.
    bool Apply(const std::filesystem::path& file, WallpaperPlacement placement) override;
};

}  // namespace ozm
