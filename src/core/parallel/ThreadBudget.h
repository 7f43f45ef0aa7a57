#pragma once
// The cores of the machine as one budget for the whole process, so that files converted side
// by side and the bands of one image never keep more threads busy than there are cores. A
// thread that converts files holds one share for as long as it does; the steps of one image
// borrow shares for their helper threads and give them back when the step ends.

#include <atomic>

namespace ozm {

// The number of cores the process may use, at least 1.
int MachineCores();

class ThreadBudget {
  public:
    explicit ThreadBudget(int shares);
    ThreadBudget(const ThreadBudget&) = delete;
    ThreadBudget& operator=(const ThreadBudget&) = delete;

    // The process's budget, one share per core.
    static ThreadBudget& Process();

    // Takes up to `wanted` shares without waiting; returns how many it took (0 when none
    // are free).
    int Take(int wanted);
    void Give(int shares);
    int Free() const;

  private:
    std::atomic<int> free_;
};

// Shares taken on construction and given back on destruction.
class BudgetShare {
  public:
    BudgetShare(ThreadBudget& budget, int wanted) : budget_(budget), count_(budget.Take(wanted)) {}
    ~BudgetShare() { budget_.Give(count_); }
    BudgetShare(const BudgetShare&) = delete;
    BudgetShare& operator=(const BudgetShare&) = delete;
    int Count() const { return count_; }

  private:
    ThreadBudget& budget_;
    int count_;
};

}  // namespace ozm
