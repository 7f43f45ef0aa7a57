#pragma once
// The conversion options as the window's controls hold them, shared with a worker thread:
// the window updates them on every change, the worker takes a copy for each file and format,
// so a change made during a run applies from the next format or file and is never half-read.

#include <functional>
#include <mutex>

#include "app/convert/ConversionOptions.h"

namespace ozm {

class OptionsSnapshot {
  public:
    ConversionOptions Get() const {
        std::lock_guard lock(mutex_);
        return options_;
    }
    void Set(const ConversionOptions& options) {
        std::lock_guard lock(mutex_);
        options_ = options;
    }
    // Changes some fields in one step: a reader sees all of the change or none of it.
    void Update(const std::function<void(ConversionOptions&)>& change) {
        std::lock_guard lock(mutex_);
        change(options_);
    }

  private:
    mutable std::mutex mutex_;
    ConversionOptions options_;
};

}  // namespace ozm
