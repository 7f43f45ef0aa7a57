// The files of a batch, given on the command line or read from a list one name at a time, so
// that a batch of any length needs neither a long command line nor memory in its length.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ozm {

class NameList {
  public:
    // A name longer than this cannot be opened on Linux (PATH_MAX is 4096 bytes); the limit
    // only keeps a list without separators from being read into memory whole.
    static constexpr std::size_t kMaxName = 64 * 1024;

    explicit NameList(std::vector<std::string> names);
    // Reads the descriptor `list` (not owned; closed by the caller) name by name, each ended
    // by `separator` ('\n' or '\0'). Empty names are skipped, so a trailing separator or blank
    // line is fine. While the list has nothing to read (a pipe whose writer is slow), `stopped`
    // is asked every 100 ms; when it says yes the list ends there.
    NameList(int list, char separator, std::string listName, std::function<bool()> stopped);

    // The next name, or nothing at the list's end. A name over kMaxName comes back empty
    // with `error` set; a read error ends the list with `error` set.
    std::optional<std::string> Next(std::string* error);

    bool Exhausted() const { return exhausted_; }
    std::size_t Taken() const { return taken_; }
    // Only known for names given on the command line, or once a list is read to its end.
    std::optional<std::size_t> Total() const;

  private:
    std::vector<std::string> names_;
    bool Fill(std::string* error);

    int list_ = -1;
    char separator_ = '\n';
    std::string listName_;
    std::function<bool()> stopped_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0, end_ = 0;  // the unread part of buffer_
    std::size_t taken_ = 0;
    bool exhausted_ = false;
    bool cut_ = false;  // ended by a stop, not by the list's end
};

}  // namespace ozm
