#include "search/SearchEngine.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "graph/Tour.h"
#include "parallel/BestFirstList.h"
#include "parallel/ForwardPassList.h"
#include "parallel/ThreadTeam.h"
#include "parallel/TreeSearch.h"
#include "presolve/Presolve.h"
#include "search/Brancher.h"
#include "search/Incumbent.h"
#include "search/SearchMonitor.h"
#include "search/Subproblem.h"

namespace atsp {

namespace {

using NodePointer = std::unique_ptr<Subproblem>;

// upper - lower, saturated at InfeasibleBound.
std::int64_t gapBetween(std::int64_t upper, std::int64_t lower) {
    if (upper == InfeasibleBound || (lower < 0 && upper > InfeasibleBound + lower)) {
        return InfeasibleBound;
    }
    return upper - lower;
}

// A counter that its thread writes and a progress report reads.
class Counter {
  public:
    void add(std::int64_t count) {
        value.store(value.load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
    }
    std::int64_t get() const { return value.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::int64_t> value{0};
};

class Expander;

// When a search must stop: asked by another thread, or out of time. Without
// a monitor the clock is never read.
struct StopCondition {
    const std::atomic<bool>* requested;
    const SearchMonitor* monitor;

    bool holds() const {
        return (requested != nullptr && requested->load(std::memory_order_relaxed)) ||
               (monitor != nullptr && monitor->timeIsUp());
    }
};

// What the expanders of one round share.
struct Round {
    Incumbent& incumbent;
    // Tours must cost less than this to matter in this round (Presolve.h).
    std::int64_t cap;
    SearchMonitor* monitor;    // null: no time limit, no reports
    std::int64_t nodesBefore;  // made before this round, the root included
    // No tour costs less: proven by the root's bound and the rounds before.
    std::int64_t provenBefore;
    StopCondition stop;
    const std::vector<std::unique_ptr<Expander>>* expanders = nullptr;
    std::function<LiveNodes()> liveNodes;
};

// One thread's part of the search: its brancher (its workspace on the shared
// graph) and its counts. The expander of TreeSearch.h.
class Expander {
  public:
    Expander(const Graph& graph, bool cutOffChildBounds, Round& round)
        : brancher(graph, cutOffChildBounds), round(round) {}

    void expand(NodePointer node, std::vector<NodePointer>& open) {
        if (round.monitor != nullptr && round.monitor->claimReport()) {
            report();
        }
        // This expansion's snapshot; tours at or above the round's cap do not
        // matter.
        lastBest = std::min(round.incumbent.cost(), round.cap);
        if (node->lowerBound >= lastBest) {
            return;
        }
        expanded.add(1);
        BranchOutcome outcome = brancher.branch(*node, lastBest);
        created.add(outcome.childrenMade);
        if (outcome.foundTour()) {
            round.incumbent.offer(outcome.tour, outcome.tourCost);
            lastBest = std::min(round.incumbent.cost(), round.cap);
        }
        // After a tour the node goes back only if it can still beat it.
        if (!outcome.cycleExhausted && node->lowerBound < lastBest) {
            open.push_back(std::move(node));
        }
        if (outcome.child) {
            open.push_back(std::move(outcome.child));
        }
    }

    std::int64_t pruneBound() const { return lastBest; }

    bool stopNow() const { return round.stop.holds(); }

    std::int64_t nodesCreated() const { return created.get(); }
    std::int64_t nodesExpanded() const { return expanded.get(); }

  private:
    void report() {
        const LiveNodes live = round.liveNodes();
        SearchProgress progress;
        progress.nodesCreated = round.nodesBefore;
        for (const std::unique_ptr<Expander>& each : *round.expanders) {
            progress.nodesCreated += each->nodesCreated();
        }
        progress.openNodes = live.openNodes;
        progress.bestCost = round.incumbent.cost();
        progress.lowerBound = std::min(
            progress.bestCost, std::max(round.provenBefore, std::min(live.leastBound, round.cap)));
        round.monitor->report(progress);
    }

    Brancher brancher;
    Round& round;
    std::int64_t lastBest = InfeasibleBound;
    Counter created;
    Counter expanded;
};

class Search {
  public:
    Search(const Graph& graph, const SearchOptions& options, bool countOpenNodes)
        : graph(graph),
          options(options),
          countOpenNodes(countOpenNodes),
          watched(options.timeLimitSeconds > 0 || options.progress != nullptr),
          monitor(&options) {}

    TourResult run(const std::vector<Node>* startTour) {
        const std::size_t n = graph.cityCount();
        if (n == 0) {
            return TourResult{};  // the empty tour, of cost 0
        }
        std::vector<Node> tour = startTour != nullptr ? *startTour : defaultTour(n);
        const std::optional<std::int64_t> startCost = tourCost(graph, tour);
        if (startCost && *startCost < 0) {
            return TourResult{std::move(tour), -1, false, -1, true};
        }
        std::int64_t cost = startCost ? *startCost : InfeasibleBound;
        if (!startCost) {
            tour.clear();
        }

        Presolve presolve(graph, options.presolve, [this] { return stopNow(); });
        const RootSolution root = presolve.solveRoot();
        statistics.nodesCreated = 1;
        proven = root.bound;
        const bool rootIsTour = root.feasible() && root.minCycle.second == n;
        if (root.feasible() && !rootIsTour) {
            presolve.patchRootCycles(tour, cost);
        }
        Incumbent incumbent(std::move(tour), cost);
        if (root.stopped || stopNow()) {
            stopped = true;
        } else if (root.bound < cost) {
            if (rootIsTour) {
                std::vector<Node> rootTour = presolve.rootAssignment();
                incumbent.offer(rootTour, root.bound);
            } else {
                searchInRounds(presolve, root, incumbent);
            }
        }
        statistics.arcsGiven = static_cast<std::int64_t>(graph.arcCount());
        statistics.arcsSearched = static_cast<std::int64_t>(presolve.searchGraph().arcCount());

        TourResult result;
        result.cost = incumbent.cost();
        result.tour = std::move(incumbent.tour());
        result.stopped = stopped;
        result.lowerBound = stopped ? std::min(result.cost, proven) : result.cost;
        if (watched && options.progress) {
            monitor.report({0, statistics.nodesCreated, 0, result.cost, result.lowerBound});
        }
        return result;
    }

    const SearchStatistics& counts() const { return statistics; }

  private:
    bool stopNow() const { return stopCondition().holds(); }
    StopCondition stopCondition() const {
        return {options.stopRequested, watched ? &monitor : nullptr};
    }

    // The tree, searched in rounds on the arcs below a gap over the root's
    // bound, each pruning at the root bound plus its gap (Presolve.h), until
    // a round finds a tour, searches for every tour cheaper than the
    // incumbent, or is stopped.
    void searchInRounds(Presolve& presolve, const RootSolution& root, Incumbent& incumbent) {
        for (std::int64_t gap = presolve.firstGap(root, incumbent.cost());;
             gap = Presolve::nextGap(gap)) {
            const std::int64_t costNow = incumbent.cost();
            const bool lastRound = gap >= gapBetween(costNow, root.bound);
            const std::int64_t cap = lastRound ? costNow : root.bound + gap;
            std::optional<AssignmentState> assignment = presolve.enterRound(root, gap, costNow);
            if (!assignment) {
                stopped = true;
                return;
            }
            auto rootNode = std::make_unique<Subproblem>();
            rootNode->assignment = std::move(*assignment);
            rootNode->lowerBound = root.bound;
            rootNode->minCycle = root.minCycle;
            rootNode->currentNode = root.minCycle.first;
            searchRound(presolve.searchGraph(), cap, root.bound, std::move(rootNode), incumbent);
            if (stopped || incumbent.cost() < cap || lastRound) {
                return;
            }
            proven = cap;  // the round found no tour below its cap
        }
    }

    void searchRound(const Graph& roundGraph, std::int64_t cap, std::int64_t rootBound,
                     NodePointer rootNode, Incumbent& incumbent) {
        const std::int32_t threads = plannedTeamSize(options.threads);
        incumbent.readUnderLock(options.readIncumbentUnderLock && threads > 1);
        Round round{incumbent,
                    cap,
                    watched ? &monitor : nullptr,
                    statistics.nodesCreated,
                    proven,
                    stopCondition(),
                    nullptr,
                    {}};
        std::vector<std::unique_ptr<Expander>> expanders;
        for (std::int32_t thread = 0; thread < threads; ++thread) {
            expanders.push_back(
                std::make_unique<Expander>(roundGraph, options.cutOffChildBounds, round));
        }
        round.expanders = &expanders;

        TreeSearchSettings settings;
        if (options.openNodeMemory > 0) {
            settings.listLimit = std::max<std::size_t>(
                2, options.openNodeMemory / estimatedNodeBytes(graph.cityCount()) /
                       static_cast<std::size_t>(threads));
        }
        settings.balance = options.handOff == HandOff::Balance;
        settings.handOffBatch = settings.balance ? 1024 : 1;
        // Threads count as working behind one another only when their best
        // bounds lie apart by more than 1/32 of the round's gap: hand-offs
        // cost locality, and bounds differ by little most of the time.
        settings.boundMargin = gapBetween(cap, rootBound) / 32;
        settings.publishLeastBounds = watched && options.progress != nullptr;
        settings.countOpenNodes = countOpenNodes;

        const TreeSearchOutcome outcome =
            options.openNodeOrder == OpenNodeOrder::AsFirstBuilt && threads > 1
                ? run<ForwardPassList<Subproblem>>(expanders, settings, round, std::move(rootNode))
                : run<BestFirstList<Subproblem>>(expanders, settings, round, std::move(rootNode));
        for (const std::unique_ptr<Expander>& expander : expanders) {
            statistics.nodesCreated += expander->nodesCreated();
            statistics.nodesExpanded += expander->nodesExpanded();
        }
        statistics.mostOpenNodes = std::max(statistics.mostOpenNodes, outcome.mostOpenNodes);
        if (outcome.stopped) {
            // Below the cap, no tour escaped the nodes dropped unexpanded.
            stopped = true;
            proven = std::max(proven, std::min(cap, outcome.leastAbandonedBound));
        }
    }

    template <typename List>
    static TreeSearchOutcome run(const std::vector<std::unique_ptr<Expander>>& expanders,
                                 const TreeSearchSettings& settings, Round& round,
                                 NodePointer rootNode) {
        TreeSearch<Subproblem, List, Expander> tree(expanders, settings);
        round.liveNodes = [&tree] { return tree.liveNodes(); };
        return tree.run(std::move(rootNode));
    }

    const Graph& graph;
    const SearchOptions& options;
    const bool countOpenNodes;  // for the statistics
    const bool watched;
    SearchMonitor monitor;
    SearchStatistics statistics;
    bool stopped = false;
    // No tour costs less than this: the root's bound (or, before it, the
    // cheapest arcs'), then the cap of every round that ended without a tour
    // below it, and for a stopped round the least bound it left unexplored.
    std::int64_t proven = std::numeric_limits<std::int64_t>::min();
};

}  // namespace

TourResult searchTour(const Graph& graph, const SearchOptions& options,
                      const std::vector<Node>* startTour, SearchStatistics* statistics) {
    Search search(graph, options, statistics != nullptr);
    TourResult result = search.run(startTour);
    if (statistics != nullptr) {
        *statistics = search.counts();
    }
    return result;
}

}  // namespace atsp
