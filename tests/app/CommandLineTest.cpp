#include <gtest/gtest.h>

#include "app/shell/CommandLine.h"
#include "app/shell/ProductInfo.h"

namespace ozm {
namespace {

using Files = std::vector<std::string>;

TEST(CommandLine, ParsesQuestionMarkList) {
    EXPECT_EQ(ParseCommandLineFiles("/My Pictures/a b.jpg?/My Pictures/c.png"),
              (Files{"/My Pictures/a b.jpg", "/My Pictures/c.png"}));
    EXPECT_EQ(ParseCommandLineFiles("a.jpg?"), (Files{"a.jpg", ""}));
    EXPECT_EQ(ParseCommandLineFiles("a??b"), (Files{"a", "", "b"}));
    EXPECT_EQ(ParseCommandLineFiles("?a"), (Files{"", "a"}));
    EXPECT_EQ(ParseCommandLineFiles("  \t"), Files{});
    EXPECT_EQ(ParseCommandLineFiles(""), Files{});
    EXPECT_EQ(ParseCommandLineFiles(" a b.jpg \n"), (Files{"a b.jpg"}));
    EXPECT_EQ(ParseCommandLineFiles("a\tb?c"), (Files{"a", "b", "c"}));
    EXPECT_EQ(ParseCommandLineFiles("a\t?b"), (Files{"a", "b"}));
    EXPECT_EQ(ParseCommandLineFiles("a*b.jpg"), (Files{"a*b.jpg"}));
}

TEST(CommandLine, ChoosesTheMode) {
    EXPECT_EQ(DecideStartup({}).mode, StartupMode::MainWindow);
    EXPECT_EQ(DecideStartup({""}).mode, StartupMode::MainWindow);
    EXPECT_EQ(DecideStartup({"   "}).mode, StartupMode::MainWindow);
    EXPECT_EQ(DecideStartup({"uninstall"}).mode, StartupMode::Uninstall);
    EXPECT_EQ(DecideStartup({"Uninstall"}).mode, StartupMode::SilentExit);
    EXPECT_EQ(DecideStartup({"UNINSTALL"}).commandLineFiles, (Files{"UNINSTALL"}));
    EXPECT_EQ(DecideStartup({" uninstall"}).mode, StartupMode::SilentExit);
    EXPECT_EQ(DecideStartup({"/x/scan.tiff"}).mode, StartupMode::SilentExit);

    const StartupDecision quick = DecideStartup({"/x/readme.txt?/x/photo.JPG", "/y/other.png"});
    EXPECT_EQ(quick.mode, StartupMode::QuickConversion);
    EXPECT_TRUE(quick.quickMode);
    EXPECT_EQ(quick.commandLineFiles, (Files{"/x/readme.txt", "/x/photo.JPG"}));
    EXPECT_FALSE(DecideStartup({}).quickMode);

    const StartupDecision oneEach = DecideStartup({"--", "/a?b/c d.png", "uninstall"});
    EXPECT_EQ(oneEach.mode, StartupMode::QuickConversion);
    EXPECT_EQ(oneEach.commandLineFiles, (Files{"/a?b/c d.png", "uninstall"}));
    EXPECT_EQ(DecideStartup({"--"}).mode, StartupMode::MainWindow);
    EXPECT_EQ(DecideStartup({"--", "notes.txt"}).mode, StartupMode::SilentExit);
    // One per argument (the hooks' form), what the program reads starts it, ".tiff" too.
    EXPECT_EQ(DecideStartup({"--", "/x/scan.TIFF"}).mode, StartupMode::QuickConversion);
    EXPECT_EQ(DecideStartup({"--", "/x/photo.webp"}).mode, StartupMode::SilentExit);
}

TEST(ProductInfo, Caption) {
    using namespace std::chrono;
    const std::string format = MakeCaptionFormat(year_month_day{year{2026}, December, day{6}});
    EXPECT_EQ(format, "%s v%1.1f 2026-12-06 - " + std::string(kMakerHomePage));
    EXPECT_EQ(FormatMainCaption(format, kDisplayTitle, kProductVersion),
              "OZM图片批量转换器 v2.3 2026-12-06 - " + std::string(kMakerHomePage));
    EXPECT_EQ(FormatMainCaption("%s %d%% v%1.1f", "t", 2.25f), "t %d%% v2.2");
}

}  // namespace
}  // namespace ozm
