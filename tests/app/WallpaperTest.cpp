// Wallpaper fitting, the one wallpaper bitmap, and the command lines the desktop setters get,
// recorded by stand-ins put first on PATH.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/convert/ProfileFile.h"
#include "app/shell/Wallpaper.h"
#include "core/formats/ImgConvertUnit.h"
#include "platform/DesktopWallpaper.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

TEST(WallpaperFitTest, ShrinkAndCoverAsTheExamplesSay) {
    // 800 x 600 on 1280 x 1024: centred it stays, covering it fills the height.
    EXPECT_EQ(FitShrink(800, 600, 1280, 1024), (FittedSize{800, 600}));
    EXPECT_EQ(FitCover(800, 600, 1280, 1024), (FittedSize{1365, 1024}));
    // 4000 x 1000 tiled: the width fills the screen.
    EXPECT_EQ(FitShrink(4000, 1000, 1280, 1024), (FittedSize{1280, 320}));
    // Taller than the screen: the height decides, or the wider ratio the width.
    EXPECT_EQ(FitShrink(600, 2048, 1280, 1024), (FittedSize{300, 1024}));
    EXPECT_EQ(FitShrink(2560, 1200, 1280, 1024), (FittedSize{1280, 600}));
    EXPECT_EQ(FitShrink(1600, 2048, 1280, 1024), (FittedSize{800, 1024}));
    EXPECT_EQ(FitCover(2000, 500, 1280, 1024), (FittedSize{4096, 1024}));
    EXPECT_EQ(FitCover(500, 2000, 1280, 1024), (FittedSize{1280, 5120}));
    // Halves go to the even neighbour: 2.5 -> 2, 3.5 -> 4.
    EXPECT_EQ(FitShrink(2560, 5, 1280, 1024), (FittedSize{1280, 2}));
    EXPECT_EQ(FitShrink(2560, 7, 1280, 1024), (FittedSize{1280, 4}));
}

TEST(WallpaperFitTest, NoSideOfZeroAndTheCoverLimit) {
    EXPECT_EQ(FitShrink(100000, 1, 1280, 1024), (FittedSize{1280, 1}));
    EXPECT_EQ(FitShrink(1, 100000, 1280, 1024), (FittedSize{1, 1024}));
    // A cover side above 9999 keeps the image as it is.
    EXPECT_EQ(FitCover(100, 1, 1280, 1024), (FittedSize{100, 1}));
    EXPECT_EQ(FitCover(1, 130, 1280, 1024), (FittedSize{1, 130}));
    EXPECT_EQ(FitCover(10, 1, 1280, 1024), (FittedSize{10, 1}));          // 10240 wide
    EXPECT_EQ(FitCover(1280, 131, 1280, 1024), (FittedSize{1280, 131}));  // 10005.5 wide
    EXPECT_EQ(FitCover(1280, 132, 1280, 1024), (FittedSize{9930, 1024}));
}

class SetterTest : public ::testing::Test {
  protected:
    SetterTest() : profile_(dir_ / "defualt.ini") {
        fs::create_directories(dir_ / "bin");
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
        hadDesktop_ = desktop != nullptr;
        if (desktop) oldDesktop_ = desktop;
        // Only the stand-ins and the shell's own tools.
        setenv("PATH", ((dir_ / "bin").string() + ":/usr/bin:/bin").c_str(), 1);
    }
    ~SetterTest() override {
        setenv("PATH", oldPath_.c_str(), 1);
        if (hadDesktop_) {
            setenv("XDG_CURRENT_DESKTOP", oldDesktop_.c_str(), 1);
        } else {
            unsetenv("XDG_CURRENT_DESKTOP");
        }
    }

