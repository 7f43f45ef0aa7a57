// The uninstaller's steps in a scratch home (a fake trash and a fake window), and the
// removal script run for real with hostile paths.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "app/maintenance/Uninstall.h"
#include "app/shell/HandlerRegistration.h"
#include "platform/DesktopInstall.h"
#include "platform/FileHash.h"
#include "platform/Processes.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

constexpr std::string_view kTitle = "图片批量转换";

void WriteText(const fs::path& file, std::string_view text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

class FakeTrash : public Trash {
  public:
    bool MoveToTrash(const fs::path& path) override {
        trashed.push_back(path);
        return succeed;
    }
    std::vector<fs::path> trashed;
    bool succeed = true;
};

class FakeHost : public UninstallHost {
  public:
    void ShowMessageAtPointer(const std::string& text) override { messages.push_back(text); }
    bool StartScript(const fs::path& script) override {
        scripts.push_back(script);
        return true;
    }
    void EndProcess() override { ++ended; }
    std::vector<std::string> messages;
    std::vector<fs::path> scripts;
    int ended = 0;
};

class UninstallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The install would mark the shortcut trusted in the caller's session otherwise.
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        const fs::path home = scratch_.Path() / "home";
        at_ = {home, home / ".local/share", home / ".config", home / "Desktop"};
        const fs::path parts = scratch_.Path() / "parts";
        WriteText(parts / "ozm-imgconv", "#!/bin/sh\n");
        WriteText(parts / "Help.html", "<html></html>");
        WriteText(parts / "icons" / "ozm-imgconv.svg", "<svg/>");
        for (int size : kIconSizes) {
            WriteText(parts / "icons" / ("ozm-imgconv-" + std::to_string(size) + ".png"), "p");
        }
        const InstallSources from{parts / "ozm-imgconv", parts / "Help.html", parts / "icons",
                                  ImageHookFilter()};
        ASSERT_TRUE(InstallDesktopIntegration(at_, from, kTitle).Complete());
        RemoveHandlerRegistration(at_, kHandlerClassId, kFileHandlerName);
        places_.desktop = at_;
        places_.programFile = at_.ProgramFile();
        places_.settingsFolder = at_.ProgramFolder();
        places_.tempFolder = scratch_.Path() / "tmp";
        fs::create_directories(places_.tempFolder);
        places_.title = std::string(kTitle);
        places_.processId = ::getpid();
        WriteText(at_.ProgramFolder() / "defualt.ini", "[default]\n");
        WriteText(at_.ProgramFolder() / "HistoryPaths.txt", "/x/\n");
        WriteText(at_.ProgramFolder() / "source" / "p.jpg", "picture");
    }

    test::ScratchDir scratch_;
    DesktopLocations at_;
    UninstallPlaces places_;
    FakeTrash trash_;
    FakeHost host_;
};

