#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "platform/Processes.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A stand-in program that writes each argument it receives on a line of its own, then
// renames the record into place so the test never reads it half-written.
fs::path MakeRecorder(const fs::path& dir, const fs::path& record) {
    fs::path program = dir / "recorder";
    std::ofstream(program) << "#!/bin/sh\n"
                              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                           << record.string() << ".tmp'\nmv '" << record.string() << ".tmp' '"
                           << record.string() << "'\n";
    chmod(program.c_str(), 0700);
    return program;
}

bool WaitFor(const fs::path& file) {
    for (int i = 0; i < 500; ++i) {
        if (fs::exists(file)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(StartDetached, EveryArgumentArrivesWholeWithoutAShell) {
    test::ScratchDir dir;
    fs::path record = dir.Path() / "argv.txt";
    fs::path program = MakeRecorder(dir.Path(), record);
    std::vector<std::string> names = {"my photo.jpg",
                                      "it's \"quoted\".png",
                                      "$(touch ozm_injected).bmp",
                                      "*",
                                      "-rf",
                                      "图片 1.gif",
                                      "a;b|c&d"};
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), names.begin(), names.end());
    ASSERT_TRUE(StartDetached(argv));
    ASSERT_TRUE(WaitFor(record));
    std::string expected;
    for (const std::string& n : names) expected += n + "\n";
    EXPECT_EQ(ReadText(record), expected);
    EXPECT_FALSE(fs::exists("ozm_injected"));
    EXPECT_FALSE(fs::exists(dir.Path() / "ozm_injected"));
}

TEST(StartDetached, MissingProgramIsReportedAndNothingRuns) {
    EXPECT_FALSE(StartDetached({}));
    EXPECT_FALSE(StartDetached({""}));
    EXPECT_FALSE(StartDetached({"/nonexistent/ozm-no-such-program", "a"}));
    EXPECT_FALSE(StartDetached({"ozm-no-such-program-on-path"}));
}

// A copy of sleep under `path`, started with 30 s to wait; its id.
pid_t StartSleepCopy(const fs::path& path) {
    fs::create_directories(path.parent_path());
    fs::copy_file("/bin/sleep", path, fs::copy_options::overwrite_existing);
    chmod(path.c_str(), 0700);
    const pid_t pid = fork();
    if (pid == 0) {
        execl(path.c_str(), path.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Until exec has happened, /proc/PID/exe still names the test program.
    for (int i = 0; i < 500; ++i) {
        std::error_code ec;
        if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec) == path) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pid;
}

std::vector<pid_t> Ids(const std::vector<RunningProcess>& processes) {
    std::vector<pid_t> ids;
    for (const RunningProcess& p : processes) ids.push_back(p.pid);
    return ids;
}

TEST(EndProcesses, OnlyCopiesRunningExactlyThatFileAreEnded) {
    test::ScratchDir dir;
    const fs::path package = dir.Path() / "program" / "setupQV.run";
    const fs::path elsewhere = dir.Path() / "other" / "setupQV.run";
    const pid_t copy = StartSleepCopy(package);
    const pid_t sameName = StartSleepCopy(elsewhere);

    EXPECT_EQ(Ids(FindProcessesRunning(package)), std::vector<pid_t>{copy});
    // A relative spelling of the same file finds the same process.
    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    EXPECT_EQ(Ids(FindProcessesRunning("program/../program/setupQV.run")),
              std::vector<pid_t>{copy});
    fs::current_path(before);
    EXPECT_TRUE(FindProcessesRunning(dir.Path() / "program" / "setupQV").empty());

    EXPECT_TRUE(EndProcesses(FindProcessesRunning(package)));
    int status = 0;
    ASSERT_EQ(waitpid(copy, &status, 0), copy);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(waitpid(sameName, &status, WNOHANG), 0)
        << "the same name in another folder was ended";

    // A copy whose file was replaced since it started still counts as running that file.
    const pid_t replaced = StartSleepCopy(package);
    fs::remove(package);
    fs::copy_file("/bin/sleep", package);
    EXPECT_EQ(Ids(FindProcessesRunning(package)), std::vector<pid_t>{replaced});
    EXPECT_TRUE(EndProcesses(FindProcessesRunning(package)));
    EXPECT_EQ(waitpid(replaced, &status, 0), replaced);

    kill(sameName, SIGKILL);
    waitpid(sameName, &status, 0);
    // A process that is gone, or whose id now names another start, is not signalled.
    EXPECT_TRUE(EndProcesses({RunningProcess{sameName, 1}}));
}

TEST(EndProcesses, AScriptPackageIsFoundThroughItsInterpreter) {
    test::ScratchDir dir;
    std::vector<pid_t> pids;
    std::vector<fs::path> scripts;
    for (const char* folder : {"program", "other"}) {
        const fs::path script = dir.Path() / folder / "setupQV.run";
        fs::create_directories(script.parent_path());
        std::ofstream(script) << "#!/bin/sh\nwhile :; do sleep 0.05; done\n";
        chmod(script.c_str(), 0700);
        const pid_t pid = fork();
        if (pid == 0) {
            execl(script.c_str(), script.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Started once /proc shows the script's path among the interpreter's arguments.
        for (int i = 0; i < 500; ++i) {
            const std::string args = ReadText("/proc/" + std::to_string(pid) + "/cmdline");
            if (args.find(script.string()) != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pids.push_back(pid);
        scripts.push_back(script);
    }
    // The shell's own children are copies of it running the same script until they exec
    // sleep, and count as well; the same script in another folder does not.
    const std::vector<pid_t> found = Ids(FindProcessesRunning(scripts[0]));
    EXPECT_NE(std::find(found.begin(), found.end(), pids[0]), found.end());
    EXPECT_EQ(std::find(found.begin(), found.end(), pids[1]), found.end());
    EXPECT_TRUE(EndProcesses(FindProcessesRunning(scripts[0])));
    int status = 0;
    ASSERT_EQ(waitpid(pids[0], &status, 0), pids[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(waitpid(pids[1], &status, WNOHANG), 0) << "the same script in another folder";
    kill(pids[1], SIGTERM);
    waitpid(pids[1], &status, 0);
}

TEST(EndProcesses, AProcessThatIgnoresTheRequestIsNeverKilled) {
    test::ScratchDir dir;
    const fs::path program = dir.Path() / "stubborn";
    std::ofstream(program) << "#!/bin/sh\ntrap '' TERM\nexec sleep 30\n";
    chmod(program.c_str(), 0700);
    const pid_t pid = fork();
    if (pid == 0) {
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // The shell execs sleep with SIGTERM still ignored, so /proc/PID/exe becomes sleep's file.
    fs::path exe;
    for (int i = 0; i < 500 && exe.filename() != "sleep"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::error_code ec;
        exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    }
    const std::vector<RunningProcess> found = FindProcessesRunning(exe);
    ASSERT_FALSE(found.empty());
    std::vector<RunningProcess> only;
    for (const RunningProcess& p : found)
        if (p.pid == pid) only.push_back(p);
    ASSERT_EQ(only.size(), 1u);
    EXPECT_FALSE(EndProcesses(only, std::chrono::milliseconds(300)));
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "ended although it ignores SIGTERM";
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

}  // namespace
}  // namespace ozm
