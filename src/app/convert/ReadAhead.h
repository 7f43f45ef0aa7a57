#pragma once
// The next file of a one-at-a-time run read while the current one is being written, so that
// the serial decode of one file and the deflate of the other share the cores. A read taken
// for its own file stands exactly for the read the run would have made at that moment: the
// reader's messages are kept and passed on only then, and a read that the run never asks for
// (the selection changed, a stop) is dropped without a trace.

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/bitmap/Bitmap.h"

namespace ozm {

class ReadAhead {
  public:
    struct Result {
        bool read = false;  // ReadImageFile's answer
        Bitmap bitmap;
        std::vector<std::string> messages;  // the reader's messages, in order
        std::string reason;                 // why the read failed
    };

    ReadAhead() = default;
    // Waits for a read still running.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts reading `path` on a thread of its own, after any earlier read has ended (and
    // been dropped). Without a thread to be had, nothing is read ahead.
    void Start(const std::string& path);
    // The read of `path`, waited for; nullopt when no read of `path` was started (a read
    // of another file is dropped).
    std::optional<Result> Take(const std::string& path);

  private:
    void Wait();

    std::thread thread_;
    std::optional<std::string> path_;
    Result result_;
};

}  // namespace ozm