TEST_F(UninstallTest, StartRemovesWhatTheInstallWroteAndStartsTheScript) {
    const fs::path userIcon = at_.dataHome / "icons/hicolor/64x64/apps/ozm-imgconv.png";
    WriteText(userIcon, "changed since the install");
    Uninstall uninstall(places_, trash_, host_);
    ASSERT_TRUE(uninstall.Start());

    EXPECT_FALSE(fs::exists(at_.DesktopShortcut(kTitle)));
    EXPECT_FALSE(fs::exists(at_.desktop));  // the installer made it; nothing else is there
    EXPECT_FALSE(fs::exists(at_.Applications()));
    EXPECT_FALSE(fs::exists(at_.Manifest(kTitle)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(at_.BinLink())));
    EXPECT_FALSE(fs::exists(at_.ProgramFolder() / "Help.html"));
    EXPECT_FALSE(fs::exists(at_.ProgramFolder() / "defualt.ini"));
    EXPECT_FALSE(fs::exists(at_.dataHome / "icons/hicolor/16x16"));
    EXPECT_TRUE(fs::exists(userIcon));  // not as the installer wrote it: kept
    // The program file is the script's, after the process has ended; the user's files stay.
    EXPECT_TRUE(fs::exists(at_.ProgramFile()));
    EXPECT_TRUE(fs::exists(at_.ProgramFolder() / "HistoryPaths.txt"));
    EXPECT_TRUE(fs::exists(at_.ProgramFolder() / "source" / "p.jpg"));
    EXPECT_TRUE(trash_.trashed.empty());

    EXPECT_EQ(host_.messages, std::vector<std::string>{"你已成功卸载『图片批量转换』"});
    ASSERT_EQ(host_.scripts.size(), 1u);
    const fs::path script = host_.scripts[0];
    EXPECT_EQ(script.parent_path(), places_.tempFolder);
    EXPECT_TRUE(script.filename().string().starts_with("uis"));
    EXPECT_EQ(script.extension(), ".sh");
    struct stat st {};
    ASSERT_EQ(::stat(script.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(host_.ended, 1);

    // The script, run once this process "has ended" (it waits for a pid that is gone).
    const std::string text = MakeSelfDeleteScript(at_.ProgramFile(), {at_.ProgramFolder()}, script,
                                                  /*processId=*/999999999, 1);
    WriteText(script, text);
    EXPECT_EQ(RunAndWait({"/bin/sh", script.string()}, 10000), 0);
    EXPECT_FALSE(fs::exists(at_.ProgramFile()));
    EXPECT_FALSE(fs::exists(script));
    EXPECT_TRUE(fs::exists(at_.ProgramFolder() / "source" / "p.jpg"));
}

TEST_F(UninstallTest, TamperedManifestReachesNothingButTheInstallersOwnPaths) {
    // The user's files, listed in the manifest with their true hashes, as the installer's
    // own lines are; an empty folder and a link of theirs too.
    const fs::path docs = at_.home / "Documents";
    const fs::path report = docs / "report.odt";
    const fs::path hooked = at_.dataHome / "nautilus/scripts/mine";
    WriteText(report, "the only copy");
    WriteText(hooked, "#!/bin/sh\n");
    fs::create_directories(docs / "empty");
    fs::create_symlink(report, at_.home / "report-link");
    std::string lines;
    for (const fs::path& f : {report, hooked}) {
        lines += "file\t" + FileSha256Hex(f).value_or("") + "\t" + f.string() + "\n";
    }
    lines += "cache\t" + FileSha256Hex(report).value_or("") + "\t" + report.string() + "\n";
    lines += "link\t" + report.string() + "\t" + (at_.home / "report-link").string() + "\n";
    lines += "dir\t\t" + (docs / "empty").string() + "\ndir\t\t" + docs.string() + "\n";
    {
        std::ofstream out(at_.Manifest(kTitle), std::ios::app);
        out << lines;
    }
    Uninstall uninstall(places_, trash_, host_);
    ASSERT_TRUE(uninstall.Start());
    EXPECT_TRUE(fs::exists(report));
    EXPECT_TRUE(fs::exists(hooked));
    EXPECT_TRUE(fs::is_directory(docs / "empty"));
    EXPECT_TRUE(fs::is_symlink(at_.home / "report-link"));
    // What the installer wrote still went.
    EXPECT_FALSE(fs::exists(at_.MenuEntry(kTitle)));
    EXPECT_FALSE(fs::exists(at_.dataHome / "icons"));
    EXPECT_FALSE(fs::exists(at_.Manifest(kTitle)));
}

TEST_F(UninstallTest, ShortcutFolderOfThatNameGoesToTheTrash) {
    fs::remove(at_.DesktopShortcut(kTitle));
    const fs::path folder = at_.desktop / "OZM软件" / "图片批量转换";
    WriteText(folder / "inside.txt", "user's");
    const fs::path autostart = at_.Autostart() / "OZM软件" / "图片批量转换.desktop";
    WriteText(autostart, "[Desktop Entry]\n");
    EXPECT_TRUE(
        RemoveShortcut(at_, fs::path("OZM软件") / kTitle, ShortcutKind::Startup, "", trash_));
    EXPECT_FALSE(fs::exists(autostart));
    Uninstall uninstall(places_, trash_, host_);
    ASSERT_TRUE(uninstall.Start());
    EXPECT_EQ(trash_.trashed, std::vector<fs::path>{folder});
    EXPECT_TRUE(fs::exists(folder / "inside.txt"));  // the fake trash moved nothing

    // The trash refusing ends the sequence: no message, no script, the window stays.
    FakeHost second;
    trash_.succeed = false;
    Uninstall again(places_, trash_, second);
    EXPECT_FALSE(again.Start());
    EXPECT_TRUE(second.messages.empty());
    EXPECT_TRUE(second.scripts.empty());
    EXPECT_EQ(second.ended, 0);
}

TEST_F(UninstallTest, FailingStepEndsTheSequenceAndSystemFilesAreNeverTouched) {
    // A settings "file" that cannot be deleted.
    fs::remove(at_.ProgramFolder() / "defualt.ini");
    WriteText(at_.ProgramFolder() / "defualt.ini" / "x", "");
    Uninstall failing(places_, trash_, host_);
    EXPECT_FALSE(failing.Start());
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_EQ(host_.ended, 0);
    fs::remove_all(at_.ProgramFolder() / "defualt.ini");

    // Run from a system folder: no removal script, the process still ends.
    places_.programFile = "/usr/bin/ozm-imgconv";
    Uninstall system(places_, trash_, host_);
    EXPECT_TRUE(system.Start());
    EXPECT_TRUE(host_.scripts.empty());
    EXPECT_EQ(host_.ended, 1);
    EXPECT_EQ(host_.messages.size(), 1u);
}

// A folder tree with hostile names, the program file in the deepest folder.
struct HostileTree {
    fs::path root, folder, program, keep;
};

HostileTree MakeHostileTree(const fs::path& base) {
    HostileTree t;
    t.root = base / "my dir 'q' \"dq\" $(touch ozm_inj1) `touch ozm_inj2` *";
    t.folder = t.root / "a\nb; rm -rf ~ &";
    t.program = t.folder / "-ozm imgconv";
    t.keep = t.root / "keep";
    WriteText(t.program, "binary");
    WriteText(t.keep, "stays");
    return t;
}

bool WaitGone(const fs::path& path, int ms) {
    for (int i = 0; i < ms / 20; ++i) {
        if (!fs::exists(fs::symlink_status(path))) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(SelfDeleteScript, WaitsForTheProcessThenDeletesOnlyTheProgramFile) {
    test::ScratchDir dir;
    const HostileTree t = MakeHostileTree(dir.Path());
    const fs::path temp = dir.Path() / "tmp 'it''s' $(touch ozm_inj1)";
    fs::create_directories(temp);

    pid_t sleeper = fork();
    if (sleeper == 0) {
        execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    const fs::path script = WriteSelfDeleteScript(temp, t.program, {t.folder, t.root}, sleeper, 30);
    ASSERT_FALSE(script.empty());
    ASSERT_TRUE(StartDetached({"/bin/sh", script.string()}));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_TRUE(fs::exists(t.program)) << "deleted while the process still ran";
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
    EXPECT_TRUE(WaitGone(script, 5000));
    EXPECT_FALSE(fs::exists(t.program));
    EXPECT_FALSE(fs::exists(t.folder));  // emptied: removed
    EXPECT_TRUE(fs::exists(t.root));     // holds another file: stays
    EXPECT_TRUE(fs::exists(t.keep));
    for (const fs::path& where : {dir.Path(), temp, t.root, fs::path("/"), fs::current_path()}) {
        EXPECT_FALSE(fs::exists(where / "ozm_inj1")) << where;
        EXPECT_FALSE(fs::exists(where / "ozm_inj2")) << where;
    }
}

TEST(SelfDeleteScript, FolderHoldingSourceStaysAndAnUndeletableFileEndsAfterTheBound) {
    test::ScratchDir dir;
    const HostileTree t = MakeHostileTree(dir.Path());
    WriteText(t.folder / "source" / "photo.jpg", "user's");
    // The process never ends within the bound (it is this test), and the "program file"
    // cannot be deleted by rm -f (a folder with a file in it): the script still ends.
    const fs::path stuck = t.root / "stuck";
    WriteText(stuck / "inner", "");
    const fs::path script =
        WriteSelfDeleteScript(dir.Path(), stuck, {t.root}, static_cast<long>(::getpid()), 1);
    ASSERT_FALSE(script.empty());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunAndWait({"/bin/sh", script.string()}, 20000), 0);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(900));  // it did wait for the live process
    EXPECT_FALSE(fs::exists(script));
    EXPECT_TRUE(fs::exists(stuck / "inner"));
    EXPECT_TRUE(fs::exists(t.root));

    const fs::path second = WriteSelfDeleteScript(dir.Path(), t.program, {t.folder}, 999999999, 1);
    EXPECT_EQ(RunAndWait({"/bin/sh", second.string()}, 20000), 0);
    EXPECT_FALSE(fs::exists(t.program));
    EXPECT_TRUE(fs::exists(t.folder / "source" / "photo.jpg"));
}

TEST(SelfDeleteScript, NamesAreUniqueAndNeverReuseAnExistingFile) {
    test::ScratchDir dir;
    const fs::path a = WriteSelfDeleteScript(dir.Path(), "/nonexistent/p", {}, 0, 1);
    const fs::path b = WriteSelfDeleteScript(dir.Path(), "/nonexistent/p", {}, 0, 1);
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(WriteSelfDeleteScript(dir.Path() / "missing", "/x", {}, 0, 1).empty());
}

}  // namespace
}  // namespace ozm

namespace ozm {
namespace {

TEST(RunAndWait, GivesTheExitStatusAndEndsAProgramPastItsTime) {
    EXPECT_EQ(RunAndWait({"/bin/sh", "-c", "exit 3"}, 5000), 3);
    EXPECT_EQ(RunAndWait({"ozm-no-such-program-on-path"}, 5000), -1);
    EXPECT_EQ(RunAndWait({}, 5000), -1);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunAndWait({"sleep", "30"}, 200), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

}  // namespace
}  // namespace ozm
