#include "solver/balasChristofidesParallel.h"

#include <omp.h>

#include <algorithm>
#include <cstddef>
#include <utility>

#include "solver/SearchStart.h"
#include "solver/StartingTour.h"
#include "solver/parallelTree.h"

namespace {

using NodePointer = std::unique_ptr<Subproblem>;

// Replaces the incumbent by `tour` if that is still strictly cheaper now;
// another thread may have improved it since this expansion read it.
void offerTour(std::vector<Node>& tour, std::int64_t cost, Result& result) {
    result.lock.writeLock();
    if (cost < result.cost) {
        result.cost = cost;
        result.tour = std::move(tour);
    }
    result.lock.writeUnlock();
}

// The expansion proper of processNode; `childrenMade` counts the children it
// made, pruned ones included.
std::vector<NodePointer> expandNode(NodePointer node, Result& result, SearchThreads& threads,
                                    std::int64_t& childrenMade) {
    std::vector<NodePointer> openNodes;
    openNodes.reserve(2);

    result.lock.readLock();
    // This call's snapshot; tours at or above the round's cap do not matter.
    const std::int64_t bestKnownCost = std::min(result.cost, threads.roundCap);
    result.lock.readUnlock();
    if (node->lowerBound >= bestKnownCost) {
        return openNodes;
    }

    ThreadSearchCounters* counters = threads.countersOfThisThread();
    // A negative bound is just below any incumbent here: no stop.
    BranchOutcome outcome = threads.brancherOfThisThread().branch(*node, bestKnownCost, false);
    childrenMade = outcome.childrenMade;
    if (counters != nullptr) {
        ++counters->nodesExpanded;
        counters->nodesCreated += outcome.childrenMade;
    }
    if (outcome.foundTour()) {
        offerTour(outcome.tour, outcome.tourCost, result);
    }
    // After a tour the node goes back, so that it meets the improved
    // incumbent before it branches further.
    if (!outcome.cycleExhausted) {
        openNodes.push_back(std::move(node));
    }
    if (outcome.child) {
        openNodes.push_back(std::move(outcome.child));
    }
    return openNodes;
}

// Files what one call of processNode changed for the progress reports, and
// makes a report when one is due.
void noteForProgress(Result& result, SearchThreads& threads, std::int64_t takenBound,
                     const std::vector<NodePointer>& openNodes, std::int64_t childrenMade) {
    SearchProgress progress;
    {
        const std::lock_guard<std::mutex> guard(threads.watchLock);
        threads.liveBounds.erase(threads.liveBounds.find(takenBound));
        for (const NodePointer& open : openNodes) {
            threads.liveBounds.insert(open->lowerBound);
        }
        threads.nodesMade += childrenMade;
        if (!threads.monitor->claimReport()) {
            return;
        }
        progress.nodesCreated = threads.nodesMade;
        progress.openNodes = static_cast<std::int64_t>(threads.liveBounds.size());
        progress.lowerBound =
            std::min({threads.roundCap, threads.leastAbandonedBound,
                      threads.liveBounds.empty() ? InfeasibleBound : *threads.liveBounds.begin()});
    }
    result.lock.readLock();
    progress.bestCost = result.cost;
    result.lock.readUnlock();
    progress.lowerBound = std::min(progress.lowerBound, progress.bestCost);
    threads.monitor->report(progress);
}

}  // namespace

SearchThreads::SearchThreads(const SuccessorLists& successors, const ArcCosts& costs,
                             int threadCount, bool cutOffChildBounds)
    : callerLevel(omp_get_level()) {
    for (int thread = 0; thread < threadCount; ++thread) {
        branchers.push_back(std::make_unique<Brancher>(successors, costs, cutOffChildBounds));
    }
}

Brancher& SearchThreads::brancherOfThisThread() {
    const int thread = omp_get_level() > callerLevel ? omp_get_thread_num() : 0;
    return *branchers[thread];
}

ThreadSearchCounters* SearchThreads::countersOfThisThread() {
    if (countersByThread.empty()) {
        return nullptr;
    }
    const int thread = omp_get_level() > callerLevel ? omp_get_thread_num() : 0;
    return &countersByThread[thread];
}

bool lowerBoundFirst(const NodePointer& first, const NodePointer& second) {
    return first->lowerBound < second->lowerBound;
}

