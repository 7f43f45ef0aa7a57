#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "platform/ProgramFolder.h"
#include "platform/SpecialFolders.h"
#include "platform/TextEncoding.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

TEST(TextEncoding, Utf8CheckAndGbkFallback) {
    EXPECT_TRUE(IsValidUtf8("plain /路径/ 😀"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(IsValidUtf8("\xE5\x9B"));      // cut short
    EXPECT_EQ(GbkToUtf8("key=\xCE\xD2\xB5\xC4\xCD\xBC\xC6\xAC"), "key=我的图片");
    EXPECT_EQ(GbkToUtf8("bad\xFF"), std::nullopt);
}

TEST(AtomicFile, ReplaceKeepsModeAndLeavesNoTemporary) {
    test::ScratchDir dir;
    std::error_code ec;
    ASSERT_TRUE(ReplaceFileAtomically(dir / "f", "one", ec));
    fs::permissions(dir / "f",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(ReplaceFileAtomically(dir / "f", "two", ec));
    EXPECT_EQ(fs::status(dir / "f").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const FileContent read = ReadWholeFile(dir / "f", 16);
    EXPECT_EQ(read.status, ReadStatus::Ok);
    EXPECT_EQ(read.bytes, "two");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
    EXPECT_EQ(ReadWholeFile(dir / "f", 2).status, ReadStatus::Failed);
    EXPECT_EQ(ReadWholeFile(dir / "none", 2).status, ReadStatus::Missing);
    EXPECT_EQ(ReadWholeFile(dir.Path(), 2).status, ReadStatus::Failed);
    EXPECT_FALSE(ReplaceFileAtomically(dir / "f" / "g", "x", ec));
    EXPECT_TRUE(ec);
}

TEST(ProgramFolder, ExecutableFolderWhenWritableElseDataHome) {
    test::ScratchDir dir;
    EXPECT_EQ(ChooseProgramFolder(dir.Path(), dir / "data"), dir.Path() / "");
    const fs::path fallback = ChooseProgramFolder(dir / "no" / "such", dir / "data");
    EXPECT_EQ(fallback, dir / "data" / "ozm-imgconv" / "");
    EXPECT_TRUE(fs::is_directory(fallback));
    EXPECT_EQ(ChooseProgramFolder({}, dir / "data"), fallback);
    EXPECT_FALSE(ExecutableFolder().empty());
}

TEST(SpecialFolders, UserDirsFile) {
    const std::string text =
        "# comment\n"
        "XDG_DESKTOP_DIR=\"$HOME/桌面\"\n"
        "XDG_PICTURES_DIR=\"/data/pics\"\n"
        "XDG_DOCUMENTS_DIR=\"$HOME/a \\\"b\\\"\"\n"
        "XDG_MUSIC_DIR=relative\n"
        "XDG_PICTURES_DIR=\"/data/later\"\n";
    EXPECT_EQ(ParseUserDirsEntry(text, "DESKTOP", "/home/u"), fs::path("/home/u/桌面"));
    EXPECT_EQ(ParseUserDirsEntry(text, "PICTURES", "/home/u"), fs::path("/data/later"));
    EXPECT_EQ(ParseUserDirsEntry(text, "DOCUMENTS", "/home/u"), fs::path("/home/u/a \"b\""));
    EXPECT_EQ(ParseUserDirsEntry(text, "MUSIC", "/home/u"), std::nullopt);
    EXPECT_EQ(ParseUserDirsEntry(text, "VIDEOS", "/home/u"), std::nullopt);
}

}  // namespace
}  // namespace ozm
