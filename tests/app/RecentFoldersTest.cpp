#include <gtest/gtest.h>

#include "app/convert/RecentFolders.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

TEST(RecentFolders, AddRules) {
    RecentFolders recent;
    EXPECT_TRUE(recent.AddRecentFolder("/pics"));
    EXPECT_FALSE(recent.AddRecentFolder("/pics//"));  // normalises to the same text
    EXPECT_TRUE(recent.AddRecentFolder("/Pics"));     // names are case-sensitive here
    EXPECT_FALSE(recent.AddRecentFolder("   "));
    EXPECT_FALSE(recent.AddRecentFolder("/a\nb"));
    EXPECT_EQ(recent.Items(), (std::vector<std::string>{"/Pics/", "/pics/"}));

    // An existing entry is not moved to the front.
    EXPECT_FALSE(recent.AddRecentFolder("/pics"));
    EXPECT_EQ(recent.Items().front(), "/Pics/");

    for (int i = 0; i < 8; ++i) recent.AddRecentFolder("/f" + std::to_string(i));
    ASSERT_EQ(recent.Items().size(), 10u);
    EXPECT_EQ(recent.Items().back(), "/pics/");
    recent.AddRecentFolder("/eleventh");  // drops the oldest
    ASSERT_EQ(recent.Items().size(), 10u);
    EXPECT_EQ(recent.Items().front(), "/eleventh/");
    EXPECT_EQ(recent.Items().back(), "/Pics/");
}

TEST(RecentFolders, FileRoundTripKeepsTenLines) {
    test::ScratchDir dir;
    RecentFolders recent;
    recent.AddRecentFolder("/a b/图片");
    recent.AddRecentFolder("/c");
    ASSERT_TRUE(recent.Save(dir / "HistoryPaths.txt").Ok());
    const auto bytes = test::ReadAll(dir / "HistoryPaths.txt");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "/c/\n/a b/图片/\n");
    RecentFolders loaded;
    loaded.Load(dir / "HistoryPaths.txt");
    EXPECT_EQ(loaded.Items(), recent.Items());

    std::string many;
    for (int i = 0; i < 15; ++i) many += "/d" + std::to_string(i) + "/\n";
    test::WriteAll(dir / "HistoryPaths.txt", std::vector<std::uint8_t>(many.begin(), many.end()));
    loaded.Load(dir / "HistoryPaths.txt");
    ASSERT_EQ(loaded.Items().size(), 10u);
    EXPECT_EQ(loaded.Items().back(), "/d9/");

    loaded.Load(dir / "missing.txt");
    EXPECT_TRUE(loaded.Items().empty());
}

}  // namespace
}  // namespace ozm
