#include "core/parallel/OrderedBands.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace ozm {

std::size_t SlotCount(int threads) { return 2 * static_cast<std::size_t>(std::max(1, threads)); }

namespace {

class BandScheduler {
  public:
    BandScheduler(std::size_t count, std::size_t slots)
        : count_(count), slots_(slots), ready_(slots, false) {}

    // A helper thread: produces bands until none is left or the run has failed.
    void Help(const std::function<bool(std::size_t, std::size_t)>& produce) {
        for (;;) {
            std::size_t band;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return failed_ || next_ >= count_ || CanStart(); });
                if (failed_ || next_ >= count_) return;
                band = next_++;
            }
            Produce(band, produce);
        }
    }

    // The calling thread: consumes in order, and produces whenever the band due next is not
    // ready yet and a slot is free.
    bool Lead(const std::function<bool(std::size_t, std::size_t)>& produce,
              const std::function<bool(std::size_t, std::size_t)>& consume) {
        while (true) {
            std::size_t band;
            bool consumeIt = false;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return failed_ || consumed_ >= count_ || ready_[consumed_ % slots_] ||
                           (next_ < count_ && CanStart());
                });
                if (failed_) return false;
                if (consumed_ >= count_) return true;
                if (ready_[consumed_ % slots_]) {
                    band = consumed_;
                    consumeIt = true;
                } else {
                    band = next_++;
                }
            }
            if (!consumeIt) {
                Produce(band, produce);
                continue;
            }
            bool ok = false;
            try {
                ok = consume(band, band % slots_);
            } catch (...) {
                Fail(std::current_exception());
                return false;
            }
            if (!ok) {
                Fail(nullptr);
                return false;
            }
            {
                std::lock_guard lock(mutex_);
                ready_[band % slots_] = false;
                ++consumed_;
            }
            changed_.notify_all();
        }
    }

    void Fail(std::exception_ptr error) {
        {
            std::lock_guard lock(mutex_);
            if (!failed_) error_ = error;
            failed_ = true;
        }
        changed_.notify_all();
    }

    std::exception_ptr Error() const { return error_; }

  private:
    // Called under the lock: the next band's slot is free once the band that used it last has
    // been consumed.
    bool CanStart() const { return next_ < consumed_ + slots_; }

    void Produce(std::size_t band, const std::function<bool(std::size_t, std::size_t)>& produce) {
        bool ok = false;
        try {
            ok = produce(band, band % slots_);
        } catch (...) {
            Fail(std::current_exception());
            return;
        }
        if (!ok) {
            Fail(nullptr);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            ready_[band % slots_] = true;
        }
        changed_.notify_all();
    }

    const std::size_t count_;
    const std::size_t slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<bool> ready_;
    std::size_t next_ = 0;      // the next band to produce
    std::size_t consumed_ = 0;  // bands consumed so far
    bool failed_ = false;
    std::exception_ptr error_;
};

}  // namespace

bool RunBandsInOrder(const BandRun& run,
                     const std::function<bool(std::size_t, std::size_t)>& produce,
                     const std::function<bool(std::size_t, std::size_t)>& consume) {
    if (run.count == 0) return true;
    const int threads = std::max(1, run.threads);
    BandScheduler scheduler(run.count, SlotCount(threads));
    // More helpers than bands after the first would only wait.
    const int wanted = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(threads - 1), run.count - 1));
    BudgetShare share(run.budget ? *run.budget : ThreadBudget::Process(), wanted);
    bool ok = false;
    {
        std::vector<std::jthread> helpers;
        for (int i = 0; i < share.Count(); ++i) {
            try {
                helpers.emplace_back([&] { scheduler.Help(produce); });
            } catch (const std::system_error&) {
                break;  // no more threads to be had: the ones running share the bands
            }
        }
        ok = scheduler.Lead(produce, consume);
        // Helpers end at their next band once the lead has stopped for good; a lead that ran
        // to the end left no band to take.
        if (!ok) scheduler.Fail(nullptr);
    }
    if (scheduler.Error()) std::rethrow_exception(scheduler.Error());
    return ok;
}

}  // namespace ozm
