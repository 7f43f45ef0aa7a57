#include "platform/Processes.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>

extern char** environ;

namespace ozm {

namespace {

// Only async-signal-safe calls between fork and exec: the parent may have other threads.
[[noreturn]] void ExecGrandchild(char* const* args, int reportFd) {
    int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull >= 0) {
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvp(args[0], args);
    int error = errno;
    (void)!write(reportFd, &error, sizeof error);
    _exit(127);
}

// Field 3 (state) and field 22 (start time) of /proc/PID/stat. The command name in field 2
// may hold blanks and brackets, so the fields are counted from its last ')'.
struct ProcStat {
    char state = '?';
    std::uint64_t startTicks = 0;
};

std::optional<ProcStat> ReadProcStat(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(line.substr(close + 1));
    ProcStat stat;
    fields >> stat.state;
    std::string skip;
    for (int field = 4; field < 22; ++field) fields >> skip;
    fields >> stat.startTicks;
    if (!fields) return std::nullopt;
    return stat;
}

bool OwnedByThisUser(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Uid:", 0) != 0) continue;
        std::istringstream ids(line.substr(4));
        uid_t real = 0, effective = 0;
        if (!(ids >> real >> effective)) return false;
        return real == getuid() && effective == getuid();
    }
    return false;
}

bool StillRunning(const RunningProcess& process) {
    const std::optional<ProcStat> stat = ReadProcStat(process.pid);
    return stat && stat->startTicks == process.startTicks && stat->state != 'Z' &&
           stat->state != 'X';
}

// The interpreter a script names on its first line ("#!/bin/sh -e" gives /bin/sh with links
// resolved, as /proc shows it), or empty when `file` is not such a script.
std::string ScriptInterpreter(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    char head[256] = {};
    in.read(head, sizeof head - 1);
    const std::string text(head, static_cast<std::size_t>(in.gcount()));
    if (text.rfind("#!", 0) != 0) return {};
    std::istringstream words(text.substr(2, text.find('\n') - 2));
    std::string interpreter;
    words >> interpreter;
    if (interpreter.empty() || interpreter[0] != '/') return {};
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(interpreter, ec);
    return ec ? std::string() : real.string();
}

std::vector<std::string> CommandLineOf(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
    return args;
}

}  // namespace

std::vector<RunningProcess> FindProcessesRunning(const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path plain = fs::absolute(file, ec).lexically_normal();
    const fs::path resolved = fs::weakly_canonical(plain, ec);
    std::vector<std::string> wanted = {plain.string()};
    if (!ec && resolved != plain) wanted.push_back(resolved.string());

    // A script runs as its interpreter, with its own path after the interpreter's name (and
    // the one option a "#!" line may carry).
    const std::string interpreter = ScriptInterpreter(plain);
    auto isWanted = [&](const std::string& path) {
        for (const std::string& w : wanted)
            if (path == w) return true;
        return false;
    };

    std::vector<RunningProcess> found;
    const pid_t self = getpid();
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == self) continue;
        char target[4096];
        const ssize_t length =
            readlink(("/proc/" + name + "/exe").c_str(), target, sizeof target - 1);
        if (length <= 0) continue;  // a kernel thread, or not ours to look at
        const std::string exe(target, static_cast<std::size_t>(length));
        bool matches = false;
        for (const std::string& w : wanted)
            matches = matches || exe == w || exe == w + " (deleted)";
        if (!matches && !interpreter.empty() && exe == interpreter) {
            const std::vector<std::string> args = CommandLineOf(name);
            matches =
                (args.size() > 1 && isWanted(args[1])) || (args.size() > 2 && isWanted(args[2]));
        }
        if (!matches || !OwnedByThisUser(pid)) continue;
        if (const std::optional<ProcStat> stat = ReadProcStat(pid))
            found.push_back({pid, stat->startTicks});
    }
    return found;
}

bool EndProcesses(const std::vector<RunningProcess>& processes, std::chrono::milliseconds grace) {
    for (const RunningProcess& process : processes)
        if (StillRunning(process)) kill(process.pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (;;) {
        bool any = false;
        for (const RunningProcess& process : processes) any = any || StillRunning(process);
        if (!any) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool StartDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return false;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    // The pipe's write end closes on a successful exec; an errno arriving on it means the
    // exec failed.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;

    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        // The middle process starts a new session and leaves at once, so the program is
        // adopted by init (or the nearest subreaper) and never becomes our zombie.
        close(report[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild < 0) {
            int error = errno;
            (void)!write(report[1], &error, sizeof error);
            _exit(1);
        }
        if (grandchild == 0) ExecGrandchild(args.data(), report[1]);
        _exit(0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    return got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ProgramResult RunProgram(const std::vector<std::string>& argv, int timeoutMs) {
    ProgramResult result;
    if (argv.empty() || argv[0].empty()) return result;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd fd{out[0], POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        // A setter has no business writing more than a listing: the rest is dropped.
        if (result.output.size() < (1u << 20)) result.output.append(buffer, std::size_t(got));
    }
    close(out[0]);
    int status = 0;
    bool reaped = false;
    if (timedOut) {
        // The program may have ended and left a child of its own holding the output open.
        reaped = waitpid(pid, &status, WNOHANG) == pid;
        if (reaped) {
            timedOut = false;
        } else {
            kill(pid, SIGKILL);
        }
    }
    while (!reaped && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // posix_spawnp reports a program it cannot execute as exit status 127.
    if (!timedOut && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (result.status == 127) result.status = -1;
    return result;
}

int RunAndWait(const std::vector<std::string>& argv, int timeoutMs) {
    return RunProgram(argv, timeoutMs).status;
}

}  // namespace ozm
