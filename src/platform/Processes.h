#pragma once
// Starting and ending other programs without a shell.

#include <string>
#include <vector>

namespace ozm {

// Starts argv[0] (looked up on PATH when it has no "/") with the given arguments, each
// reaching the program as exactly one argument: no shell is involved. The child runs in a
// session of its own, with stdin, stdout and stderr on /dev/null, and is not our child once
// started (no zombie is left). True when the program was executed; false when argv is empty,
// the program cannot be found or executed, or a fork fails.
bool StartDetached(const std::vector<std::string>& argv);

// Runs argv[0] (looked up on PATH) with the arguments, no shell, streams on /dev/null, and
// waits up to `timeoutMs` milliseconds for it; a program still running then is killed. Its
// exit status, or -1 when it could not be started, was killed or did not exit normally.
int RunAndWait(const std::vector<std::string>& argv, int timeoutMs);

}  // namespace ozm
