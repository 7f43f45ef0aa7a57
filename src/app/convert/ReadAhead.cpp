#include "app/convert/ReadAhead.h"

#include <system_error>
#include <utility>

#include "core/formats/ImgConvertUnit.h"

namespace ozm {

ReadAhead::~ReadAhead() { Wait(); }

void ReadAhead::Wait() {
    if (thread_.joinable()) thread_.join();
}

void ReadAhead::Start(const std::string& path) {
    Wait();
    path_.reset();
    result_ = Result{};
    try {
        thread_ = std::thread([this, path] {
            // ReadImageFile catches whatever a decoder throws and answers false.
            result_.read = ReadImageFile(
                path, result_.bitmap,
                [this](const std::string& text) { result_.messages.push_back(text); },
                &result_.reason);
        });
        path_ = path;
    } catch (const std::system_error&) {
        // No thread: the run reads the file itself at its turn.
    }
}

std::optional<ReadAhead::Result> ReadAhead::Take(const std::string& path) {
    Wait();
    if (!path_ || *path_ != path) {
        path_.reset();
        result_ = Result{};
        return std::nullopt;
    }
    path_.reset();
    return std::exchange(result_, Result{});
}

}  // namespace ozm
