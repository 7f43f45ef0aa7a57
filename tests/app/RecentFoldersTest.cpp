#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

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

TEST(RecentFolders, BlanksAndBytesArePartOfTheName) {
    test::ScratchDir dir;
    RecentFolders recent;
    EXPECT_TRUE(recent.AddRecentFolder("/x"));
    EXPECT_TRUE(recent.AddRecentFolder("/x "));  // another folder than "/x"
    EXPECT_TRUE(recent.AddRecentFolder(" /x"));
    EXPECT_TRUE(recent.AddRecentFolder("/p/caf\xE9s"));
    EXPECT_EQ(recent.Items(), (std::vector<std::string>{"/p/caf\xE9s/", " /x/", "/x /", "/x/"}));
    ASSERT_TRUE(recent.Save(dir / "HistoryPaths.txt").Ok());
    const auto bytes = test::ReadAll(dir / "HistoryPaths.txt");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "/p/caf\xE9s/\n /x/\n/x /\n/x/\n");
    RecentFolders loaded;
    loaded.Load(dir / "HistoryPaths.txt");
    EXPECT_EQ(loaded.Items(), recent.Items());
}

TEST(RecentFolders, SavesMergeWithWhatOthersSaved) {
    test::ScratchDir dir;
    const auto file = dir / "HistoryPaths.txt";
    test::WriteAll(file, {'/', 'o', 'l', 'd', '/', '\n'});
    RecentFolders first, second;
    first.Load(file);
    second.Load(file);
    first.AddRecentFolder("/a");
    second.AddRecentFolder("/b");
    second.AddRecentFolder("/old");  // already listed: not moved
    ASSERT_TRUE(first.Save(file).Ok());
    ASSERT_TRUE(second.Save(file).Ok());
    RecentFolders loaded;
    loaded.Load(file);
    EXPECT_EQ(loaded.Items(), (std::vector<std::string>{"/b/", "/a/", "/old/"}));

    // Still ten at most, the other's newest on top of the file's.
    for (int i = 0; i < 6; ++i) first.AddRecentFolder("/f" + std::to_string(i));
    for (int i = 0; i < 6; ++i) second.AddRecentFolder("/s" + std::to_string(i));
    ASSERT_TRUE(first.Save(file).Ok());
    ASSERT_TRUE(second.Save(file).Ok());
    loaded.Load(file);
    EXPECT_EQ(loaded.Items(), (std::vector<std::string>{"/s5/", "/s4/", "/s3/", "/s2/", "/s1/",
                                                        "/s0/", "/f5/", "/f4/", "/f3/", "/f2/"}));
}

TEST(RecentFolders, FileThatCannotBeLoadedIsNotReplaced) {
    test::ScratchDir dir;
    // A FIFO must not block the loading (the alarm ends a hung test) nor be replaced.
    ASSERT_EQ(::mkfifo((dir / "fifo.txt").c_str(), 0600), 0);
    ::alarm(20);
    RecentFolders recent;
    recent.Load(dir / "fifo.txt");
    EXPECT_TRUE(recent.Items().empty());
    recent.AddRecentFolder("/a");
    EXPECT_EQ(recent.Save(dir / "fifo.txt").error,
              "Unable to write to " + (dir / "fifo.txt").string());
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.txt"));
    ::alarm(0);

    std::filesystem::create_directory(dir / "folder.txt");
    EXPECT_FALSE(recent.Save(dir / "folder.txt").Ok());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.txt"));
}

TEST(RecentFolders, ConcurrentProcessesLoseNoFolder) {
    test::ScratchDir dir;
    const auto file = dir / "HistoryPaths.txt";
    EXPECT_TRUE(test::RunInChildProcesses(2, [&](int w) {
        bool ok = true;
        // Each round is one short-lived process's load, addition and save.
        for (int i = 0; i < 5; ++i) {
            RecentFolders recent;
            recent.Load(file);
            recent.AddRecentFolder("/w" + std::to_string(w) + "-" + std::to_string(i));
            ok = recent.Save(file).Ok() && ok;
        }
        return ok;
    }));
    RecentFolders loaded;
    loaded.Load(file);
    std::vector<std::string> items = loaded.Items();
    std::sort(items.begin(), items.end());
    EXPECT_EQ(items, (std::vector<std::string>{"/w0-0/", "/w0-1/", "/w0-2/", "/w0-3/", "/w0-4/",
                                               "/w1-0/", "/w1-1/", "/w1-2/", "/w1-3/", "/w1-4/"}));
}

}  // namespace
}  // namespace ozm
