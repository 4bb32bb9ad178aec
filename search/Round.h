// What the threads of one tree search share besides its nodes: the
// incumbent, the cost tours must stay below, the stop condition, and what a
// progress report adds up. Each bound's expander (the assignment bound's in
// SearchEngine.cpp, the LP bound's in LpExpander.h) works in one.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <tuple>
#include <vector>

#include "graph/Graph.h"
#include "parallel/TreeSearch.h"
#include "search/Incumbent.h"
#include "search/SearchMonitor.h"
#include "search/SearchOptions.h"
#include "tours/LocalSearch.h"

namespace atsp {

// When a search must stop: asked by another thread, or out of time. Without
// a monitor the clock is never read.
struct StopCondition {
    const std::atomic<bool>* requested = nullptr;
    const SearchMonitor* monitor = nullptr;

    bool holds() const {
        return (requested != nullptr && requested->load(std::memory_order_relaxed)) ||
               (monitor != nullptr && monitor->timeIsUp());
    }
};

// A count that one thread writes and a progress report reads.
class Counter {
  public:
    void add(std::int64_t count) {
        value.store(value.load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
    }
    std::int64_t get() const { return value.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::int64_t> value{0};
};

// A share of a round's wall time set aside for side work: the seconds of it
// not yet spent (negative once overspent), and the work's time as it ends.
// Any thread may spend.
struct TimeShare {
    using Clock = std::chrono::steady_clock;

    double share = 0;
    std::atomic<std::int64_t> spentNanoseconds{0};

    double unspent(Clock::time_point started, Clock::time_point now) const {
        return share * std::chrono::duration<double>(now - started).count() -
               1e-9 * static_cast<double>(spentNanoseconds.load(std::memory_order_relaxed));
    }
    void spendSince(Clock::time_point begun) {
        spentNanoseconds.fetch_add(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begun).count(),
            std::memory_order_relaxed);
    }
};

struct Round {
    Incumbent& incumbent;
    // Tours must cost less than this to matter in this round (Presolve.h).
    std::int64_t cap;
    SearchMonitor* monitor;    // null: no time limit, no reports
    std::int64_t nodesBefore;  // made before this round, the root included
    // No tour costs less: proven before this round began.
    std::int64_t provenBefore;
    StopCondition stop;
    // Each thread's count of the nodes it made, and what the threads hold.
    std::vector<const Counter*> nodesMade;
    std::function<LiveNodes()> liveNodes;
    // Nodes each thread may make before it stops; 0: no limit.
    std::int64_t nodeBudget = 0;
    // Improves each tour found before it is offered; null: none.
    const LocalSearch* localSearch = nullptr;
    LocalSearchLimits localSearchLimits;
    // The local search may take this share of the round's time, and 10 ms
    // besides: the LP bound's trees offer a tour at every node, and most of
    // them come nowhere near the incumbent.
    TimeShare localSearchTime{0.05};
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    // The walks from the incumbent (walkFromIncumbent): their share of the
    // round's time (0: none), and the least slice in seconds.
    TimeShare walkTime{};
    double walkSlice = 0;
    std::atomic<bool> walking{false};
    std::vector<Node> walkTour{};  // owned by the thread walking
    std::int64_t walkCost = 0;
    std::uint64_t walkSlices = 0;
    // The dives of the LP bound's trees (LpExpander.cpp): their share of the
    // round's time (0: none). One thread dives at a time.
    TimeShare diveTime{};
    std::atomic<bool> diving{false};

    // Makes the progress report when one is due; on every expansion.
    void reportIfDue() {
        if (monitor != nullptr && monitor->claimReport()) {
            report();
        }
    }

    // The best tour that matters now.
    std::int64_t bestNow() { return std::min(incumbent.cost(), cap); }

    // Offers a tour to the incumbent (Incumbent.h), and reports the new one
    // when progress is asked for.
    bool offer(std::vector<Node>& tour, std::int64_t cost) {
        if (localSearch != nullptr) {
            cost = improveWithinShare(tour, cost);
        }
        return offerAsItIs(tour, cost);
    }
    // The same for a tour that the local search has seen already.
    bool offerAsItIs(std::vector<Node>& tour, std::int64_t cost) {
        if (!incumbent.offer(tour, cost)) {
            return false;
        }
        if (monitor != nullptr && monitor->reportsProgress()) {
            report();
        }
        return true;
    }

    // Whether a dive may start now; if so, the caller dives and then calls
    // endDive with the time it began.
    bool startDive(std::chrono::steady_clock::time_point now) {
        return diveTime.share > 0 && diveTime.unspent(started, now) >= 0 &&
               !diving.exchange(true, std::memory_order_acquire);
    }
    void endDive(std::chrono::steady_clock::time_point begun) {
        diveTime.spendSince(begun);
        diving.store(false, std::memory_order_release);
    }

    std::int64_t improveWithinShare(std::vector<Node>& tour, std::int64_t cost) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point now = Clock::now();
        if (localSearchTime.unspent(started, now) < -0.01) {
            return cost;
        }
        const std::int64_t improved = localSearch->improve(tour, cost, localSearchLimits);
        localSearchTime.spendSince(now);
        return improved;
    }

    // A long walk of kicks from the incumbent, a slice at a time, on the
    // thread that asks while no other walks. The tree's own tours get short
    // local searches only, and from the best of them a walk of thousands of
    // kicks still finds cheaper tours on the structured families. A slice
    // spends what walkTime has saved up, once that is walkSlice seconds: a
    // search that ends sooner never walks. The walk goes on from the tour
    // the last slice left unless the incumbent has since become cheaper.
    void walkFromIncumbent() {
        using Clock = std::chrono::steady_clock;
        if (localSearch == nullptr || walkTime.share <= 0) {
            return;
        }
        const Clock::time_point now = Clock::now();
        const double saved = walkTime.unspent(started, now);
        if (saved < walkSlice || walking.exchange(true, std::memory_order_acquire)) {
            return;
        }
        // The tour is copied only when the walk takes it up: the cost alone
        // tells whether it is cheaper.
        if (walkTour.empty() || incumbent.cost() < walkCost) {
            std::tie(walkTour, walkCost) = incumbent.snapshot();
        }
        if (!walkTour.empty()) {
            LocalSearchLimits limits = localSearchLimits;
            limits.kicksWithoutGain = limits.patience = std::numeric_limits<std::size_t>::max();
            limits.runsWithoutGain = 0;
            limits.seed = ++walkSlices;
            limits.deadline =
                std::min(limits.deadline, now + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(saved)));
            const std::int64_t cost = localSearch->improve(walkTour, walkCost, limits);
            if (cost < walkCost) {
                walkCost = cost;
                std::vector<Node> tour = walkTour;
                offerAsItIs(tour, cost);
            }
        }
        walkTime.spendSince(now);
        walking.store(false, std::memory_order_release);
    }

    // Hands the state of the search to the progress report: what the threads
    // hold bounds every tour below the cap not yet found.
    void report() {
        const LiveNodes live = liveNodes();
        SearchProgress progress;
        progress.nodesCreated = nodesBefore;
        for (const Counter* made : nodesMade) {
            progress.nodesCreated += made->get();
        }
        progress.openNodes = live.openNodes;
        progress.bestCost = incumbent.cost();
        progress.lowerBound =
            std::min(progress.bestCost, std::max(provenBefore, std::min(live.leastBound, cap)));
        monitor->report(progress);
    }
};

}  // namespace atsp
