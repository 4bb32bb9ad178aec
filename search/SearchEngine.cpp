#include "search/SearchEngine.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include "graph/CostLattice.h"
#include "graph/Reversal.h"
#include "graph/Tour.h"
#include "parallel/BackgroundRelease.h"
#include "parallel/BestFirstList.h"
#include "parallel/ForwardPassList.h"
#include "parallel/ThreadTeam.h"
#include "parallel/TreeSearch.h"
#include "presolve/Presolve.h"
#include "search/Brancher.h"
#include "search/Incumbent.h"
#include "search/LpExpander.h"
#include "search/LpRoot.h"
#include "search/LpSubproblem.h"
#include "search/PseudoCosts.h"
#include "search/Round.h"
#include "search/SearchMonitor.h"
#include "search/Subproblem.h"
#include "tours/SupportTour.h"

namespace atsp {

namespace {

using NodePointer = std::unique_ptr<Subproblem>;

// The tailing-off window of the tree's nodes where every tour costs what its
// reverse costs (where the tree separates combs, below).
constexpr int ReversibleTailingOffRounds = 3;

// upper - lower, saturated at InfeasibleBound.
std::int64_t gapBetween(std::int64_t upper, std::int64_t lower) {
    if (upper == InfeasibleBound || (lower < 0 && upper > InfeasibleBound + lower)) {
        return InfeasibleBound;
    }
    return upper - lower;
}

// One thread's part of the search: its brancher (its workspace on the shared
// graph) and its counts. The expander of TreeSearch.h.
class Expander {
  public:
    Expander(const Graph& graph, bool cutOffChildBounds, Round& round)
        : brancher(graph, cutOffChildBounds), round(round) {}

