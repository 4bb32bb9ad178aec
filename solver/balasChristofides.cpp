#include "solver/balasChristofides.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "solver/Brancher.h"
#include "solver/OpenNodeList.h"
#include "solver/SearchMonitor.h"
#include "solver/StartingTour.h"

namespace {

class SerialSearch {
  public:
    SerialSearch(const SuccessorLists& successors, const ArcCosts& costs,
                 const std::vector<Node>* startTour, const SearchOptions* options)
        : cityCount(static_cast<Node>(successors.size())),
          incumbent{startingTour(successors, startTour), 0},
          brancher(successors, costs),
          monitor(options) {
        incumbent.cost = tourCost(successors, costs, incumbent.tour);
    }

    TourResult run(SearchStatistics* statistics) {
        // With zero cities the empty starting tour, of cost 0, is the answer:
        // there is no root to build.
        if (incumbent.cost < 0) {
            incumbent.cost = -1;
        } else if (cityCount > 0 && solveRoot()) {
            expandOpenNodes();
        }
        incumbent.lowerBound = incumbent.cost;
        if (incumbent.stoppedAtTimeLimit && !openNodes.empty()) {
            // The list is sorted: its front holds the least bound left.
            incumbent.lowerBound = std::min(incumbent.cost, openNodes.front().lowerBound);
        }
        if (monitor.reportsProgress()) {
            monitor.report(progress());
        }
        openNodes.clear();
        if (statistics != nullptr) {
            *statistics = counters;
        }
        return std::move(incumbent);
    }

  private:
    // Solves the root from scratch and keeps it if it is open. False when the
    // search is already over: the root was negative, pruned (infeasible
    // included) or a tour, which then is the incumbent.
    bool solveRoot() {
        std::unique_ptr<Subproblem> root = brancher.solveRoot();
        ++counters.nodesCreated;
        if (root->lowerBound < 0) {
            incumbent.cost = -1;
            return false;
        }
        if (root->lowerBound >= incumbent.cost) {
            return false;
        }
        if (root->minCycle.second == cityCount) {
            incumbent.cost = root->lowerBound;
            incumbent.tour = brancher.successorsOf(*root);
            return false;
        }
        openNodes.insert(std::move(root));
        noteOpenNodeCount();
        return true;
    }

    void expandOpenNodes() {
        while (!openNodes.empty()) {
            if (monitor.timeIsUp()) {
                incumbent.stoppedAtTimeLimit = true;
                return;
            }
            if (monitor.claimReport()) {
                monitor.report(progress());
            }
            std::unique_ptr<Subproblem> node = openNodes.takeFront();
            if (node->lowerBound >= incumbent.cost) {
                continue;
            }
            ++counters.nodesExpanded;
            BranchOutcome outcome = brancher.branch(*node, incumbent.cost, true);
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

    // Puts back what a walk left: the node unless its cycle is exhausted (and,
    // after a tour, only if it can still beat it), and an open child. A child
    // filed with its node goes behind it among equal bounds.
    void file(std::unique_ptr<Subproblem> node, std::unique_ptr<Subproblem> child,
              bool cycleExhausted) {
        if (cycleExhausted) {
            if (child) {
                openNodes.insert(std::move(child));
                noteOpenNodeCount();
            }
            return;
        }
        if (!child) {
            if (node->lowerBound < incumbent.cost) {
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
    // open list, whose front holds the least bound.
    SearchProgress progress() const {
        SearchProgress state;
        state.nodesCreated = counters.nodesCreated;
        state.openNodes = static_cast<std::int64_t>(openNodes.size());
        state.bestCost = incumbent.cost;
        state.lowerBound = openNodes.empty()
                               ? incumbent.cost
                               : std::min(incumbent.cost, openNodes.front().lowerBound);
        return state;
    }

    void noteOpenNodeCount() {
        counters.mostOpenNodes =
            std::max(counters.mostOpenNodes, static_cast<std::int64_t>(openNodes.size()));
    }

    const Node cityCount;
    TourResult incumbent;
    Brancher brancher;
    OpenNodeList openNodes;
    SearchStatistics counters;
    SearchMonitor monitor;
};

}  // namespace

TourResult balasChristofides(const SuccessorLists& successors, const ArcCosts& costs,
                             const std::vector<Node>* startTour, SearchStatistics* statistics,
                             const SearchOptions* options) {
    SerialSearch search(successors, costs, startTour, options);
    return search.run(statistics);
}
