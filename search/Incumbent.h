// The best tour known to a search, shared by all its threads.
//
// `tour` and its cost change together under the write side of a
// readers-writer lock, and only for a strictly cheaper tour, so the cost
// never rises and a reader under the lock sees a complete tour with its cost.
// Every expansion reads the cost: by one atomic load, which sees the cost of
// some moment (it only ever falls), or, as the search was first built, under
// the read side of the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "graph/Graph.h"
#include "parallel/RWLock.h"

namespace atsp {

class Incumbent {
  public:
    // `cost` is InfeasibleBound when no tour is known yet (`tour` empty).
    Incumbent(std::vector<Node> tour, std::int64_t cost)
        : bestTour(std::move(tour)), bestCost(cost) {}

    Incumbent(const Incumbent&) = delete;
    Incumbent& operator=(const Incumbent&) = delete;

    // Whether `cost` reads the cost under the lock (with other threads about).
    void readUnderLock(bool underLock) { readsUnderLock = underLock; }

    std::int64_t cost() {
        if (!readsUnderLock) {
            return bestCost.load(std::memory_order_acquire);
        }
        lock.readLock();
        const std::int64_t cost = bestCost.load(std::memory_order_relaxed);
        lock.readUnlock();
        return cost;
    }

    // Takes `tour` over if its cost is still strictly below the incumbent's;
    // another thread may have improved on it since the caller looked.
    bool offer(std::vector<Node>& tour, std::int64_t cost) {
        lock.writeLock();
        const bool cheaper = cost < bestCost.load(std::memory_order_relaxed);
        if (cheaper) {
            bestTour = std::move(tour);
            bestCost.store(cost, std::memory_order_release);
        }
        lock.writeUnlock();
        return cheaper;
    }

    // A copy of the tour and its cost, taken together; safe beside offers
    // from other threads.
    std::pair<std::vector<Node>, std::int64_t> snapshot() {
        lock.readLock();
        std::pair<std::vector<Node>, std::int64_t> copy{bestTour,
                                                        bestCost.load(std::memory_order_relaxed)};
        lock.readUnlock();
        return copy;
    }

    // Once no other thread uses the incumbent.
    std::vector<Node>& tour() { return bestTour; }

  private:
    std::vector<Node> bestTour;  // successor form
    std::atomic<std::int64_t> bestCost;
    RWLock lock;
    bool readsUnderLock = false;
};

}  // namespace atsp
