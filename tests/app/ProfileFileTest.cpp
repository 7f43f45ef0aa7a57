#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/convert/ProfileFile.h"
#include "platform/AtomicFile.h"
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

// Values stored on clicks go to the file on the object's own thread.
TEST(ProfileFile, WriteSoonReadsAtOnceAndReachesTheFile) {
    ScratchDir dir;
    std::vector<std::string> failures;
    {
        ProfileFile profile(dir / "defualt.ini");
        profile.SetWriteFailureHandler([&](const std::string& e) { failures.push_back(e); });
        for (int i = 0; i < 50; ++i) profile.WriteSoon("ImgConvert", "LbDocListInd", std::to_string(i));
        EXPECT_EQ(profile.ReadInteger("imgconvert", "lbdoclistind", -1), 49);
        profile.Flush();
        EXPECT_EQ(ReadText(dir / "defualt.ini"), "[ImgConvert]\nLbDocListInd=49\n");

        // A later write through the other calls wins over a value still waiting.
        profile.WriteSoon("ImgConvert", "LbDocListInd", "7");
        ASSERT_TRUE(profile.WriteChangedValues({{"ImgConvert", "LbDocListInd", "3"}}).Ok());
        profile.Flush();
        EXPECT_EQ(profile.ReadInteger("ImgConvert", "LbDocListInd", -1), 3);

        profile.WriteSoon("default", "SourcePath", "a\nb");
        profile.WriteSoon("default", "SourcePath", "/p/");
    }  // the destructor waits for the last value
    EXPECT_EQ(ReadText(dir / "defualt.ini"), "[ImgConvert]\nLbDocListInd=3\n[default]\nSourcePath=/p/\n");
    EXPECT_EQ(failures, std::vector<std::string>{UnableToWriteMessage(dir / "defualt.ini")});
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

TEST(ProfileFile, ValuesKeepTheirBytes) {
    ScratchDir dir;
    // "[default]\nSourcePath=D:\源路径\" in GBK: read and kept as bytes, never re-encoded.
    const std::string gbk = "[default]\nSourcePath=D:\\\xD4\xB4\xC2\xB7\xBE\xB6\\\n";
    WriteText(dir / "p.ini", gbk);
    ProfileFile profile(dir / "p.ini");
    EXPECT_EQ(profile.ReadString("default", "SourcePath", ""), "D:\\\xD4\xB4\xC2\xB7\xBE\xB6\\");
    ASSERT_TRUE(profile.WriteBool("default", "CbJPG", true).Ok());
    EXPECT_EQ(ReadText(dir / "p.ini"), gbk + "CbJPG=1\n");

    // A Latin-1 folder name is not UTF-8 and must not be taken for GBK either.
    ASSERT_TRUE(profile.WriteString("default", "TargetPath", "/p/caf\xE9s/").Ok());
    EXPECT_EQ(ReadText(dir / "p.ini"), gbk + "CbJPG=1\nTargetPath=/p/caf\xE9s/\n");
    EXPECT_EQ(ProfileFile(dir / "p.ini").ReadString("default", "TargetPath", ""), "/p/caf\xE9s/");

    // A byte-order mark an editor put first does not hide the first section.
    WriteText(dir / "bom.ini", "\xEF\xBB\xBF[default]\r\nCbPNG=1\r\n");
    EXPECT_TRUE(ProfileFile(dir / "bom.ini").ReadBool("default", "CbPNG", false));
}

TEST(ProfileFile, EveryValueReadsBackAsWritten) {
    ScratchDir dir;
    std::vector<std::string> values = {"x ",      " x",    " ",    "  ",  "\t",   "\"",
                                       "'",       "\"q\"", "'q'",  "\"a", "a'",   "'a\"",
                                       "a=b",     "[s]",   "; c",  "",    "\x01", "\xFF\xFE",
                                       " \"x\" ", "=",     "\"\"", "''",  "#"};
    // Random byte strings without line breaks (and without NUL, which no name holds).
    unsigned seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 400; ++i) {
        std::string v;
        const unsigned length = next() % 9;
        for (unsigned k = 0; k < length; ++k) {
            static constexpr char kFavoured[] = " \t\"'=[];";
            char c = (next() % 3 == 0) ? kFavoured[next() % 8] : static_cast<char>(next() % 256);
            if (c == '\r' || c == '\n' || c == '\0') c = 'z';
            v += c;
        }
        values.push_back(v);
    }
    std::vector<std::string> keys;
    std::vector<ProfileValue> batch;
    for (std::size_t i = 0; i < values.size(); ++i) keys.push_back("k" + std::to_string(i));
    for (std::size_t i = 0; i < values.size(); ++i) batch.push_back({"s", keys[i], values[i]});
    ProfileFile writer(dir / "p.ini");
    ASSERT_TRUE(writer.WriteChangedValues(batch).Ok());
    ProfileFile reader(dir / "p.ini");
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(reader.ReadString("s", keys[i], "missing"), values[i]) << i;
    }
    // Single writes quote the same way; only values that need it are quoted.
    ASSERT_TRUE(writer.WriteString("t", "a", "x ").Ok());
    ASSERT_TRUE(writer.WriteString("t", "b", "'q'").Ok());
    ASSERT_TRUE(writer.WriteString("t", "c", "in side").Ok());
    const std::string text = ReadText(dir / "p.ini");
    EXPECT_NE(text.find("\n[t]\na=\"x \"\nb=\"'q'\"\nc=in side\n"), std::string::npos);
    EXPECT_EQ(ProfileFile(dir / "p.ini").ReadString("t", "b", ""), "'q'");
}

