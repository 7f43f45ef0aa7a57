// Bands made side by side and handed on in order: the order, the slots, the thread budget and
// the failure rules under real threads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/parallel/OrderedBands.h"

namespace ozm {
namespace {

TEST(OrderedBands, ConsumedInOrderWithSlotsNeverSharedAndNoMoreThreadsThanAllowed) {
    for (const int budgetShares : {0, 1, 3, 15}) {
        for (const int threads : {1, 2, 3, 16}) {
            SCOPED_TRACE(testing::Message() << threads << " threads, budget " << budgetShares);
            ThreadBudget budget(budgetShares);
            const std::size_t count = 40;
            std::vector<std::atomic<int>> slotUsers(SlotCount(threads));
            std::vector<std::size_t> slotBand(SlotCount(threads), SIZE_MAX);
            std::atomic<int> busy{0}, mostBusy{0};
            std::vector<std::size_t> consumed;
            std::mutex idsMutex;
            std::set<std::thread::id> producers;
            bool slotsHeld = true;
            BandRun run{count, threads, &budget};
            const bool ok = RunBandsInOrder(
                run,
                [&](std::size_t band, std::size_t slot) {
                    const int now = ++busy;
                    for (int seen = mostBusy;
                         now > seen && !mostBusy.compare_exchange_weak(seen, now);) {
                    }
                    if (++slotUsers[slot] != 1) slotsHeld = false;
                    slotBand[slot] = band;
                    // Uneven work, so that bands finish out of order.
                    std::this_thread::sleep_for(
                        std::chrono::microseconds((band * 7919) % 13 * 100));
                    {
                        std::lock_guard lock(idsMutex);
                        producers.insert(std::this_thread::get_id());
                    }
                    --busy;
                    return true;
                },
                [&](std::size_t band, std::size_t slot) {
                    // The slot still holds this band's results.
                    EXPECT_EQ(slotBand[slot], band);
                    --slotUsers[slot];
                    consumed.push_back(band);
                    return true;
                });
            EXPECT_TRUE(ok);
            ASSERT_EQ(consumed.size(), count);
            for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(consumed[i], i);
            EXPECT_TRUE(slotsHeld);
            const int allowed = std::min(threads, 1 + budgetShares);
            EXPECT_LE(mostBusy.load(), allowed);
            EXPECT_LE(static_cast<int>(producers.size()), allowed);
            EXPECT_EQ(budget.Free(), budgetShares);  // every share given back
        }
    }
}

TEST(OrderedBands, AFailureStopsEveryThreadAndNothingAfterItIsConsumed) {
    for (const int threads : {1, 2, 4}) {
        for (const bool throws : {false, true}) {
            ThreadBudget budget(8);
            std::vector<std::size_t> consumed;
            std::atomic<std::size_t> produced{0};
            BandRun run{100, threads, &budget};
            const auto produce = [&](std::size_t band, std::size_t) {
                ++produced;
                if (band == 10) {
                    if (throws) throw std::runtime_error("band 10");
                    return false;
                }
                return true;
            };
            const auto consume = [&](std::size_t band, std::size_t) {
                consumed.push_back(band);
                return true;
            };
            if (throws) {
                EXPECT_THROW(RunBandsInOrder(run, produce, consume), std::runtime_error);
            } else {
                EXPECT_FALSE(RunBandsInOrder(run, produce, consume));
            }
            for (const std::size_t band : consumed) EXPECT_LT(band, 10u);
            // Production stops within the slots in flight, not at the end of the image.
            EXPECT_LE(produced.load(), 10 + SlotCount(threads));
            EXPECT_EQ(budget.Free(), 8);
        }
    }
    // A failed consume stops production too.
    ThreadBudget budget(3);
    std::atomic<std::size_t> produced{0};
    BandRun run{1000, 4, &budget};
    EXPECT_FALSE(RunBandsInOrder(
        run, [&](std::size_t, std::size_t) { return ++produced, true; },
        [&](std::size_t band, std::size_t) { return band < 3; }));
    EXPECT_LE(produced.load(), 4 + SlotCount(4));
    EXPECT_EQ(budget.Free(), 3);
}

TEST(ThreadBudget, SharesAreTakenAtMostOnceAcrossThreads) {
    ThreadBudget budget(5);
    std::atomic<int> taken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&] { taken += budget.Take(2); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(taken.load(), 5);
    EXPECT_EQ(budget.Free(), 0);
    budget.Give(5);
    EXPECT_EQ(budget.Free(), 5);
    EXPECT_GE(MachineCores(), 1);
}

}  // namespace
}  // namespace ozm
