#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/convert/ProfileFile.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::ScratchDir;

std::string ReadText(const fs::path& path) {
    const auto bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const fs::path& path, const std::string& text) {
    test::WriteAll(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST(ProfileFile, FirstWriteCreatesFileAndValuesReadBack) {
    ScratchDir dir;
    ProfileFile profile(dir / "defualt.ini");
    EXPECT_EQ(profile.ReadString("default", "SourcePath", "dflt"), "dflt");
    EXPECT_FALSE(fs::exists(dir / "defualt.ini"));

    ASSERT_TRUE(profile.WriteString("default", "SourcePath", "/home/u/图片/").Ok());
    ASSERT_TRUE(profile.WriteBool("default", "CbJPG", false).Ok());
    ASSERT_TRUE(profile.WriteInteger("ImgConvert", "LbDocListInd", -1).Ok());
    ASSERT_TRUE(profile.WriteString("DEFAULT", "sourcepath", "/x/").Ok());
    EXPECT_EQ(ReadText(dir / "defualt.ini"),
              "[default]\nSourcePath=/x/\nCbJPG=0\n[ImgConvert]\nLbDocListInd=-1\n");

    ProfileFile again(dir / "defualt.ini");
    EXPECT_EQ(again.ReadString("Default", "SOURCEPATH", ""), "/x/");
    EXPECT_FALSE(again.ReadBool("default", "CbJPG", true));
    EXPECT_EQ(again.ReadInteger("imgconvert", "lbdoclistind", 0), -1);
}

TEST(ProfileFile, NumberAndBooleanRules) {
    ScratchDir dir;
    WriteText(dir / "p.ini",
              "[ImgConvert]\r\n"
              "SbToollBarWidth=$A0\r\n"
              "hex2 = 0x1F \r\n"
              "word=abc\r\n"
              "empty=\r\n"
              "big=2147483648\r\n"
              "quoted=\"12\"\r\n"
              "b2=2\r\n"
              "b0=0\r\n"
              "bword=yes\r\n");
    ProfileFile profile(dir / "p.ini");
    EXPECT_EQ(profile.ReadInteger("ImgConvert", "SbToollBarWidth", 157), 160);
    EXPECT_EQ(profile.ReadInteger("ImgConvert", "hex2", 0), 31);
    EXPECT_EQ(profile.ReadInteger("ImgConvert", "word", 7), 7);
    EXPECT_EQ(profile.ReadInteger("ImgConvert", "empty", 7), 7);
    EXPECT_EQ(profile.ReadInteger("ImgConvert", "big", 7), 7);
    EXPECT_EQ(profile.ReadInteger("ImgConvert", "quoted", 7), 12);
    EXPECT_EQ(profile.ReadInteger("ImgConvert", "missing", 7), 7);
    EXPECT_EQ(profile.ReadInteger("Other", "word", 7), 7);
    EXPECT_TRUE(profile.ReadBool("ImgConvert", "b2", false));
    EXPECT_FALSE(profile.ReadBool("ImgConvert", "b0", true));
    EXPECT_TRUE(profile.ReadBool("ImgConvert", "bword", true));
    EXPECT_EQ(profile.ReadString("ImgConvert", "empty", "d"), "");
}

TEST(ProfileFile, KeepsUnknownLinesOrderAndLineEnds) {
    ScratchDir dir;
    const std::string original =
        "; written by hand\r\n"
        "[Other]\r\n"
        "Wallpaper=/a.bmp\r\n"
        "\r\n"
        "[default]\r\n"
        "Unknown=1\r\n"
        "CbJPG=1\r\n"
        "\r\n"
        "[Tail]\r\n"
        "x=y\r\n";
    WriteText(dir / "p.ini", original);
    ProfileFile profile(dir / "p.ini");
    ASSERT_TRUE(profile.WriteBool("default", "cbjpg", false).Ok());
    ASSERT_TRUE(profile.WriteString("default", "TargetPath", "/t/").Ok());
    ASSERT_TRUE(profile.WriteString("ImgConvert", "MnZoomNumTag", "50").Ok());
    EXPECT_EQ(ReadText(dir / "p.ini"),
              "; written by hand\r\n"
              "[Other]\r\n"
              "Wallpaper=/a.bmp\r\n"
              "\r\n"
              "[default]\r\n"
              "Unknown=1\r\n"
              "CbJPG=0\r\n"
              "TargetPath=/t/\r\n"
              "\r\n"
              "[Tail]\r\n"
              "x=y\r\n"
              "[ImgConvert]\r\n"
              "MnZoomNumTag=50\r\n");
}

TEST(ProfileFile, TextLimitAndRefusedValues) {
    ScratchDir dir;
    ProfileFile profile(dir / "p.ini");
    std::string longText;
    for (int i = 0; i < 2100; ++i) longText += "图";
    ASSERT_TRUE(profile.WriteString("s", "long", longText).Ok());
    const std::string read = profile.ReadString("s", "long", "");
    EXPECT_EQ(read.size(), 2047u * 3);
    EXPECT_EQ(read, longText.substr(0, 2047 * 3));

    // A line break would inject a key of its own.
    EXPECT_FALSE(profile.WriteString("s", "evil", "a\nCbJPG=0").Ok());
    EXPECT_EQ(profile.ReadString("s", "CbJPG", "none"), "none");
}

TEST(ProfileFile, ReadsGbkFileAndRewritesItAsUtf8) {
    ScratchDir dir;
    // "[default]\nSourcePath=D:\源路径\" in GBK.
    WriteText(dir / "p.ini", "[default]\nSourcePath=D:\\\xD4\xB4\xC2\xB7\xBE\xB6\\\n");
    ProfileFile profile(dir / "p.ini");
    EXPECT_EQ(profile.ReadString("default", "SourcePath", ""), "D:\\源路径\\");
    ASSERT_TRUE(profile.WriteBool("default", "CbJPG", true).Ok());
    EXPECT_EQ(ReadText(dir / "p.ini"), "[default]\nSourcePath=D:\\源路径\\\nCbJPG=1\n");
}

TEST(ProfileFile, PicksUpChangesOfAnotherWriter) {
    ScratchDir dir;
    ProfileFile first(dir / "p.ini");
    ProfileFile second(dir / "p.ini");
    ASSERT_TRUE(first.WriteString("default", "a", "1").Ok());
    ASSERT_TRUE(second.WriteString("default", "b", "2").Ok());
    ASSERT_TRUE(first.WriteString("default", "c", "3").Ok());
    EXPECT_EQ(ReadText(dir / "p.ini"), "[default]\na=1\nb=2\nc=3\n");
}

TEST(ProfileFile, UnwritableFolderGivesTheMessage) {
    ScratchDir dir;
    WriteText(dir / "blocker", "a file, not a folder");
    // A folder below a plain file cannot exist, whoever the user is.
    const fs::path impossible = dir / "blocker" / "defualt.ini";
    ProfileFile profile(impossible);
    const WriteResult result = profile.WriteString("default", "CbJPG", "1");
    EXPECT_EQ(result.error, "Unable to write to " + impossible.string());
    EXPECT_EQ(profile.ReadString("default", "CbJPG", "d"), "d");
}

TEST(ProfileFile, ReadOnlyFolderKeepsTheFile) {
    ScratchDir dir;
    fs::create_directory(dir / "ro");
    WriteText(dir / "ro" / "p.ini", "[default]\nCbJPG=1\n");
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    if (::access((dir / "ro").c_str(), W_OK) == 0) {
        GTEST_SKIP() << "running with rights that ignore folder permissions (root)";
    }
    ProfileFile readOnly(dir / "ro" / "p.ini");
    EXPECT_FALSE(readOnly.WriteBool("default", "CbJPG", false).Ok());
    EXPECT_TRUE(readOnly.ReadBool("default", "CbJPG", false));
    EXPECT_EQ(fs::directory_iterator(dir / "ro")->path().filename(), "p.ini");
}

TEST(ProfileFile, KilledWriterLeavesAReadableFile) {
    ScratchDir dir;
    const fs::path file = dir / "p.ini";
    {
        ProfileFile profile(file);
        for (int k = 0; k < 20; ++k) {
            ASSERT_TRUE(profile.WriteInteger("s", "k" + std::to_string(k), 0).Ok());
        }
    }
    for (int round = 0; round < 5; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ProfileFile profile(file);
            for (int i = 1;; ++i) (void)profile.WriteInteger("s", "k" + std::to_string(i % 20), i);
        }
        ::usleep(20000 + round * 7000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        // Every key is still there, with a number: no write was cut in half.
        ProfileFile profile(file);
        for (int k = 0; k < 20; ++k) {
            EXPECT_GE(profile.ReadInteger("s", "k" + std::to_string(k), -1), 0) << k;
        }
        EXPECT_EQ(ReadText(file).back(), '\n');
    }
}

}  // namespace
}  // namespace ozm