TEST(ProfileFile, SymbolicLinkStaysALink) {
    ScratchDir dir;
    fs::create_directory(dir / "real");
    WriteText(dir / "real" / "settings.ini", "[default]\nCbJPG=1\n");
    fs::create_symlink("real/settings.ini", dir / "defualt.ini");
    fs::create_symlink(dir / "defualt.ini", dir / "second.ini");  // a chain of two
    ProfileFile profile(dir / "second.ini");
    EXPECT_TRUE(profile.ReadBool("default", "CbJPG", false));
    ASSERT_TRUE(profile.WriteBool("default", "CbJPG", false).Ok());
    EXPECT_TRUE(fs::is_symlink(dir / "defualt.ini"));
    EXPECT_TRUE(fs::is_symlink(dir / "second.ini"));
    EXPECT_EQ(ReadText(dir / "real" / "settings.ini"), "[default]\nCbJPG=0\n");
    // The lock lives beside the file it guards, whatever name the file was reached by.
    EXPECT_EQ(LockFileFor(dir / "second.ini"), dir / "real" / ".settings.ini.lock");

    // A dangling link: the first write creates its target.
    fs::create_symlink("made.ini", dir / "dangling.ini");
    ProfileFile dangling(dir / "dangling.ini");
    ASSERT_TRUE(dangling.WriteInteger("s", "k", 3).Ok());
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.ini"));
    EXPECT_EQ(ReadText(dir / "made.ini"), "[s]\nk=3\n");

    // A loop is refused, and stays as it was.
    fs::create_symlink("loop.ini", dir / "loop.ini");
    ProfileFile loop(dir / "loop.ini");
    EXPECT_EQ(loop.ReadInteger("s", "k", 9), 9);
    EXPECT_FALSE(loop.WriteInteger("s", "k", 3).Ok());
    EXPECT_TRUE(fs::is_symlink(dir / "loop.ini"));
}

