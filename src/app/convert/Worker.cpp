#include "app/convert/Worker.h"

#include <chrono>

#include "app/convert/UiBridge.h"

namespace ozm {

Worker::Worker(UiBridge* bridge, std::atomic<bool>* stop)
    : bridge_(bridge), stop_(stop ? *stop : ownStop_) {}

Worker::~Worker() { Abandon(); }

void Worker::Start(std::function<void()> job) {
    // The previous job has returned (Running() was false); its thread is only ending.
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    try {
        thread_ = std::thread([this, job = std::move(job)] {
            job();
            {
                std::lock_guard lock(mutex_);
                running_ = false;
            }
            done_.notify_all();
        });
    } catch (...) {
        std::lock_guard lock(mutex_);
        running_ = false;
        throw;
    }
}

bool Worker::Running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void Worker::Wait() {
    for (;;) {
        if (bridge_) bridge_->RunPending();
        std::unique_lock lock(mutex_);
        if (done_.wait_for(lock, std::chrono::milliseconds(5), [this] { return !running_; })) break;
    }
    if (thread_.joinable()) thread_.join();
    if (bridge_) bridge_->RunPending();
}

void Worker::Abandon() {
    stop_ = true;
    if (bridge_) bridge_->Close();
    if (thread_.joinable()) thread_.join();
}

}  // namespace ozm
