#include "solver/balasChristofides.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "AssignmentProblem/AssignmentProblem.h"
#include "solver/OpenNodeList.h"
#include "solver/SearchMonitor.h"
#include "solver/StartingTour.h"
#include "solver/Subproblem.h"

namespace {

// What a freshly bounded node (the root or a child) turned out to be.
enum class Judgement {
    NegativeBound,  // the search stops with cost -1
    Pruned,         // cannot beat the incumbent (infeasible included): destroy it
    Tour,           // its assignment was a cheaper tour, now the incumbent: destroy it
    Open,           // keep it among the open nodes
};

class SerialSearch {
  public:
    SerialSearch(const SuccessorLists& successors, const ArcCosts& costs,
                 const std::vector<Node>* startTour, const SearchOptions* options)
        : graphSuccessors(successors),
          graphCosts(costs),
          cityCount(static_cast<Node>(successors.size())),
          incumbent{startingTour(successors, startTour), 0},
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
    // search is already over (the root was pruned, a tour, or negative).
    bool solveRoot() {
        auto root = std::make_unique<Subproblem>(graphSuccessors, graphCosts);
        ++counters.nodesCreated;
        root->assignmentProblem.solveHungarian(false);
        root->lowerBound = root->assignmentProblem.solutionValue();
        const Judgement judgement = judge(*root);
        if (judgement == Judgement::NegativeBound) {
            incumbent.cost = -1;
        }
        if (judgement != Judgement::Open) {
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
            if (!branch(std::move(node))) {
                incumbent.cost = -1;
                return;
            }
        }
    }

    // Walks the node's shortest cycle from its currentNode, making one child per
    // arc whose tail row still has a choice, until a child survives, a tour is
    // found or the cycle is exhausted; then files the node and the child. False
    // when a child's bound was negative (both are destroyed on return).
    bool branch(std::unique_ptr<Subproblem> node) {
        for (;;) {
            const Node tail = node->currentNode;
            const Node head = node->assignmentProblem.solution()[tail];
            // After the cycle's last arc every arc of the subtour is forced: the
            // node is done and is destroyed (or turned into its last child).
            const bool lastArc = head == node->minCycle.first;
            std::unique_ptr<Subproblem> child;
            Judgement childJudgement = Judgement::Pruned;
            if (node->successors[tail].size() >= 2) {
                childJudgement = makeChild(node, tail, head, lastArc, child);
                if (childJudgement == Judgement::NegativeBound) {
                    return false;
                }
            }
            if (lastArc) {
                if (childJudgement == Judgement::Open) {
                    openNodes.insert(std::move(child));
                    noteOpenNodeCount();
                }
                return true;
            }
            node->currentNode = head;
            if (childJudgement == Judgement::Tour) {
                // The node goes back only if it can still beat the new tour.
                if (node->lowerBound < incumbent.cost) {
                    openNodes.insert(std::move(node));
                    noteOpenNodeCount();
                }
                return true;
            }
            if (childJudgement == Judgement::Open) {
                const OpenNodeList::Position nodePlace = openNodes.insert(std::move(node));
                openNodes.insertBehind(nodePlace, std::move(child));
                noteOpenNodeCount();
                return true;
            }
        }
    }

    // The child for the cycle arc tail -> head: the node with that arc
    // forbidden, bounded by an incremental re-solve of a copy of the node's
    // assignment problem. Unless this is the cycle's last arc, the node then
    // forces the arc, so its later children inherit it. Returns the child's
    // judgement; `survivor` receives the child when it is Open.
    //
    // Two savings, neither of which changes a list, a bound or a tie-break:
    //   - Most children cannot beat the incumbent and die at once, so a child's
    //     arcs are not copied until its bound is known: the copied problem is
    //     solved on the node's own lists with the arc taken out for the moment,
    //     which are exactly the lists a copied child would hold after setToZero.
    //     Copying a node (6 bytes per arc, mostly into fresh pages) costs more
    //     than bounding it; only a surviving child gets a copy.
    //   - After the last arc the node would be destroyed, so forcing the arc in
    //     it is skipped, and a surviving last child takes over the node itself
    //     (its lists already are the child's) instead of a copy of it.
    Judgement makeChild(std::unique_ptr<Subproblem>& node, Node tail, Node head, bool lastArc,
                        std::unique_ptr<Subproblem>& survivor) {
        ++counters.nodesCreated;
        AssignmentProblem childProblem = node->assignmentProblem;
        const Subproblem::RemovedArc forbidden = node->takeOutArc(tail, head);
        childProblem.removeArc(tail, head);
        childProblem.solveHungarian(true);
        const std::int64_t childBound = childProblem.solutionValue();

        Judgement judgement = Judgement::Pruned;
        if (childBound < 0) {
            judgement = Judgement::NegativeBound;
        } else if (childBound < incumbent.cost) {
            std::unique_ptr<Subproblem> child;
            if (lastArc) {
                // childProblem reads the node's lists, which become the child's.
                node->assignmentProblem = std::move(childProblem);
                node->lowerBound = childBound;
                child = std::move(node);
            } else {
                child = std::make_unique<Subproblem>(node->successors, node->costs, childProblem,
                                                     childBound);
            }
            judgement = judge(*child);
            if (judgement == Judgement::Open) {
                survivor = std::move(child);
            }
        }
        if (!lastArc) {
            node->putBackArc(forbidden);
            node->setToOne(tail, head);
        }
        return judgement;
    }

    // Judges a node whose lowerBound is fresh. A tour cheaper than the incumbent
    // becomes the incumbent (its assignment is moved out of the node).
    Judgement judge(Subproblem& node) {
        if (node.lowerBound < 0) {
            return Judgement::NegativeBound;
        }
        if (node.lowerBound >= incumbent.cost) {
            return Judgement::Pruned;
        }
        node.updateMinCycle();
        if (node.minCycle.second != cityCount) {
            return Judgement::Open;
        }
        incumbent.cost = node.lowerBound;
        incumbent.tour = node.assignmentProblem.moveSolution();
        // Open nodes that cannot beat the new tour would only be destroyed when
        // they reach the front; they are all at the back, so they go now and
        // give their memory back. The order of the others does not change.
        openNodes.dropFrom(incumbent.cost);
        return Judgement::Tour;
    }

    // The state between two expansions: every node not yet pruned is in the
    // open list, whose front holds the least bound.
    SearchProgress progress() const {
        SearchProgress state;
        state.nodesCreated = counters.nodesCreated;
        state.openNodes = static_cast<std::int64_t>(openNodes.size());
        state.bestCost = incumbent.cost;
        state.lowerBound =
            openNodes.empty() ? incumbent.cost : std::min(incumbent.cost, openNodes.front().lowerBound);
        return state;
    }

    void noteOpenNodeCount() {
        counters.mostOpenNodes =
            std::max(counters.mostOpenNodes, static_cast<std::int64_t>(openNodes.size()));
    }

    const SuccessorLists& graphSuccessors;
    const ArcCosts& graphCosts;
    const Node cityCount;
    TourResult incumbent;
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
