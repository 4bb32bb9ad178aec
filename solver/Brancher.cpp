#include "solver/Brancher.h"

#include <utility>

Brancher::Brancher(const SuccessorLists& successors, const ArcCosts& costs)
    : successors(successors),
      costs(costs),
      cityCount(static_cast<Node>(successors.size())),
      mask(successors.size()),
      nodeProblem(successors, costs),
      childProblem(successors, costs) {
    nodeProblem.setArcMask(&mask);
    childProblem.setArcMask(&mask);
}

std::unique_ptr<Subproblem> Brancher::solveRoot() {
    auto root = std::make_unique<Subproblem>();
    AssignmentProblem rootProblem(successors, costs);  // no constraint, no mask
    rootProblem.solveHungarian(false);
    root->lowerBound = rootProblem.solutionValue();
    if (root->lowerBound != InfeasibleBound) {
        rootProblem.saveState(root->assignment);
        root->minCycle = rootProblem.findMinCycle();
        root->currentNode = root->minCycle.first;
    }
    return root;
}

void Brancher::takeUp(const Subproblem& node) {
    mask.clear();
    node.constraints.applyTo(mask);
    nodeProblem.restoreState(node.assignment);
}

BranchOutcome Brancher::branch(Subproblem& node, std::int64_t bestKnownCost,
                               bool stopOnNegativeBound) {
    takeUp(node);
    BranchOutcome outcome;
    for (;;) {
        const Node tail = node.currentNode;
        const Node head = nodeProblem.solution()[tail];
        // After the cycle's last arc every arc of the subtour is forced: the
        // node is done, so the arc is not forced in it.
        const bool lastArc = head == node.minCycle.first;
        if (mask.allowedArcs(tail, successors[tail], 2) >= 2) {
            ++outcome.childrenMade;
            makeChild(node, tail, head, bestKnownCost, stopOnNegativeBound, outcome);
            if (outcome.negativeBound) {
                break;
            }
            if (!lastArc) {
                const Node position = node.assignment.assignedArcs[tail];
                mask.force(tail, head, position);
                node.constraints = node.constraints.withForced(tail, head, position);
            }
        }
        node.currentNode = head;
        if (lastArc) {
            outcome.cycleExhausted = true;
            break;
        }
        if (outcome.foundTour() || outcome.child) {
            break;
        }
    }
    mask.clear();
    return outcome;
}

// The child that forbids tail -> head is bounded in a copy of the node's
// problem on the node's own arcs with that arc taken out for the moment:
// exactly the arcs the child allows. Most children are pruned at once and
// leave nothing behind.
void Brancher::makeChild(const Subproblem& node, Node tail, Node head, std::int64_t bestKnownCost,
                         bool stopOnNegativeBound, BranchOutcome& outcome) {
    childProblem = nodeProblem;
    mask.forbid(tail, head);
    childProblem.removeArc(tail, head);
    childProblem.solveHungarian(true);
    mask.allowAgain(tail, head);
    const std::int64_t childBound = childProblem.solutionValue();

    if (stopOnNegativeBound && childBound < 0) {
        outcome.negativeBound = true;
        return;
    }
    if (childBound >= bestKnownCost) {  // an infeasible child's bound always is
        return;
    }
    const std::pair<Node, Node> cycle = childProblem.findMinCycle();
    if (cycle.second == cityCount) {
        outcome.tour = childProblem.solution();
        outcome.tourCost = childBound;
        return;
    }
    auto child = std::make_unique<Subproblem>();
    childProblem.saveState(child->assignment);
    child->lowerBound = childBound;
    child->minCycle = cycle;
    child->currentNode = cycle.first;
    child->constraints = node.constraints.withForbidden(tail, head);
    outcome.child = std::move(child);
}

std::vector<Node> Brancher::successorsOf(const Subproblem& node) const {
    std::vector<Node> assignment(cityCount);
    for (Node city = 0; city < cityCount; ++city) {
        assignment[city] = successors[city][node.assignment.assignedArcs[city]];
    }
    return assignment;
}

SuccessorLists Brancher::allowedArcs(const Subproblem& node) {
    mask.clear();
    node.constraints.applyTo(mask);
    SuccessorLists allowed(cityCount);
    for (Node city = 0; city < cityCount; ++city) {
        const ArcMask::RowScan arcs = mask.scan(city, successors[city].size());
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (!mask.blocked(successors[city][k], arcs.stamp)) {
                allowed[city].push_back(successors[city][k]);
            }
        }
    }
    mask.clear();
    return allowed;
}
