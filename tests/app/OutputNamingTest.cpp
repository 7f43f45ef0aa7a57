#include <gtest/gtest.h>

#include <filesystem>

#include "app/convert/OutputNaming.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

TEST(OutputNaming, TakenNamesGetTheNextFreeNumber) {
    test::ScratchDir dir;
    const std::string folder = dir.Path().string() + "/";
    EXPECT_EQ(MakeUniqueOutputPath(folder, "photo.jpg"), folder + "photo.jpg");
    test::WriteAll(dir / "photo.jpg", {1});
    EXPECT_EQ(MakeUniqueOutputPath(folder, "photo.jpg"), folder + "photo(1).jpg");
    test::WriteAll(dir / "photo(1).jpg", {1});
    EXPECT_EQ(MakeUniqueOutputPath(folder, "photo.jpg"), folder + "photo(2).jpg");
    // Any entry takes a name: a folder, a dangling link, a link loop.
    std::filesystem::create_directory(dir / "photo(2).jpg");
    std::filesystem::create_symlink(dir / "nowhere", dir / "photo(3).jpg");
    std::filesystem::create_symlink(dir / "photo(4).jpg", dir / "photo(4).jpg");
    EXPECT_EQ(MakeUniqueOutputPath(folder, "photo.jpg"), folder + "photo(5).jpg");
    // Two dots: the number goes before the last one; no dot: at the end.
    test::WriteAll(dir / "a.b.png", {1});
    EXPECT_EQ(MakeUniqueOutputPath(folder, "a.b.png"), folder + "a.b(1).png");
    test::WriteAll(dir / "plain", {1});
    EXPECT_EQ(MakeUniqueOutputPath(folder, "plain"), folder + "plain(1)");
    // All 1000 numbers taken: no name, so nothing is ever overwritten.
    test::WriteAll(dir / "full.gif", {1});
    for (int i = 1; i <= kMaxNumberedNames; ++i) {
        test::WriteAll(dir / ("full(" + std::to_string(i) + ").gif"), {1});
    }
    EXPECT_FALSE(MakeUniqueOutputPath(folder, "full.gif"));
}

TEST(OutputNaming, FolderTextsAreNormalised) {
    auto norm = [](std::string s) {
        NormalizeFolderPath(s);
        return s;
    };
    EXPECT_EQ(norm("/pics"), "/pics/");
    EXPECT_EQ(norm("/pics/"), "/pics/");
    // Blanks at the ends belong to the names: "x " and "x" are different folders.
    EXPECT_EQ(norm("  /a//b \t"), "  /a/b \t/");
    EXPECT_EQ(norm("x "), "x /");
    EXPECT_EQ(norm(" /x"), " /x/");
    EXPECT_EQ(norm("/a///b"), "/a/b/");
    EXPECT_EQ(norm("/a////b"), "/a/b/");  // "///" first, then "//"
    EXPECT_EQ(norm(""), "");
    EXPECT_EQ(norm("   "), "   ");
    EXPECT_EQ(norm(" \t\x01"), " \t\x01");  // no folder: left for the caller to refuse
}

}  // namespace
}  // namespace ozm
