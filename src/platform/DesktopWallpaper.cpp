#include "platform/DesktopWallpaper.h"

#include <cstdlib>

#include "platform/Processes.h"

namespace ozm {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string FileUri(const std::filesystem::path& file) {
    // Percent-encode everything but the unreserved characters and "/".
    static const char* hex = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : file.string()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

// The picture-options value of the GNOME family for a placement.
const char* GnomeOption(WallpaperPlacement placement) {
    switch (placement) {
        case WallpaperPlacement::Centre:
            return "centered";
        case WallpaperPlacement::Tile:
            return "wallpaper";
        case WallpaperPlacement::BestPosition:
            return "scaled";
        case WallpaperPlacement::Cover:
            return "zoom";
    }
    return "centered";
}

bool Ok(const std::vector<std::string>& argv) { return RunProgram(argv).status == 0; }

// Every setter first clears the picture and then sets it: a desktop that is told the same
// file name again would otherwise keep showing the old picture.
bool ApplyGsettings(const char* schema, const char* key, const std::string& value,
                    WallpaperPlacement placement, bool darkToo) {
    bool ok = Ok({"gsettings", "set", schema, "picture-options", GnomeOption(placement)});
    ok = Ok({"gsettings", "set", schema, key, ""}) && ok;
    ok = Ok({"gsettings", "set", schema, key, value}) && ok;
    if (darkToo) ok = Ok({"gsettings", "set", schema, "picture-uri-dark", value}) && ok;
    return ok;
}

bool ApplyXfce(const std::filesystem::path& file, WallpaperPlacement placement) {
    // xfdesktop: 1 centred, 2 tiled, 4 scaled, 5 zoomed.
    const char* style = placement == WallpaperPlacement::Centre         ? "1"
                        : placement == WallpaperPlacement::Tile         ? "2"
                        : placement == WallpaperPlacement::BestPosition ? "4"
                                                                        : "5";
    const ProgramResult listing = RunProgram({"xfconf-query", "-c", "xfce4-desktop", "-l"});
    if (listing.status != 0) return false;
    std::vector<std::string> images;
    std::size_t start = 0;
    while (start < listing.output.size()) {
        std::size_t end = listing.output.find('\n', start);
        if (end == std::string::npos) end = listing.output.size();
        const std::string line = listing.output.substr(start, end - start);
        const std::string_view suffix = "/last-image";
        if (line.rfind("/backdrop/", 0) == 0 && line.size() > suffix.size() &&
            line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
            images.push_back(line);
        start = end + 1;
    }
    if (images.empty()) images.push_back("/backdrop/screen0/monitor0/workspace0/last-image");
    bool ok = true;
    for (const std::string& property : images) {
        const std::string base = property.substr(0, property.size() - 11);
        ok = Ok({"xfconf-query", "-c", "xfce4-desktop", "-p", base + "/image-style", "-n", "-t",
                 "int", "-s", style}) &&
             ok;
        ok = Ok({"xfconf-query", "-c", "xfce4-desktop", "-p", property, "-n", "-t", "string", "-s",
                 ""}) &&
             ok;
        ok = Ok({"xfconf-query", "-c", "xfce4-desktop", "-p", property, "-n", "-t", "string", "-s",
                 file.string()}) &&
             ok;
    }
    return ok;
}

std::string JsString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool ApplyKde(const std::filesystem::path& file, WallpaperPlacement placement) {
    // Plasma's image wallpaper: 6 centred, 3 tiled, 1 scaled keeping the proportions, 2 scaled
    // and cropped.
    const char* fillMode = placement == WallpaperPlacement::Centre         ? "6"
                           : placement == WallpaperPlacement::Tile         ? "3"
                           : placement == WallpaperPlacement::BestPosition ? "1"
                                                                           : "2";
    const std::string script =
        "var all = desktops();\n"
        "for (var i = 0; i < all.length; i++) {\n"
        "  var d = all[i];\n"
        "  d.wallpaperPlugin = \"org.kde.image\";\n"
        "  d.currentConfigGroup = Array(\"Wallpaper\", \"org.kde.image\", \"General\");\n"
        "  d.writeConfig(\"FillMode\", " +
        std::string(fillMode) +
        ");\n"
        "  d.writeConfig(\"Image\", \"\");\n"
        "  d.writeConfig(\"Image\", " +
        JsString(FileUri(file)) +
        ");\n"
        "}\n";
    for (const char* qdbus : {"qdbus6", "qdbus", "qdbus-qt5"}) {
        const ProgramResult result = RunProgram({qdbus, "org.kde.plasmashell", "/PlasmaShell",
                                                 "org.kde.PlasmaShell.evaluateScript", script});
        if (result.status == 0) return true;
    }
    return false;
}

bool ApplyFeh(const std::filesystem::path& file, WallpaperPlacement placement) {
    const char* option = placement == WallpaperPlacement::Centre         ? "--bg-center"
                         : placement == WallpaperPlacement::Tile         ? "--bg-tile"
                         : placement == WallpaperPlacement::BestPosition ? "--bg-max"
                                                                         : "--bg-fill";
    return Ok({"feh", option, file.string()});
}

}  // namespace

DesktopKind DesktopFromEnvironment(std::string_view currentDesktop) {
    std::size_t start = 0;
    while (start <= currentDesktop.size()) {
        std::size_t end = currentDesktop.find(':', start);
        if (end == std::string_view::npos) end = currentDesktop.size();
        const std::string name = Lower(currentDesktop.substr(start, end - start));
        if (name == "gnome" || name == "gnome-classic" || name == "gnome-flashback" ||
            name == "unity" || name == "budgie")
            return DesktopKind::Gnome;
        if (name == "cinnamon" || name == "x-cinnamon") return DesktopKind::Cinnamon;
        if (name == "mate") return DesktopKind::Mate;
        if (name == "xfce") return DesktopKind::Xfce;
        if (name == "kde") return DesktopKind::Kde;
        start = end + 1;
    }
    return DesktopKind::Other;
}

bool SystemDesktopWallpaper::Apply(const std::filesystem::path& file,
                                   WallpaperPlacement placement) {
    const char* current = std::getenv("XDG_CURRENT_DESKTOP");
    bool applied = false;
    switch (DesktopFromEnvironment(current ? current : "")) {
        case DesktopKind::Gnome:
            applied = ApplyGsettings("org.gnome.desktop.background", "picture-uri", FileUri(file),
                                     placement, true);
            break;
        case DesktopKind::Cinnamon:
            applied = ApplyGsettings("org.cinnamon.desktop.background", "picture-uri",
                                     FileUri(file), placement, false);
            break;
        case DesktopKind::Mate:
            applied = ApplyGsettings("org.mate.background", "picture-filename", file.string(),
                                     placement, false);
            break;
        case DesktopKind::Xfce:
            applied = ApplyXfce(file, placement);
            break;
        case DesktopKind::Kde:
            applied = ApplyKde(file, placement);
            break;
        case DesktopKind::Other:
            break;
    }
    return applied || ApplyFeh(file, placement);
}

}  // namespace ozm
