#include "search/balasChristofidesParallel.h"

#include <omp.h>

#include <algorithm>
#include <cstddef>
#include <utility>

#include "parallel/parallelTree.h"
#include "presolve/SearchStart.h"
#include "tours/StartingTour.h"

namespace atsp {

namespace {

using NodePointer = std::unique_ptr<Subproblem>;

// Replaces the incumbent by `tour` if that is still strictly cheaper now;
// another thread may have improved it since this expansion read it.
void offerTour(std::vector<Node>& tour, std::int64_t cost, Result& result) {
    result.lock.writeLock();
    if (cost < result.cost.load(std::memory_order_relaxed)) {
        result.cost.store(cost, std::memory_order_release);
        result.tour = std::move(tour);
    }
    result.lock.writeUnlock();
}

// The expansion proper of processNode; `childrenMade` counts the children it
// made, pruned ones included.
void expandNode(NodePointer node, Result& result, SearchThreads& threads,
                std::int64_t& childrenMade, std::vector<NodePointer>& openNodes) {
    // This call's snapshot; tours at or above the round's cap do not matter.
    const std::int64_t bestKnownCost =
        std::min(result.cost.load(std::memory_order_acquire), threads.roundCap);
    if (node->lowerBound >= bestKnownCost) {
        return;
    }

    SearchThread& thread = threads.ofThisThread();
    // A negative bound is just below any incumbent here: no stop.
    BranchOutcome outcome = thread.brancher->branch(*node, bestKnownCost, false);
    childrenMade = outcome.childrenMade;
    ++thread.nodesExpanded;
    thread.nodesCreated += outcome.childrenMade;
    if (outcome.foundTour()) {
        offerTour(outcome.tour, outcome.tourCost, result);
    }
    // The child is filed before its node, so that the node ranks first.
    if (outcome.child) {
        outcome.child->filed = ++thread.filed;
    }
    node->filed = ++thread.filed;
    // After a tour the node goes back, so that it meets the improved
    // incumbent before it branches further.
    if (!outcome.cycleExhausted) {
        openNodes.push_back(std::move(node));
    }
    if (outcome.child) {
        openNodes.push_back(std::move(outcome.child));
    }
}

// Files what one call of processNode changed for the progress reports, and
// makes a report when one is due. A child is recorded before the node that
// made it is struck off, and a report holds every thread's record at once:
// so every live node, or a dead ancestor of it with a bound no higher, is in
// the records it reads. A child's bound is never below its parent's, so the
// least bound recorded is a lower bound on every tour still to find.
void noteForProgress(Result& result, SearchThreads& threads, const Subproblem* taken,
                     std::int64_t takenBound, Node takenMadeBy, std::vector<NodePointer>& openNodes,
                     std::int64_t childrenMade) {
    SearchThread& thread = threads.ofThisThread();
    const Node self = static_cast<Node>(&thread - threads.threads.data());
    bool takenLives = false;
    {
        const std::lock_guard<std::mutex> guard(thread.liveLock);
        for (NodePointer& open : openNodes) {
            if (open.get() == taken) {
                takenLives = true;
                continue;
            }
            open->madeBy = self;
            thread.recordLive(open->lowerBound);
        }
        thread.nodesMade += childrenMade;
    }
    if (!takenLives) {
        SearchThread& maker = threads.threads[takenMadeBy];
        const std::lock_guard<std::mutex> guard(maker.liveLock);
        maker.strikeOffLive(takenBound);
    }
    if (!threads.monitor->claimReport()) {
        return;
    }
    // Every record at once, taken in thread order; an expansion holds at most
    // one of them at a time.
    std::vector<std::unique_lock<std::mutex>> records;
    records.reserve(threads.threads.size());
    SearchProgress progress;
    std::int64_t leastLive = InfeasibleBound;
    for (SearchThread& each : threads.threads) {
        records.emplace_back(each.liveLock);
        progress.nodesCreated += each.nodesMade;
        progress.openNodes += each.liveNodes;
        if (!each.liveBounds.empty()) {
            leastLive = std::min(leastLive, each.liveBounds.begin()->first);
        }
    }
    records.clear();
    {
        const std::lock_guard<std::mutex> guard(threads.watchLock);
        progress.lowerBound = std::min({threads.roundCap, threads.leastAbandonedBound, leastLive});
    }
    progress.bestCost = result.cost.load(std::memory_order_acquire);
    progress.lowerBound = std::min(progress.lowerBound, progress.bestCost);
    threads.monitor->report(progress);
}

}  // namespace

SearchThreads::SearchThreads(const SuccessorLists& successors, const ArcCosts& costs,
                             int threadCount, bool cutOffChildBounds)
    : threads(static_cast<std::size_t>(threadCount)), callerLevel(omp_get_level()) {
    for (SearchThread& thread : threads) {
        thread.brancher = std::make_unique<Brancher>(successors, costs, cutOffChildBounds);
    }
}

std::int64_t SearchThreads::nodesMade() {
    std::int64_t made = 0;
    for (SearchThread& thread : threads) {
        const std::lock_guard<std::mutex> guard(thread.liveLock);
        made += thread.nodesMade;
    }
    return made;
}

SearchThread& SearchThreads::ofThisThread() {
    const int thread = omp_get_level() > callerLevel ? omp_get_thread_num() : 0;
    return threads[static_cast<std::size_t>(thread)];
}

std::size_t listLimit(const SearchOptions& options, std::size_t cityCount, int threadCount) {
    if (options.openNodeMemory == 0) {
        return 0;
    }
    const std::size_t nodeBytes = estimatedNodeBytes(cityCount);
    return std::max<std::size_t>(
        2, options.openNodeMemory / nodeBytes / static_cast<std::size_t>(std::max(1, threadCount)));
}

bool lowerBoundFirst(const NodePointer& first, const NodePointer& second) {
    return first->lowerBound < second->lowerBound;
}

std::int64_t boundOf(const Subproblem& node) {
    return node.lowerBound;
}

bool lowerBoundThenNewestFirst(const NodePointer& first, const NodePointer& second) {
    if (first->lowerBound != second->lowerBound) {
        return first->lowerBound < second->lowerBound;
    }
    return first->filed > second->filed;
}

void processNode(NodePointer node, Result& result, SearchThreads* threads,
                 std::vector<NodePointer>& openNodes) {
    std::int64_t childrenMade = 0;
    SearchMonitor* monitor = threads->monitor;
    if (monitor == nullptr) {
        expandNode(std::move(node), result, *threads, childrenMade, openNodes);
        return;
    }
    const Subproblem* taken = node.get();
    const std::int64_t takenBound = node->lowerBound;
    const Node takenMadeBy = node->madeBy;
    if (monitor->timeIsUp()) {
        // Dropped unexpanded: only its bound is kept, as a lower bound.
        const std::lock_guard<std::mutex> guard(threads->watchLock);
        threads->leastAbandonedBound = std::min(threads->leastAbandonedBound, takenBound);
    } else {
        expandNode(std::move(node), result, *threads, childrenMade, openNodes);
    }
    if (monitor->reportsProgress()) {
        noteForProgress(result, *threads, taken, takenBound, takenMadeBy, openNodes, childrenMade);
    }
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

    std::vector<Node> startingTourNow = startingTour(successors, startTour);
    std::int64_t startingCost = tourCost(successors, costs, startingTourNow);
    if (startingCost < 0) {
        return TourResult{std::move(startingTourNow), -1, false, -1};
    }

    SearchStart start(successors, costs, chosen);
    NodePointer root = start.solveRoot();
    const bool feasible = root->lowerBound != InfeasibleBound;
    const bool rootIsTour = feasible && root->minCycle.second == successors.size();
    if (feasible && !rootIsTour) {
        start.patchRootCycles(startingTourNow, startingCost);
    }
    Result incumbent;
    incumbent.tour = std::move(startingTourNow);
    incumbent.cost = startingCost;
    std::unique_ptr<SearchThreads> threads;
    std::int64_t nodesMade = 1;  // counted for progress reports, through all rounds
    if (rootIsTour) {
        // Settled without a search: no thread team.
        if (root->lowerBound < incumbent.cost) {
            incumbent.cost = root->lowerBound;
            incumbent.tour = start.rootAssignment();
        }
    } else if (root->lowerBound < incumbent.cost) {
        // Rounds on the arcs below a growing gap, as the serial search does.
        TreeSearchSettings settings;
        settings.listLimit = listLimit(chosen, successors.size(), plannedTeamSize());
        std::int64_t mostOpenInRound = 0;
        if (statistics != nullptr) {
            settings.mostOpenNodes = &mostOpenInRound;
        }
        for (std::int64_t gap = start.firstGap(*root, incumbent.cost);;
             gap = SearchStart::nextGap(gap)) {
            const std::int64_t incumbentCost = incumbent.cost;
            const bool lastRound = gap >= incumbentCost - root->lowerBound;
            const std::int64_t cap = lastRound ? incumbentCost : root->lowerBound + gap;
            NodePointer roundRoot = start.rootForRound(*root, gap, incumbentCost);
            threads = std::make_unique<SearchThreads>(start.searchSuccessors(), start.searchCosts(),
                                                      plannedTeamSize(), chosen.cutOffChildBounds);
            threads->roundCap = cap;
            // Threads count as working behind one another only when their best
            // bounds lie apart by more than 1/32 of the round's gap: hand-offs
            // cost locality, and bounds differ by little most of the time.
            settings.rankMargin = (cap - root->lowerBound) / 32;
            if (monitor.hasTimeLimit() || monitor.reportsProgress()) {
                threads->monitor = &monitor;
                // The round's root is made by thread 0, the one that starts.
                SearchThread& first = threads->threads.front();
                roundRoot->madeBy = 0;
                first.recordLive(roundRoot->lowerBound);
                first.nodesMade = nodesMade;
            }
            parallelTree<Subproblem, Result, SearchThreads>(
                processNode, std::move(roundRoot), incumbent, threads.get(),
                chosen.newestFirstAmongEqualBounds ? lowerBoundThenNewestFirst : lowerBoundFirst,
                settings, chosen.balanceThreadsByBound ? boundOf : nullptr);
            if (threads->monitor != nullptr) {
                nodesMade = threads->nodesMade();
            }
            if (statistics != nullptr) {
                statistics->mostOpenNodes = std::max(statistics->mostOpenNodes, mostOpenInRound);
                for (const SearchThread& thread : threads->threads) {
                    statistics->nodesCreated += thread.nodesCreated;
                    statistics->nodesExpanded += thread.nodesExpanded;
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
    const std::int64_t finalCost = incumbent.cost;
    TourResult answer{incumbent.tour, finalCost, false, finalCost};
    if (threads && threads->leastAbandonedBound != InfeasibleBound) {
        answer.stoppedAtTimeLimit = true;
        answer.lowerBound = std::min({finalCost, threads->roundCap, threads->leastAbandonedBound});
    }
    if (monitor.reportsProgress()) {
        monitor.report({0, nodesMade, 0, answer.cost, answer.lowerBound});
    }
    return answer;
}

}  // namespace atsp