    void expand(NodePointer node, std::vector<NodePointer>& open) {
        round.reportIfDue();
        // This expansion's snapshot; tours at or above the round's cap do not
        // matter.
        lastBest = round.bestNow();
        if (node->lowerBound >= lastBest) {
            return;
        }
        expanded.add(1);
        BranchOutcome outcome = brancher.branch(*node, lastBest);
        created.add(outcome.childrenMade);
        if (outcome.foundTour()) {
            round.offer(outcome.tour, outcome.tourCost);
            lastBest = round.bestNow();
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

    // Out of time, asked to stop, or past the round's share of nodes.
    bool stopNow() const {
        return round.stop.holds() || (round.nodeBudget > 0 && created.get() > round.nodeBudget);
    }

    const Counter& nodesCreated() const { return created; }
    std::int64_t nodesExpanded() const { return expanded.get(); }

  private:
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
            if (options.localSearch) {
                // Here only under a time limit, whose tour is what the caller
                // gets; otherwise the local search waits for the LP bound
                // (searchUnderLp), which only structured instances reach: on
                // random ones the tree ends sooner than it would pay, and the
                // patched tour is already a local optimum of most moves.
                if (!tour.empty() && options.timeLimitSeconds > 0) {
                    useLocalSearch(presolve.localSearch());
                    cost = polish(tour, cost, root.bound, options.localSearchKicks);
                }
            }
        }
        Incumbent incumbent(std::move(tour), cost);
        if (root.stopped || stopNow()) {
            stopped = true;
        } else if (root.bound < cost) {
            if (rootIsTour) {
                std::vector<Node> rootTour = presolve.rootAssignment();
                offer(incumbent, rootTour, root.bound);
            } else {
                searchTree(presolve, root, incumbent);
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

    // Offers a tour found outside the tree to the incumbent, and reports the
    // new one when progress is asked for.
    void offer(Incumbent& incumbent, std::vector<Node>& tour, std::int64_t cost) {
        if (incumbent.offer(tour, cost) && watched && monitor.reportsProgress()) {
            monitor.report({0, statistics.nodesCreated, 0, cost, std::min(proven, cost)});
        }
    }
    // Kicks until `kicks` in a row bring no gain, the tour reaches
    // `lowerBound`, or 1/`shareOfTimeLeft` of the time left has passed.
    // Each call kicks differently.
    LocalSearchLimits localSearchLimits(std::int64_t lowerBound, std::size_t kicks,
                                        int shareOfTimeLeft) {
        LocalSearchLimits limits;
        limits.kicksWithoutGain = kicks;
        limits.lowerBound = lowerBound;
        limits.seed = ++localSearchCalls;
        limits.stop = [this] { return stopNow(); };
        if (watched && options.timeLimitSeconds > 0) {
            const SearchMonitor::Clock::time_point now = SearchMonitor::Clock::now();
            limits.deadline = now + (monitor.deadline() - now) / shareOfTimeLeft;
        }
        return limits;
    }

    // A tour found outside the tree, improved by the local search when there
    // is one, with up to `kicks` kicks in a row without gain.
    std::int64_t polish(std::vector<Node>& tour, std::int64_t cost, std::int64_t lowerBound,
                        std::size_t kicks) {
        return localSearch
                   ? localSearch->improve(tour, cost, localSearchLimits(lowerBound, kicks, 4))
                   : cost;
    }

    // Potentials by which every tour costs what its reverse does
    // (graph/Reversal.h), or none; found once.
    const std::optional<std::vector<std::int64_t>>& reversal() {
        if (!reversalFound) {
            reversalOfGraph = reversalPotentials(graph);
            reversalFound = true;
        }
        return reversalOfGraph;
    }

    // The local search from here on, reversing stretches too where that
    // keeps tour costs.
    void useLocalSearch(LocalSearch search) {
        if (reversal()) {
            search.allowReversals(*reversal());
        }
        localSearch.emplace(std::move(search));
    }

    StopCondition stopCondition() const {
        return {options.stopRequested, watched ? &monitor : nullptr};
    }

    // The tree under the bound the options choose. Automatically: the
    // assignment bound first, while its tree stays within a number of nodes
    // per city (random instances end there, in a few thousand nodes), then
    // the LP bound, which the structured instances need.
    void searchTree(Presolve& presolve, const RootSolution& root, Incumbent& incumbent) {
        if (options.bound == BoundChoice::LinearProgram) {
            searchUnderLp(presolve, root, incumbent);
            return;
        }
        const bool automatic = options.bound == BoundChoice::Automatic;
        const std::int64_t nodeBudget =
            automatic
                ? static_cast<std::int64_t>(options.assignmentNodesPerCity * graph.cityCount())
                : 0;
        if (searchInRounds(presolve, root, incumbent, nodeBudget) || !automatic || stopped) {
            return;
        }
        searchUnderLp(presolve, root, incumbent);
    }

    // The tree, searched in rounds on the arcs below a gap over the root's
    // bound, each pruning at the root bound plus its gap (Presolve.h), until
    // a round finds a tour, searches for every tour cheaper than the
    // incumbent, or is stopped. False when the rounds made more than
    // `nodeBudget` nodes (0: no budget) without an answer.
    bool searchInRounds(Presolve& presolve, const RootSolution& root, Incumbent& incumbent,
                        std::int64_t nodeBudget) {
        const std::int64_t nodesAtStart = statistics.nodesCreated;
        for (std::int64_t gap = presolve.firstGap(root, incumbent.cost());;
             gap = Presolve::nextGap(gap)) {
            const std::int64_t costNow = incumbent.cost();
            const bool lastRound = gap >= gapBetween(costNow, root.bound);
            const std::int64_t cap = lastRound ? costNow : root.bound + gap;
            std::optional<AssignmentState> assignment = presolve.enterRound(root, gap, costNow);
            if (!assignment) {
                stopped = true;
                return true;
            }
            auto rootNode = std::make_unique<Subproblem>();
            rootNode->assignment = std::move(*assignment);
            rootNode->lowerBound = root.bound;
            rootNode->minCycle = root.minCycle;
            rootNode->currentNode = root.minCycle.first;
            const Graph& roundGraph = presolve.searchGraph();
            const std::int64_t budgetLeft =
                nodeBudget > 0 ? std::max<std::int64_t>(
                                     1, nodeBudget - (statistics.nodesCreated - nodesAtStart))
                               : 0;
            const bool finished = runTree<Subproblem, Expander>(
                cap, root.bound, budgetLeft, estimatedNodeBytes(graph.cityCount()),
                std::move(rootNode), incumbent, [&](Round& round) {
                    return std::make_unique<Expander>(roundGraph, options.cutOffChildBounds, round);
                });
            if (!finished || stopped || incumbent.cost() < cap || lastRound) {
                return finished;
            }
            proven = cap;  // the round found no tour below its cap
        }
    }

    // The tree under the LP bound: the root LP with subtour cuts on the whole
    // graph, reduced-cost fixing against the incumbent, then branch and cut
    // on the arcs left (LpRoot.h, LpExpander.h).
    void searchUnderLp(const Presolve& presolve, const RootSolution& root, Incumbent& incumbent) {
        if (options.localSearch && !localSearch) {
            useLocalSearch(presolve.localSearch());
        }
        if (localSearch && !incumbent.tour().empty()) {
            std::vector<Node> tour = incumbent.tour();
            const std::int64_t cost =
                polish(tour, incumbent.cost(), proven, options.localSearchKicks);
            offer(incumbent, tour, cost);
        }
        CutPool pool(graph.cityCount());
        std::vector<std::vector<Node>> seedTours;
        if (!incumbent.tour().empty()) {
            seedTours.push_back(incumbent.tour());
        }
        const LpRelaxation::Clock::time_point deadline =
            watched ? monitor.deadline() : LpRelaxation::Clock::time_point::max();
        const LpRoot lpRoot = solveLpRoot(graph, seedTours, incumbent.cost(), pool,
                                          options.cuttingPlanes, deadline, options.stopRequested);
        // The LP's tour, or one read off its solution, polished twice: with
        // the neighbours the assignment's duals rank, then with those the
        // root LP's duals rank too (cut duals counted), which the tree's
        // local search keeps. On the structured families the two local
        // optima from one start differ by up to half a percent, either way.
        const std::vector<Node> lpTour = tourOfSolution(graph, lpRoot.tour, lpRoot.support);
        const std::optional<std::int64_t> lpTourCost = tourCost(graph, lpTour);
        if (lpTourCost) {
            std::vector<Node> tour = lpTour;
            offer(incumbent, tour,
                  polish(tour, *lpTourCost, lpRoot.bound, options.localSearchKicks));
        }
        if (localSearch && !lpRoot.neighbours.empty()) {
            useLocalSearch(presolve.localSearch(lpRoot.neighbours));
            if (lpTourCost) {
                std::vector<Node> tour = lpTour;
                offer(incumbent, tour,
                      polish(tour, *lpTourCost, lpRoot.bound, options.localSearchKicks));
            }
        }
        proven = std::max(proven, std::min(lpRoot.bound, incumbent.cost()));
        if (lpRoot.status == CuttingPlaneStatus::Stopped || stopNow()) {
            stopped = true;
            return;
        }
        if (lpRoot.bound >= incumbent.cost()) {
            return;  // the root's bound reaches the best tour: it is optimal
        }
        auto rootNode = std::make_unique<LpSubproblem>();
        rootNode->lowerBound = std::max(lpRoot.bound, root.bound);
        std::vector<std::uint8_t> tailForced(graph.cityCount(), 0);
        std::vector<std::uint8_t> headForced(graph.cityCount(), 0);
        for (const auto& [tail, head] : lpRoot.forced) {
            if (tailForced[tail] || headForced[head]) {
                return;  // two arcs forced out of one city or into one: no cheaper tour
            }
            tailForced[tail] = headForced[head] = 1;
            rootNode->constraints = rootNode->constraints.withForced(
                tail, head, lpRoot.treeGraph.arcPosition(tail, head));
        }
        const std::int64_t rootBound = rootNode->lowerBound;
        PseudoCosts pseudoCosts;
        // Decided on the whole graph: the tree's graph lacks the arcs fixed
        // at the root, and with them the reverses the check needs.
        const bool reversible = reversal().has_value();
        const bool edgeBranching =
            options.lpBranching == LpBranching::Edge ||
            (options.lpBranching == LpBranching::Automatic && reversible);
        // The root's tours cheaper than the incumbent are all of the graph's
        // (fixing drops only arcs on none), so their reverses are among them.
        rootNode->mirrored = reversible && edgeBranching;
        // A pass over the tree graph's arcs: it gives up at the deadline, when
        // the tree has no time left anyway.
        const CostLattice lattice(lpRoot.treeGraph, deadline);
        // Combs at the tree's nodes where every tour costs what its reverse
        // does and the root found some, as on tilted-sum (symmetric up to
        // potentials). Their separation takes about 1.5 % of the tree's time
        // there, CLP 80 %; in 60 s runs side by side tilted-sum-316-1 and -2
        // ended at gaps of 0.160 and 0.036 % with them, 0.177 and 0.043 %
        // without. Elsewhere their roots found some as well, but at the
        // nodes they cost more than they gave: grid-316-1 was proven in 57 s
        // with them, 23 s without, grid-316-3 ended at 0.71 % against 0.47 %,
        // and tilted-max-316-2 at 0.94 % either way.
        CuttingPlaneOptions treeCuts = options.cuttingPlanes;
        treeCuts.combs = treeCuts.combs || (reversible && !lpRoot.cuts.combs.empty());
        // There too the nodes stop cutting sooner: after 3 rounds that
        // raised the LP by less than the tailing-off gain, not 10. From the
        // best known tour, tilted-sum-316-2 was proven in 81 to 85 s (four
        // runs) and not within 150 s with 10; tilted-sum-316-1 ended 60 s at 0.13 %
        // against 0.16 %. Elsewhere it cost: grid-316-2 was proven in 37 s
        // against 15 s, grid-316-1 not within 60 s against 23 s.
        if (reversible && treeCuts.tailingOffRounds > ReversibleTailingOffRounds) {
            treeCuts.tailingOffRounds = ReversibleTailingOffRounds;
        }
        runTree<LpSubproblem, LpExpander>(
            incumbent.cost(), rootBound, 0,
            LpExpander::estimatedNodeBytes(graph.cityCount(), lpRoot.columns.size()),
            std::move(rootNode), incumbent, [&](Round& round) {
                return std::make_unique<LpExpander>(lpRoot.treeGraph, lattice, lpRoot.columns,
                                                    lpRoot.cuts, pool, pseudoCosts, treeCuts, round,
                                                    edgeBranching);
            });
    }

    // Searches the tree below `rootNode` on the team, with one expander per
    // thread from `makeExpander`, for tours below `cap`. False when the
    // expanders stopped at their node budget (0: none) rather than at the
    // search's stop condition. `nodeBytes`: what an open node takes, for
    // SearchOptions::openNodeMemory.
    template <typename NodeType, typename ExpanderType, typename MakeExpander>
    bool runTree(std::int64_t cap, std::int64_t rootBound, std::int64_t nodeBudget,
                 std::size_t nodeBytes, std::unique_ptr<NodeType> rootNode, Incumbent& incumbent,
                 MakeExpander makeExpander) {
        const std::int32_t threads = plannedTeamSize(options.threads);
        incumbent.readUnderLock(options.readIncumbentUnderLock && threads > 1);
        Round round{incumbent,
                    cap,
                    watched ? &monitor : nullptr,
                    statistics.nodesCreated,
                    proven,
                    stopCondition(),
                    {},
                    {},
                    nodeBudget / threads + (nodeBudget > 0 ? 1 : 0),
                    // The LP bound's trees are those of structured
                    // instances, whose tours the local search improves.
                    std::is_same_v<NodeType, LpSubproblem> && localSearch ? &*localSearch : nullptr,
                    localSearch ? localSearchLimits(rootBound, options.localSearchKicks / 10, 1)
                                : LocalSearchLimits{}};
        round.walkTime.share = options.incumbentWalkShare;
        round.walkSlice = options.incumbentWalkSlice;
        round.diveTime.share = options.lpDiveShare;
        std::vector<std::unique_ptr<ExpanderType>> expanders;
        for (std::int32_t thread = 0; thread < threads; ++thread) {
            expanders.push_back(makeExpander(round));
            round.nodesMade.push_back(&expanders.back()->nodesCreated());
        }

        TreeSearchSettings settings;
        if (options.openNodeMemory > 0) {
            settings.listLimit = std::max<std::size_t>(
                2, options.openNodeMemory / nodeBytes / static_cast<std::size_t>(threads));
        }
        settings.balance = options.handOff == HandOff::Balance;
        settings.handOffBatch = settings.balance ? 1024 : 1;
        // Threads count as working behind one another only when their best
        // bounds lie apart by more than 1/32 of the round's gap: hand-offs
        // cost locality, and bounds differ by little most of the time.
        settings.boundMargin = gapBetween(cap, rootBound) / 32;
        settings.publishLeastBounds = watched && options.progress != nullptr;
        settings.countOpenNodes = countOpenNodes;

        TreeSearchOutcome outcome =
            options.openNodeOrder == OpenNodeOrder::AsFirstBuilt && threads > 1
                ? run<NodeType, ForwardPassList<NodeType>>(expanders, settings, round,
                                                           std::move(rootNode))
                : run<NodeType, BestFirstList<NodeType>>(expanders, settings, round,
                                                         std::move(rootNode));
        releaseInBackground(std::move(outcome.droppedNodes));
        for (const std::unique_ptr<ExpanderType>& expander : expanders) {
            statistics.nodesCreated += expander->nodesCreated().get();
            statistics.nodesExpanded += expander->nodesExpanded();
        }
        statistics.mostOpenNodes = std::max(statistics.mostOpenNodes, outcome.mostOpenNodes);
        if (!outcome.stopped) {
            return true;
        }
        // Below the cap, no tour escaped the nodes dropped unexpanded.
        proven = std::max(proven, std::min(cap, outcome.leastAbandonedBound));
        stopped = stopNow();
        return stopped;
    }

    template <typename NodeType, typename List, typename ExpanderType>
    static TreeSearchOutcome run(const std::vector<std::unique_ptr<ExpanderType>>& expanders,
                                 const TreeSearchSettings& settings, Round& round,
                                 std::unique_ptr<NodeType> rootNode) {
        TreeSearch<NodeType, List, ExpanderType> tree(expanders, settings);
        round.liveNodes = [&tree] { return tree.liveNodes(); };
        return tree.run(std::move(rootNode));
    }

    const Graph& graph;
    const SearchOptions& options;
    const bool countOpenNodes;  // for the statistics
    const bool watched;
    SearchMonitor monitor;
    SearchStatistics statistics;
    // With the option, once the root's duals are known.
    std::optional<LocalSearch> localSearch;
    std::uint64_t localSearchCalls = 0;
    std::optional<std::vector<std::int64_t>> reversalOfGraph;
    bool reversalFound = false;
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
