#include "solver/balasChristofides.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "solver/OpenNodeList.h"
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
                 const std::vector<Node>* startTour)
        : graphSuccessors(successors),
          graphCosts(costs),
          cityCount(static_cast<Node>(successors.size())),
          incumbent{startingTour(successors, startTour), 0} {
        incumbent.cost = tourCost(successors, costs, incumbent.tour);
    }

    TourResult run(SearchStatistics* statistics) {
        if (incumbent.cost < 0) {
            incumbent.cost = -1;
        } else if (cityCount > 0 && solveRoot()) {
            expandOpenNodes();
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
            std::unique_ptr<Subproblem> child;
            Judgement childJudgement = Judgement::Pruned;
            if (node->successors[tail].size() >= 2) {
                child = makeChild(*node, tail, head);
                childJudgement = judge(*child);
                if (childJudgement == Judgement::NegativeBound) {
                    return false;
                }
            }
            node->currentNode = head;
            if (head == node->minCycle.first) {
                // Every arc of the subtour is forced now: the node is done.
                if (childJudgement == Judgement::Open) {
                    openNodes.insert(std::move(child));
                    noteOpenNodeCount();
                }
                return true;
            }
            if (childJudgement == Judgement::Tour) {
                openNodes.insert(std::move(node));
                noteOpenNodeCount();
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

    // The child for the cycle arc tail -> head: a copy of the node with that arc
    // forbidden, bounded by an incremental re-solve. The node forces the arc, so
    // its later children inherit it; the child is copied before that.
    std::unique_ptr<Subproblem> makeChild(Subproblem& node, Node tail, Node head) {
        auto child = std::make_unique<Subproblem>(node.successors, node.costs,
                                                  node.assignmentProblem, node.lowerBound);
        ++counters.nodesCreated;
        child->setToZero(tail, head);
        node.setToOne(tail, head);
        child->updateAssignmentProblem();
        return child;
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
        return Judgement::Tour;
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
};

}  // namespace

TourResult balasChristofides(const SuccessorLists& successors, const ArcCosts& costs,
                             const std::vector<Node>* startTour, SearchStatistics* statistics) {
    SerialSearch search(successors, costs, startTour);
    return search.run(statistics);
}
