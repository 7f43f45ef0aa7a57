#pragma once
// The update tests' web server (tests/tools/update_server.py) on 127.0.0.1, started for the
// life of this object. Header-only, so the benchmark can use it without the test library.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

namespace ozm::test {

class LoopbackServer {
  public:
    // `script` is update_server.py; the good package appends a line to `marker` when run.
    LoopbackServer(const std::string& script, const std::string& marker) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            const char* devNull = "/dev/null";
            const int quiet = open(devNull, O_WRONLY);
            if (quiet >= 0) dup2(quiet, 2);
            execlp("python3", "python3", script.c_str(), "--marker", marker.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        while (pid_ > 0 && read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        close(out[0]);
        port_ = std::atoi(line.c_str());
    }
    ~LoopbackServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Running() const { return port_ > 0; }
    int Port() const { return port_; }
    // "http://127.0.0.1:PORT/CASE/": a product page whose server behaves as CASE says.
    std::string Page(const std::string& caseName) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + caseName + "/";
    }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace ozm::test
