#include "search/balasChristofides.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "presolve/SearchStart.h"
#include "search/Brancher.h"
#include "search/OpenNodeList.h"
#include "search/SearchMonitor.h"
#include "tours/StartingTour.h"

namespace atsp {

namespace {

class SerialSearch {
  public:
    SerialSearch(const SuccessorLists& successors, const ArcCosts& costs,
                 const std::vector<Node>* startTour, const SearchOptions& options)
        : cityCount(static_cast<Node>(successors.size())),
          options(options),
          incumbent{startingTour(successors, startTour), 0},
          start(successors, costs, options),
          openNodeLimit(options.openNodeMemory / estimatedNodeBytes(successors.size())),
          monitor(&options) {
        incumbent.cost = tourCost(successors, costs, incumbent.tour);
    }

    TourResult run(SearchStatistics* statistics) {
        // With zero cities the empty starting tour, of cost 0, is the answer:
        // there is no root to build.
        if (incumbent.cost < 0) {
            incumbent.cost = -1;
        } else if (cityCount > 0 && solveRoot()) {
            searchInRounds();
        }
        incumbent.lowerBound =
            incumbent.stoppedAtTimeLimit ? progress().lowerBound : incumbent.cost;
        if (monitor.reportsProgress()) {
            monitor.report(progress());
        }
        openNodes.clear();
        deepNodes.clear();
        if (statistics != nullptr) {
            start.countArcs(counters);
            *statistics = counters;
        }
        return std::move(incumbent);
    }

  private:
    // Solves the root and keeps it if it is open, after the steps before the
    // search that the options ask for (SearchStart.h). False when the search
    // is already over: the root was negative, pruned (infeasible included)
    // or a tour, which then is the incumbent.
    bool solveRoot() {
        std::unique_ptr<Subproblem> root = start.solveRoot();
        ++counters.nodesCreated;
        if (root->lowerBound < 0) {
            incumbent.cost = -1;
            return false;
        }
        const bool feasible = root->lowerBound != InfeasibleBound;
        const bool tour = feasible && root->minCycle.second == cityCount;
        if (feasible && !tour) {
            start.patchRootCycles(incumbent.tour, incumbent.cost);
        }
        if (root->lowerBound >= incumbent.cost) {
            return false;
        }
        if (tour) {
            incumbent.cost = root->lowerBound;
            incumbent.tour = start.rootAssignment();
            return false;
        }
        openRoot = std::move(root);
        return true;
    }

    // The tree, searched in rounds on the arcs below a gap over the root's
    // bound, each pruning at the root bound plus its gap (SearchStart.h),
    // until a round finds a tour or searches for every tour cheaper than the
    // incumbent.
    void searchInRounds() {
        for (std::int64_t gap = start.firstGap(*openRoot, incumbent.cost);;
             gap = SearchStart::nextGap(gap)) {
            const bool lastRound = gap >= incumbent.cost - openRoot->lowerBound;
            roundCap = lastRound ? incumbent.cost : openRoot->lowerBound + gap;
            std::unique_ptr<Subproblem> root = start.rootForRound(*openRoot, gap, incumbent.cost);
            brancher = std::make_unique<Brancher>(start.searchSuccessors(), start.searchCosts(),
                                                  options.cutOffChildBounds);
            openNodes.insert(std::move(root));
            noteOpenNodeCount();
            expandOpenNodes();
            const bool foundTour = incumbent.cost < roundCap;
            if (incumbent.stoppedAtTimeLimit || incumbent.cost < 0 || foundTour || lastRound) {
                return;
            }
        }
    }

    // Tours must cost less than this to matter: the incumbent's cost, or the
    // round's cap if that is lower.
    std::int64_t pruneAt() const { return std::min(incumbent.cost, roundCap); }