std::vector<NodePointer> processNode(NodePointer node, Result& result, SearchThreads* threads) {
    std::int64_t childrenMade = 0;
    SearchMonitor* monitor = threads->monitor;
    if (monitor == nullptr) {
        return expandNode(std::move(node), result, *threads, childrenMade);
    }
    const std::int64_t takenBound = node->lowerBound;
    std::vector<NodePointer> openNodes;
    if (monitor->timeIsUp()) {
        // Dropped unexpanded: only its bound is kept, as a lower bound.
        const std::lock_guard<std::mutex> guard(threads->watchLock);
        threads->leastAbandonedBound = std::min(threads->leastAbandonedBound, takenBound);
    } else {
        openNodes = expandNode(std::move(node), result, *threads, childrenMade);
    }
    if (monitor->reportsProgress()) {
        noteForProgress(result, *threads, takenBound, openNodes, childrenMade);
    }
    return openNodes;
}

TourResult balasChristofidesParallel(const SuccessorLists& successors, const ArcCosts& costs,
                                     const std::vector<Node>* startTour,
                                     SearchStatistics* statistics, const SearchOptions* options) {
    const SearchOptions fastSearch;
    const SearchOptions& chosen = options != nullptr ? *options : fastSearch;
    SearchMonitor monitor(&chosen);
    if (statistics != nullptr) {
        *statistics = SearchStatistics{};
    }
    if (successors.empty()) {
        return TourResult{};  // zero cities: the empty tour, cost 0
    }

    Result incumbent;
    incumbent.tour = startingTour(successors, startTour);
    incumbent.cost = tourCost(successors, costs, incumbent.tour);
    if (incumbent.cost < 0) {
        return TourResult{std::move(incumbent.tour), -1, false, -1};
    }

    SearchStart start(successors, costs, chosen);
    NodePointer root = start.solveRoot();
    const bool feasible = root->lowerBound != InfeasibleBound;
    const bool rootIsTour = feasible && root->minCycle.second == successors.size();
    if (feasible && !rootIsTour) {
        start.patchRootCycles(incumbent.tour, incumbent.cost);
    }
    std::unique_ptr<SearchThreads> threads;
    if (rootIsTour) {
        // Settled without a search: no thread team.
        if (root->lowerBound < incumbent.cost) {
            incumbent.cost = root->lowerBound;
            incumbent.tour = start.rootAssignment();
        }
    } else if (root->lowerBound < incumbent.cost) {
        // Rounds on the arcs below a growing gap, as the serial search does.
        std::int64_t nodesMade = 1;
        for (std::int64_t gap = start.firstGap(*root, incumbent.cost);;
             gap = SearchStart::nextGap(gap)) {
            const bool lastRound = gap >= incumbent.cost - root->lowerBound;
            const std::int64_t cap = lastRound ? incumbent.cost : root->lowerBound + gap;
            NodePointer roundRoot = start.rootForRound(*root, gap, incumbent.cost);
            threads = std::make_unique<SearchThreads>(start.searchSuccessors(), start.searchCosts(),
                                                      plannedTeamSize(), chosen.cutOffChildBounds);
            threads->roundCap = cap;
            if (statistics != nullptr) {
                threads->countersByThread.resize(threads->branchers.size());
            }
            if (monitor.hasTimeLimit() || monitor.reportsProgress()) {
                threads->monitor = &monitor;
                threads->liveBounds.insert(roundRoot->lowerBound);
                threads->nodesMade = nodesMade;
            }
            parallelTree<Subproblem, Result, SearchThreads>(
                processNode, std::move(roundRoot), incumbent, threads.get(), lowerBoundFirst);
            nodesMade = threads->nodesMade;
            if (statistics != nullptr) {
                for (const ThreadSearchCounters& counters : threads->countersByThread) {
                    statistics->nodesCreated += counters.nodesCreated;
                    statistics->nodesExpanded += counters.nodesExpanded;
                }
            }
            if (threads->leastAbandonedBound != InfeasibleBound || incumbent.cost < cap ||
                lastRound) {
                break;
            }
        }
    }

    if (statistics != nullptr) {
        statistics->nodesCreated += 1;  // the root
        start.countArcs(*statistics);
    }
    TourResult answer{incumbent.tour, incumbent.cost, false, incumbent.cost};
    if (threads && threads->leastAbandonedBound != InfeasibleBound) {
        answer.stoppedAtTimeLimit = true;
        answer.lowerBound =
            std::min({incumbent.cost, threads->roundCap, threads->leastAbandonedBound});
    }
    if (monitor.reportsProgress()) {
        monitor.report({0, threads ? threads->nodesMade : 1, 0, answer.cost, answer.lowerBound});
    }
    return answer;
}
