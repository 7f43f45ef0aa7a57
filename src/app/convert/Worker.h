#pragma once
// One conversion thread as the window owns it: the thread, the stop flag its job tests, and
// a wait that keeps the window's side of the UiBridge served, so that a job waiting for an
// answer of the window (a modal message) goes on while the window waits for the job.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace ozm {

class UiBridge;

class Worker {
  public:
    // `bridge` (may be null) is served while waiting; `stop` is the flag the job tests, the
    // worker's own when null.
    explicit Worker(UiBridge* bridge, std::atomic<bool>* stop = nullptr);
    // Stops and joins a job still running (see Abandon).
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Runs `job` on a thread of its own, after joining the thread of a job that has ended.
    // Throws std::system_error when no thread can be had. Window thread only.
    void Start(std::function<void()> job);
    // The job has not returned yet.
    bool Running() const;
    // A job was started and its thread not yet joined. Window thread only.
    bool Started() const { return thread_.joinable(); }

    std::atomic<bool>& StopFlag() { return stop_; }
    bool StopRequested() const { return stop_.load(); }

    // Returns once the job has returned, running the bridge's calls meanwhile, then runs what
    // the job posted last. Window thread only.
    void Wait();
    // The owner is going away: the job is asked to stop, the bridge is closed (a job waiting
    // for an answer goes on at once) and the thread joined. A job stops at its next stop test,
    // so no file is left half-written.
    void Abandon();

  private:
    UiBridge* bridge_;
    std::atomic<bool> ownStop_{false};
    std::atomic<bool>& stop_;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    bool running_ = false;
    std::thread thread_;
};

}  // namespace ozm
