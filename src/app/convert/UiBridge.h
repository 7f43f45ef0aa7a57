#pragma once
// How work on a worker thread reaches the window's thread. A window has one thread that may
// touch its widgets; a conversion worker posts calls to it, and waits for the ones whose
// answer it needs (a modal message). Plain C++, so the same bridge runs under the tests
// with a real std::thread and, in the window, behind one queued call per wake-up.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ozm {

class UiBridge {
  public:
    UiBridge() : uiThread_(std::this_thread::get_id()) {}
    UiBridge(const UiBridge&) = delete;
    UiBridge& operator=(const UiBridge&) = delete;
    // Closes the bridge: every waiter is released.
    ~UiBridge();

    // The thread whose calls run at once and that RunPending must be called on; by default
    // the thread that made the bridge.
    void SetUiThread(std::thread::id id);
    bool OnUiThread() const;

    // Called (on any thread) whenever a call was queued, so the window can schedule a
    // RunPending on its own thread. Set it before any worker starts.
    void SetWakeUp(std::function<void()> wakeUp);

    // Queues `call` for the UI thread and returns at once; on the UI thread it runs at once.
    // Dropped once the bridge is closed.
    void Post(std::function<void()> call);

    // Runs `call` on the UI thread and returns when it has run: true. False, without running
    // it, when the bridge is or gets closed first (the window is going away); the caller then
    // goes on as if the user had answered at once.
    bool PostAndWait(std::function<void()> call);

    // Runs every queued call, in order. UI thread only.
    void RunPending();

    // No call runs any more; waiting and later PostAndWait calls return false at once.
    void Close();
    bool Closed() const;

  private:
    struct Item {
        std::function<void()> call;
        std::shared_ptr<bool> done;  // set under the lock when a waited-for call has run
    };

    mutable std::mutex mutex_;
    std::condition_variable ran_;
    std::deque<Item> queue_;
    std::function<void()> wakeUp_;
    std::thread::id uiThread_;
    bool closed_ = false;
};

}  // namespace ozm
