#pragma once
// Starting and ending other programs without a shell.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ozm {

// Starts argv[0] (looked up on PATH when it has no "/") with the given arguments, each
// reaching the program as exactly one argument: no shell is involved. The child runs in a
// session of its own, with stdin, stdout and stderr on /dev/null, and is not our child once
// started (no zombie is left). True when the program was executed; false when argv is empty,
// the program cannot be found or executed, or a fork fails.
bool StartDetached(const std::vector<std::string>& argv);

// The result of running one program: its exit status (-1 when it could not be started or was
// ended for taking too long) and what it wrote to its standard output.
struct ProgramResult {
    int status = -1;
    std::string output;
};

// Runs argv (looked up on PATH) without a shell, stdin and stderr on /dev/null, and waits
// for it at most `timeoutMs`; a program that takes longer is killed.
ProgramResult RunProgram(const std::vector<std::string>& argv, int timeoutMs = 5000);

// RunProgram with the output dropped: the exit status, or -1 when the program could not be
// started, was killed or did not exit normally.
int RunAndWait(const std::vector<std::string>& argv, int timeoutMs);

// A process as found in /proc: its id and its start time (clock ticks after boot), so that an
// id reused by a newer process is never mistaken for it.
struct RunningProcess {
    pid_t pid = 0;
    std::uint64_t startTicks = 0;
};

// This user's processes (real and effective user id ours), other than this one, whose
// program file (/proc/PID/exe) is exactly `file`, also when that file has since been removed
// or replaced (the kernel then adds " (deleted)" to the link). Compared as given, after
// making `file` absolute; a process of the same name in another folder never matches. When
// `file` is a script whose "#!" line names an interpreter by its full path, the processes of
// that interpreter running it (its path as the script argument) count as well.
std::vector<RunningProcess> FindProcessesRunning(const std::filesystem::path& file);

// Sends SIGTERM to each process still the one found, then waits until all have ended, at
// most `grace`. Never SIGKILL: a process in the middle of writing gets to finish cleanly.
// True when none of them runs any more.
bool EndProcesses(const std::vector<RunningProcess>& processes,
                  std::chrono::milliseconds grace = std::chrono::seconds(5));

}  // namespace ozm