    // A stand-in that records its arguments, one line per call, and prints `output`.
    void StandIn(const std::string& name, const std::string& output = "", int status = 0) {
        const fs::path script = dir_ / "bin" / name;
        std::ofstream out(script);
        out << "#!/bin/sh\n"
            << "printf '%s' '" << name << "' >> '" << Log().string() << "'\n"
            << "for a in \"$@\"; do printf ' [%s]' \"$a\" >> '" << Log().string() << "'; done\n"
            << "echo >> '" << Log().string() << "'\n";
        if (!output.empty()) out << "printf '" << output << "'\n";
        out << "exit " << status << "\n";
        out.close();
        fs::permissions(script, fs::perms::owner_all);
    }
    fs::path Log() const { return dir_ / "calls.log"; }
    std::string Calls() const {
        std::ifstream in(Log());
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string Picture(int width, int height) {
        const fs::path file = dir_ / "photo.jpg";
        EXPECT_TRUE(WriteImageFile(test::MakePatternBitmap(width, height, 24), file, 1));
        return file.string();
    }
    std::string Apply(const char* desktop, WallpaperPlacement placement) {
        if (desktop) {
            setenv("XDG_CURRENT_DESKTOP", desktop, 1);
        } else {
            unsetenv("XDG_CURRENT_DESKTOP");
        }
        fs::remove(Log());
        SystemDesktopWallpaper setter;
        EXPECT_EQ(SetWallpaper(Picture(800, 600), placement, 1280, 1024, File(), setter, profile_),
                  "");
        return Calls();
    }
    fs::path File() const { return dir_ / "data" / "Wallpaper1.bmp"; }

    test::ScratchDir dir_;
    ProfileFile profile_;
    std::string oldPath_, oldDesktop_;
    bool hadDesktop_ = false;
};

TEST_F(SetterTest, EachDesktopGetsItsOwnCommandLines) {
    StandIn("gsettings");
    StandIn("feh");
    StandIn("qdbus");
    StandIn("xfconf-query",
            "/backdrop/screen0/monitorVGA-1/workspace0/last-image\\n"
            "/backdrop/screen0/monitorVGA-1/workspace1/last-image\\n"
            "/backdrop/screen0/monitorVGA-1/workspace0/image-style\\n");
    const std::string f = File().string();
    std::string uri = "file://" + f;

    EXPECT_EQ(Apply("ubuntu:GNOME", WallpaperPlacement::Cover),
              "gsettings [set] [org.gnome.desktop.background] [picture-options] [zoom]\n"
              "gsettings [set] [org.gnome.desktop.background] [picture-uri] []\n"
              "gsettings [set] [org.gnome.desktop.background] [picture-uri] [" +
                  uri +
                  "]\n"
                  "gsettings [set] [org.gnome.desktop.background] [picture-uri-dark] [" +
                  uri + "]\n");
    EXPECT_EQ(Apply("X-Cinnamon", WallpaperPlacement::Tile),
              "gsettings [set] [org.cinnamon.desktop.background] [picture-options] [wallpaper]\n"
              "gsettings [set] [org.cinnamon.desktop.background] [picture-uri] []\n"
              "gsettings [set] [org.cinnamon.desktop.background] [picture-uri] [" +
                  uri + "]\n");
    EXPECT_EQ(Apply("MATE", WallpaperPlacement::BestPosition),
              "gsettings [set] [org.mate.background] [picture-options] [scaled]\n"
              "gsettings [set] [org.mate.background] [picture-filename] []\n"
              "gsettings [set] [org.mate.background] [picture-filename] [" +
                  f + "]\n");
    const std::string xfce = Apply("XFCE", WallpaperPlacement::Centre);
    for (const char* workspace : {"workspace0", "workspace1"}) {
        const std::string base = std::string("/backdrop/screen0/monitorVGA-1/") + workspace;
        EXPECT_NE(xfce.find("xfconf-query [-c] [xfce4-desktop] [-p] [" + base +
                            "/image-style] [-n] [-t] [int] [-s] [1]\n"),
                  std::string::npos)
            << xfce;
        EXPECT_NE(xfce.find("xfconf-query [-c] [xfce4-desktop] [-p] [" + base +
                            "/last-image] [-n] [-t] [string] [-s] [" + f + "]\n"),
                  std::string::npos)
            << xfce;
    }
    const std::string kde = Apply("KDE", WallpaperPlacement::Centre);
    EXPECT_EQ(kde.rfind("qdbus [org.kde.plasmashell] [/PlasmaShell] "
                        "[org.kde.PlasmaShell.evaluateScript] [",
                        0),
              0u)
        << kde;
    EXPECT_NE(kde.find("d.writeConfig(\"Image\", \"" + uri + "\")"), std::string::npos) << kde;
    EXPECT_NE(kde.find("\"FillMode\", 6"), std::string::npos) << kde;
    EXPECT_EQ(Apply(nullptr, WallpaperPlacement::Tile), "feh [--bg-tile] [" + f + "]\n");

    // The bitmap is the fitted image, and the three values are recorded.
    Bitmap written;
    ASSERT_TRUE(ReadImageFile(File(), written));
    EXPECT_EQ(written.Width(), 800);
    EXPECT_EQ(written.BitCount(), 24);
    EXPECT_EQ(profile_.ReadString("Desktop", "Wallpaper", ""), f);
    EXPECT_EQ(profile_.ReadString("Desktop", "WallpaperStyle", ""), "0");
    EXPECT_EQ(profile_.ReadString("Desktop", "TileWallpaper", ""), "1");
}

TEST_F(SetterTest, AMissingOrFailingSetterFallsBackToFehAndTheFileIsReplaced) {
    StandIn("feh");
    StandIn("gsettings", "", 1);
    const std::string calls = Apply("GNOME", WallpaperPlacement::Cover);
    EXPECT_EQ(calls.substr(calls.rfind("feh")), "feh [--bg-fill] [" + File().string() + "]\n");
    // Every name of qdbus fails: feh.
    for (const char* qdbus : {"qdbus6", "qdbus", "qdbus-qt5"}) StandIn(qdbus, "", 1);
    const std::string kde = Apply("KDE", WallpaperPlacement::Cover);
    EXPECT_EQ(kde.substr(kde.rfind("feh")), "feh [--bg-fill] [" + File().string() + "]\n");

    Bitmap first;
    ASSERT_TRUE(ReadImageFile(File(), first));
    EXPECT_EQ(first.Width(), 1365);
    // Twice: the same file, replaced, with no temporary file left beside it.
    Apply(nullptr, WallpaperPlacement::Centre);
    Bitmap second;
    ASSERT_TRUE(ReadImageFile(File(), second));
    EXPECT_EQ(second.Width(), 800);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(File().parent_path())) ++entries;
    EXPECT_EQ(entries, 1);

