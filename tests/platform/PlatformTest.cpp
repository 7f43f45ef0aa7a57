#include <gtest/gtest.h>
#include <fstream>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(AtomicFile, FullDiskLeavesTheOldFile) {
    test::ScratchDir dir;
    std::error_code ec;
    ASSERT_TRUE(ReplaceFileAtomically(dir / "f", "old content", ec));
    // The child's file size limit stands in for a full disk: its writes fail part-way.
    EXPECT_TRUE(test::RunInChildProcesses(1, [&](int) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::error_code childEc;
        const bool ok = ReplaceFileAtomically(dir / "f", std::string(5000, 'n'), childEc);
        return !ok && childEc == std::errc::file_too_large;
    }));
    EXPECT_EQ(ReadWholeFile(dir / "f", 100).bytes, "old content");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(AtomicFile, OnlyRegularFilesAreReadOrReplaced) {
    test::ScratchDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ::alarm(20);  // a reader that blocks on the FIFO ends the test
    EXPECT_EQ(ReadWholeFile(dir / "fifo", 100).status, ReadStatus::Failed);
    ::alarm(0);
    std::error_code ec;
    EXPECT_FALSE(ReplaceFileAtomically(dir / "fifo", "x", ec));
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_EQ(ReadWholeFile("/dev/null", 100).status, ReadStatus::Failed);

    // Links: followed for reading, kept when writing; relative texts count from the link.
    fs::create_directory(dir / "d");
    fs::create_symlink("d/target", dir / "a");
    fs::create_symlink("../a", dir / "d" / "b");
    EXPECT_EQ(ResolveFileLinks(dir / "d" / "b", ec), dir / "d" / ".." / "d" / "target");
    ASSERT_TRUE(ReplaceFileAtomically(dir / "d" / "b", "via link", ec));
    EXPECT_TRUE(fs::is_symlink(dir / "a") && fs::is_symlink(dir / "d" / "b"));
    EXPECT_EQ(ReadWholeFile(dir / "a", 100).bytes, "via link");
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    EXPECT_EQ(ResolveFileLinks(dir / "loop1", ec), fs::path());
    EXPECT_TRUE(ec);
    EXPECT_FALSE(ReplaceFileAtomically(dir / "loop1", "x", ec));
}

TEST(AtomicFile, LockIsExclusiveAcrossProcesses) {
    test::ScratchDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::error_code ec;
        const FileLock lock(dir / "f", ec);
        const char c = lock.Locked() ? 'y' : 'n';
        (void)::write(ready[1], &c, 1);
        ::pause();  // holds the lock until killed
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    std::error_code ec;
    {
        const FileLock busy(dir / "f", ec, 50);
        EXPECT_FALSE(busy.Locked());
        EXPECT_TRUE(ec);
    }
    ::kill(child, SIGKILL);  // the kernel releases a dead holder's lock
    ::waitpid(child, nullptr, 0);
    const FileLock mine(dir / "f", ec, 1000);
    EXPECT_TRUE(mine.Locked());
    EXPECT_TRUE(fs::is_regular_file(dir / ".f.lock"));
    ::close(ready[0]);
    ::close(ready[1]);
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

TEST(ProgramFolder, HelpPageBesideTheProgramElseInThePrefixShareFolder) {
    test::ScratchDir dir;
    fs::create_directories(dir / "usr" / "bin");
    // No share folder: the program's own folder stays the answer.
    EXPECT_EQ(ChooseDataFolder(dir / "usr" / "bin"), dir / "usr" / "bin");
    fs::create_directories(dir / "usr" / "share" / "ozm-imgconv");
    EXPECT_EQ(ChooseDataFolder(dir / "usr" / "bin"), dir / "usr" / "share" / "ozm-imgconv");
    EXPECT_EQ(ChooseDataFolder(dir / "usr" / "bin" / ""), dir / "usr" / "share" / "ozm-imgconv");
    // A build tree or a per-user install keeps its page beside the program.
    std::ofstream(dir / "usr" / "bin" / "Help.html") << "<html/>";
    EXPECT_EQ(ChooseDataFolder(dir / "usr" / "bin"), dir / "usr" / "bin");
    EXPECT_EQ(ChooseDataFolder(dir / "lib"), dir / "lib");
}

TEST(ProgramFolder, NeverASystemFolderOrSomeoneElsesFolder) {
    test::ScratchDir dir;
    const fs::path fallback = dir / "data" / "ozm-imgconv" / "";
    // Writable to root, but a system folder whoever runs the program.
    EXPECT_EQ(ChooseProgramFolder("/usr/bin", dir / "data"), fallback);
    EXPECT_EQ(ChooseProgramFolder("/", dir / "data"), fallback);
    for (const char* folder :
         {"/", "/usr", "/usr/local/bin", "/bin", "/sbin", "/lib", "/lib64", "/opt/x", "/etc",
          "/var/lib", "/boot", "/snap/bin", "/usr/../etc", "relative"}) {
        EXPECT_TRUE(IsSystemFolder(folder)) << folder;
    }
    for (const char* folder : {"/home/u/apps/ozm", "/tmp/x", "/root/ozm", "/usr/../home/u"}) {
        EXPECT_FALSE(IsSystemFolder(folder)) << folder;
    }
    // A folder of another user, even one this process may write into.
    fs::create_directory(dir / "other");
    if (::chown((dir / "other").c_str(), ::geteuid() + 1, ::getegid()) == 0) {
        EXPECT_EQ(ChooseProgramFolder(dir / "other", dir / "data"), fallback);
    }
    // A folder everyone may write to, such as a temporary folder.
    fs::create_directory(dir / "open");
    fs::permissions(dir / "open", fs::perms::all);
    EXPECT_EQ(ChooseProgramFolder(dir / "open", dir / "data"), fallback);
    EXPECT_EQ(ChooseProgramFolder(dir.Path(), dir / "data"), dir.Path() / "");
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
