#pragma once
// One image's rows cut into bands that are made side by side and handed on strictly in order:
// every band is produced (converted, compressed) on whichever thread is free, and consumed
// (written to the file) on the calling thread, band 0 first. What a file receives therefore
// never depends on the number of threads, only on the band layout.

#include <cstddef>
#include <functional>

#include "core/parallel/ThreadBudget.h"

namespace ozm {

struct BandRun {
    std::size_t count = 0;           // bands
    int threads = 1;                 // most threads busy at once, the caller included
    ThreadBudget* budget = nullptr;  // where helper threads are borrowed; null: the process's
};

// Produces bands 0 .. count - 1 with `produce(band, slot)` on up to `threads` threads and
// consumes each with `consume(band, slot)` on the calling thread, in band order. `slot` is
// below SlotCount(threads): a band's results live in its slot from its production to the end
// of its consumption, and no other band uses that slot meanwhile, so the caller can keep one
// buffer per slot. A call that returns false or throws stops every thread before the next
// band; RunBandsInOrder then returns false, or rethrows the first exception once every
// helper has ended. No band after a failed one is consumed.
bool RunBandsInOrder(const BandRun& run,
                     const std::function<bool(std::size_t, std::size_t)>& produce,
                     const std::function<bool(std::size_t, std::size_t)>& consume);

// Slots for `threads` threads: two per thread, so that each can start a band while earlier
// ones wait for their turn to be consumed.
std::size_t SlotCount(int threads);

}  // namespace ozm