    void expandOpenNodes() {
        while (!openNodes.empty() || !deepNodes.empty()) {
            if (monitor.timeIsUp()) {
                incumbent.stoppedAtTimeLimit = true;
                return;
            }
            if (monitor.claimReport()) {
                monitor.report(progress());
            }
            std::unique_ptr<Subproblem> node = takeNext();
            if (node->lowerBound >= pruneAt()) {
                continue;
            }
            ++counters.nodesExpanded;
            BranchOutcome outcome = brancher->branch(*node, pruneAt(), true);
            counters.nodesCreated += outcome.childrenMade;
            if (outcome.negativeBound) {
                incumbent.cost = -1;
                return;
            }
            if (outcome.foundTour()) {
                incumbent.cost = outcome.tourCost;
                incumbent.tour = std::move(outcome.tour);
                // Open nodes that cannot beat the new tour would only be
                // destroyed when they reach the front; they are all at the
                // back, so they go now and give their memory back. The order
                // of the others does not change.
                openNodes.dropFrom(incumbent.cost);
            }
            file(std::move(node), std::move(outcome.child), outcome.cycleExhausted);
        }
    }

    // The next node to expand: the top of the depth-first stack, else the
    // open node of least bound.
    std::unique_ptr<Subproblem> takeNext() {
        if (!deepNodes.empty()) {
            std::unique_ptr<Subproblem> node = std::move(deepNodes.back());
            deepNodes.pop_back();
            return node;
        }
        return openNodes.takeFront();
    }

    // Puts back what a walk left: the node unless its cycle is exhausted (and,
    // after a tour, only if it can still beat it), and an open child. A child
    // filed with its node goes behind it among equal bounds. Once the open
    // nodes reach their limit (SearchOptions::openNodeMemory), both go on the
    // depth-first stack instead, the child on top.
    void file(std::unique_ptr<Subproblem> node, std::unique_ptr<Subproblem> child,
              bool cycleExhausted) {
        if (openNodeLimit > 0 && openNodes.size() + deepNodes.size() >= openNodeLimit) {
            if (!cycleExhausted && node->lowerBound < pruneAt()) {
                deepNodes.push_back(std::move(node));
            }
            if (child) {
                deepNodes.push_back(std::move(child));
            }
            noteOpenNodeCount();
            return;
        }
        if (cycleExhausted) {
            if (child) {
                openNodes.insert(std::move(child));
                noteOpenNodeCount();
            }
            return;
        }
        if (!child) {
            if (node->lowerBound < pruneAt()) {
                openNodes.insert(std::move(node));
                noteOpenNodeCount();
            }
            return;
        }
        const OpenNodeList::Position nodePlace = openNodes.insert(std::move(node));
        openNodes.insertBehind(nodePlace, std::move(child));
        noteOpenNodeCount();
    }

    // The state between two expansions: every node not yet pruned is in the
    // open list, whose front holds the least bound, and no tour costs less
    // than the round's cap but those below the open nodes.
    SearchProgress progress() const {
        SearchProgress state;
        state.nodesCreated = counters.nodesCreated;
        state.openNodes = static_cast<std::int64_t>(openNodes.size() + deepNodes.size());
        state.bestCost = incumbent.cost;
        state.lowerBound =
            openNodes.empty() ? pruneAt() : std::min(pruneAt(), openNodes.front().lowerBound);
        for (const std::unique_ptr<Subproblem>& deep : deepNodes) {
            state.lowerBound = std::min(state.lowerBound, deep->lowerBound);
        }
        return state;
    }

    void noteOpenNodeCount() {
        counters.mostOpenNodes = std::max(
            counters.mostOpenNodes, static_cast<std::int64_t>(openNodes.size() + deepNodes.size()));
    }

    const Node cityCount;
    const SearchOptions& options;
    TourResult incumbent;
    SearchStart start;
    // The root once solved, from which every round starts.
    std::unique_ptr<Subproblem> openRoot;
    std::int64_t roundCap = InfeasibleBound;
    // Made for each round's graph.
    std::unique_ptr<Brancher> brancher;
    OpenNodeList openNodes;
    // Nodes searched depth-first once the open list has reached its limit
    // (zero: none).
    std::vector<std::unique_ptr<Subproblem>> deepNodes;
    const std::size_t openNodeLimit;
    SearchStatistics counters;
    SearchMonitor monitor;
};

}  // namespace

TourResult balasChristofides(const SuccessorLists& successors, const ArcCosts& costs,
                             const std::vector<Node>* startTour, SearchStatistics* statistics,
                             const SearchOptions* options) {
    const SearchOptions fastSearch;
    SerialSearch search(successors, costs, startTour, options != nullptr ? *options : fastSearch);
    return search.run(statistics);
}

}  // namespace atsp
