#include "core/parallel/ThreadBudget.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace ozm {

int MachineCores() {
    // The CPUs this process may run on (taskset, container limits), else what the library
    // reports.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

ThreadBudget::ThreadBudget(int shares) : free_(std::max(0, shares)) {}

ThreadBudget& ThreadBudget::Process() {
    static ThreadBudget budget(MachineCores());
    return budget;
}

int ThreadBudget::Take(int wanted) {
    if (wanted <= 0) return 0;
    int free = free_.load();
    int taken = 0;
    do {
        taken = std::min(free, wanted);
        if (taken <= 0) return 0;
    } while (!free_.compare_exchange_weak(free, free - taken));
    return taken;
}

void ThreadBudget::Give(int shares) {
    if (shares > 0) free_ += shares;
}

int ThreadBudget::Free() const { return free_.load(); }

}  // namespace ozm