TEST(ProfileFile, FileThatCannotBeLoadedIsNotReplaced) {
    ScratchDir dir;
    // A FIFO must neither block the reader (the alarm ends a hung test) nor be replaced.
    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    ::alarm(20);
    ProfileFile fifo(dir / "fifo.ini");
    EXPECT_EQ(fifo.ReadInteger("s", "k", 4), 4);
    EXPECT_EQ(fifo.WriteInteger("s", "k", 5).error,
              "Unable to write to " + (dir / "fifo.ini").string());
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.ini"));
    ::alarm(0);

    fs::create_directory(dir / "folder.ini");
    ProfileFile folder(dir / "folder.ini");
    EXPECT_FALSE(folder.WriteInteger("s", "k", 5).Ok());
    EXPECT_TRUE(fs::is_directory(dir / "folder.ini"));

    // Too large to be a settings file: kept, not rewritten from nothing.
    std::string big = "[s]\nk=1\n";
    big.resize(kMaxProfileFileBytes + 1, ';');
    WriteText(dir / "big.ini", big);
    ProfileFile tooBig(dir / "big.ini");
    EXPECT_EQ(tooBig.ReadInteger("s", "k", 7), 7);
    EXPECT_FALSE(tooBig.WriteChangedValues({{"s", "k", "2"}}).Ok());
    EXPECT_EQ(fs::file_size(dir / "big.ini"), big.size());
}

TEST(ProfileFile, EachProcessWritesOnlyTheKeysItChanged) {
    ScratchDir dir;
    WriteText(dir / "p.ini", "[s]\nx=1\ny=1\n");
    ProfileFile window(dir / "p.ini");
    ProfileFile quick(dir / "p.ini");
    EXPECT_EQ(window.ReadInteger("s", "x", 0), 1);
    EXPECT_EQ(window.ReadInteger("s", "y", 0), 1);
    EXPECT_FALSE(window.ReadBool("s", "z", false));  // missing: the default counts as read
    EXPECT_EQ(window.ReadString("s", "w", "dflt"), "dflt");
    ASSERT_TRUE(quick.WriteInteger("s", "x", 2).Ok());
    ASSERT_TRUE(quick.WriteBool("s", "z", true).Ok());
    ASSERT_TRUE(quick.WriteString("s", "w", "/q/").Ok());
    // The window closes: x, z and w are what it read, so the quick conversion's values stay.
    ASSERT_TRUE(window
                    .WriteChangedValues({{"s", "x", "1"},
                                         {"s", "y", "5"},
                                         {"s", "z", "0"},
                                         {"s", "w", "dflt"},
                                         {"s", "v", "new"}})
                    .Ok());
    EXPECT_EQ(ReadText(dir / "p.ini"), "[s]\nx=2\ny=5\nz=1\nw=/q/\nv=new\n");
    // A value this object wrote is its own: writing it again when unchanged does nothing.
    ASSERT_TRUE(quick.WriteInteger("s", "y", 6).Ok());
    ASSERT_TRUE(window.WriteChangedValues({{"s", "y", "5"}}).Ok());
    EXPECT_EQ(ProfileFile(dir / "p.ini").ReadInteger("s", "y", 0), 6);
    // Nothing changed: the file is not even rewritten.
    struct stat before {};
    ::stat((dir / "p.ini").c_str(), &before);
    ASSERT_TRUE(window.WriteChangedValues({{"s", "x", "1"}}).Ok());
    struct stat after {};
    ::stat((dir / "p.ini").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST(ProfileFile, ConcurrentProcessesLoseNoKey) {
    ScratchDir dir;
    const fs::path file = dir / "p.ini";
    constexpr int kWriters = 3;
    constexpr int kKeys = 25;
    EXPECT_TRUE(test::RunInChildProcesses(kWriters, [&](int w) {
        ProfileFile profile(file);
        bool ok = true;
        for (int k = 0; k < kKeys; ++k) {
            ok = profile.WriteInteger("s", "w" + std::to_string(w) + "k" + std::to_string(k), k)
                     .Ok() &&
                 ok;
        }
        return ok;
    }));
    ProfileFile profile(file);
    for (int w = 0; w < kWriters; ++w) {
        for (int k = 0; k < kKeys; ++k) {
            EXPECT_EQ(
                profile.ReadInteger("s", "w" + std::to_string(w) + "k" + std::to_string(k), -1), k)
                << w << " " << k;
        }
    }
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