    // An unsupported or unreadable file changes nothing.
    const auto before = fs::last_write_time(File());
    SystemDesktopWallpaper setter;
    fs::remove(Log());
    EXPECT_EQ(SetWallpaper((dir_ / "x.tiff").string(), WallpaperPlacement::Centre, 1280, 1024,
                           File(), setter, profile_),
              "No support image type.");
    test::WriteAll(dir_ / "broken.png", {'x'});
    EXPECT_EQ(SetWallpaper((dir_ / "broken.png").string(), WallpaperPlacement::Centre, 1280, 1024,
                           File(), setter, profile_),
              "No support image type.");
    EXPECT_EQ(fs::last_write_time(File()), before);
    EXPECT_EQ(Calls(), "");
}

TEST(DesktopKindTest, ReadFromTheSessionsList) {
    EXPECT_EQ(DesktopFromEnvironment("ubuntu:GNOME"), DesktopKind::Gnome);
    EXPECT_EQ(DesktopFromEnvironment("X-Cinnamon"), DesktopKind::Cinnamon);
    EXPECT_EQ(DesktopFromEnvironment("MATE"), DesktopKind::Mate);
    EXPECT_EQ(DesktopFromEnvironment("XFCE"), DesktopKind::Xfce);
    EXPECT_EQ(DesktopFromEnvironment("KDE"), DesktopKind::Kde);
    EXPECT_EQ(DesktopFromEnvironment("LXQt"), DesktopKind::Other);
    EXPECT_EQ(DesktopFromEnvironment(""), DesktopKind::Other);
}

}  // namespace
}  // namespace ozm
