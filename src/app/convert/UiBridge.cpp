#include "app/convert/UiBridge.h"

namespace ozm {

UiBridge::~UiBridge() { Close(); }

void UiBridge::SetUiThread(std::thread::id id) {
    std::lock_guard lock(mutex_);
    uiThread_ = id;
}

bool UiBridge::OnUiThread() const {
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == uiThread_;
}

void UiBridge::SetWakeUp(std::function<void()> wakeUp) {
    std::lock_guard lock(mutex_);
    wakeUp_ = std::move(wakeUp);
}

void UiBridge::Post(std::function<void()> call) {
    if (OnUiThread()) {
        if (!Closed()) call();
        return;
    }
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        // A queue that holds calls already has a wake-up on its way, or is being emptied:
        // one wake-up serves every call made meanwhile.
        if (queue_.empty()) wake = wakeUp_;
        queue_.push_back(Item{std::move(call), nullptr});
    }
    if (wake) wake();
}

bool UiBridge::PostAndWait(std::function<void()> call) {
    if (OnUiThread()) {
        if (Closed()) return false;
        call();
        return true;
    }
    auto done = std::make_shared<bool>(false);
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        // A queue that holds calls already has a wake-up on its way, or is being emptied:
        // one wake-up serves every call made meanwhile.
        if (queue_.empty()) wake = wakeUp_;
        queue_.push_back(Item{std::move(call), done});
    }
    if (wake) wake();
    std::unique_lock lock(mutex_);
    ran_.wait(lock, [&] { return *done || closed_; });
    return *done;
}

void UiBridge::RunPending() {
    for (;;) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            if (closed_ || queue_.empty()) return;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        item.call();
        if (item.done) {
            std::lock_guard lock(mutex_);
            *item.done = true;
        }
        if (item.done) ran_.notify_all();
    }
}

void UiBridge::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        queue_.clear();
    }
    ran_.notify_all();
}

bool UiBridge::Closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace ozm
