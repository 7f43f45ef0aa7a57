#include "cli/NameList.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "core/formats/io/FileBytes.h"

namespace ozm {

namespace {
constexpr std::size_t kBuffer = 64 * 1024;
}

NameList::NameList(std::vector<std::string> names) : names_(std::move(names)) {
    exhausted_ = names_.empty();
}

NameList::NameList(int list, char separator, std::string listName,
                   std::function<bool()> stopped)
    : list_(list),
      separator_(separator),
      listName_(std::move(listName)),
      stopped_(std::move(stopped)),
      buffer_(kBuffer) {}

std::optional<std::size_t> NameList::Total() const {
    if (list_ < 0) return names_.size();
    if (exhausted_ && !cut_) return taken_;
    return std::nullopt;
}

// Refills the buffer; false at the list's end, on a read error (with `error` set) or a stop.
bool NameList::Fill(std::string* error) {
    begin_ = end_ = 0;
    for (;;) {
        pollfd ready{list_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, 100);
        if (polled < 0 && errno != EINTR) {
            *error = "cannot read " + listName_ + ": " + SystemErrorText(errno);
            return false;
        }
        if (polled <= 0) {
            if (stopped_ && stopped_()) {
                cut_ = true;
                return false;
            }
            continue;
        }
        const ssize_t n = ::read(list_, buffer_.data(), buffer_.size());
        if (n > 0) {
            end_ = static_cast<std::size_t>(n);
            return true;
        }
        if (n == 0) return false;
        if (errno == EINTR || errno == EAGAIN) continue;
        *error = "cannot read " + listName_ + ": " + SystemErrorText(errno);
        return false;
    }
}

std::optional<std::string> NameList::Next(std::string* error) {
    if (exhausted_) return std::nullopt;
    if (list_ < 0) {
        std::string name = std::move(names_[taken_++]);
        exhausted_ = taken_ == names_.size();
        if (exhausted_) names_ = {};
        return name;
    }
    std::string name;
    bool tooLong = false;
    for (;;) {
        if (begin_ == end_ && !Fill(error)) {
            exhausted_ = true;
            if (!error->empty() || (name.empty() && !tooLong)) return std::nullopt;
            break;
        }
        const char c = buffer_[begin_++];
        if (c == separator_) {
            if (name.empty() && !tooLong) continue;
            break;
        }
        if (name.size() < kMaxName)
            name.push_back(c);
        else
            tooLong = true;
    }
    ++taken_;
    if (tooLong) {
        *error = listName_ + ": a name of more than " + std::to_string(kMaxName) +
                 " bytes, beginning " + name.substr(0, 40);
        return std::string();
    }
    return name;
}

}  // namespace ozm
