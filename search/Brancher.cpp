#include "search/Brancher.h"

#include <utility>

namespace atsp {

Brancher::Brancher(const Graph& graph, bool cutOffChildBounds)
    : graph(graph),
      cityCount(static_cast<Node>(graph.cityCount())),
      cutOffChildBounds(cutOffChildBounds),
      mask(graph.cityCount()),
      nodeProblem(graph) {
    nodeProblem.setArcMask(&mask);
}

// A node taken up again right after its last walk (best-first search often
// takes a node up twice in a row, its child filed behind it) is still in the
// workspace: the mask holds its constraints, the arcs it forced since
// included, and the problem its assignment. Its chain, held here, pins the
// record that identifies it.
void Brancher::takeUp(const Subproblem& node) {
    if (hasLoadedNode && node.constraints.sameAs(loadedConstraints)) {
        return;
    }
    mask.clear();
    node.constraints.applyTo(mask);
    nodeProblem.restoreState(node.assignment);
    loadedConstraints = node.constraints;
    hasLoadedNode = true;
}

BranchOutcome Brancher::branch(Subproblem& node, std::int64_t bestKnownCost) {
    takeUp(node);
    BranchOutcome outcome;
    for (;;) {
        const Node tail = node.currentNode;
        const Node head = nodeProblem.solution()[tail];
        // After the cycle's last arc every arc of the subtour is forced: the
        // node is done, so the arc is not forced in it.
        const bool lastArc = head == node.minCycle.first;
        if (mask.allowedArcs(tail, graph.successors(tail), 2) >= 2) {
            ++outcome.childrenMade;
            makeChild(node, tail, head, bestKnownCost, outcome);
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
    loadedConstraints = node.constraints;
    return outcome;
}

// The child that forbids tail -> head is bounded in a copy of the node's
// problem on the node's own arcs with that arc taken out for the moment:
// exactly the arcs the child allows. With the cutoff on, the re-solve gives up
// once the bound reaches `cutoff`, and the bound returned is then a lower one,
// still at least `cutoff`.
//
// The child is bounded in the node's own problem, inside a trial that
// `endChild` undoes: until then the problem holds the child's solution.
std::int64_t Brancher::boundChild(Node tail, Node head, std::int64_t cutoff) {
    nodeProblem.beginTrial();
    mask.forbid(tail, head);
    childTail = tail;
    childHead = head;
    nodeProblem.removeArc(tail, head);
    nodeProblem.solveHungarian(true, cutOffChildBounds ? cutoff : InfeasibleBound);
    return nodeProblem.solutionValue();
}

// Gives the node its own problem and arcs back.
void Brancher::endChild() {
    nodeProblem.endTrial();
    mask.allowAgain(childTail, childHead);
}

// The child problem just bounded, as a node of its own.
std::unique_ptr<Subproblem> Brancher::keepChild(const Subproblem& node, Node tail, Node head,
                                                std::int64_t bound,
                                                std::pair<Node, Node> cycle) const {
    auto child = std::make_unique<Subproblem>();
    nodeProblem.saveState(child->assignment);
    child->lowerBound = bound;
    child->minCycle = cycle;
    child->currentNode = cycle.first;
    child->constraints = node.constraints.withForbidden(tail, head);
    return child;
}

// Most children are pruned at once and leave nothing behind.
void Brancher::makeChild(const Subproblem& node, Node tail, Node head, std::int64_t bestKnownCost,
                         BranchOutcome& outcome) {
    const std::int64_t childBound = boundChild(tail, head, bestKnownCost);
    judgeChild(node, tail, head, childBound, bestKnownCost, outcome);
    endChild();
}

void Brancher::judgeChild(const Subproblem& node, Node tail, Node head, std::int64_t childBound,
                          std::int64_t bestKnownCost, BranchOutcome& outcome) {
    if (childBound >= bestKnownCost) {  // an infeasible child's bound always is
        return;
    }
    const std::pair<Node, Node> cycle = nodeProblem.findMinCycle();
    if (cycle.second == cityCount) {
        outcome.tour = nodeProblem.solution();
        outcome.tourCost = childBound;
        return;
    }
    outcome.child = keepChild(node, tail, head, childBound, cycle);
}

std::vector<Node> Brancher::successorsOf(const Subproblem& node) const {
    std::vector<Node> assignment(cityCount);
    for (Node city = 0; city < cityCount; ++city) {
        assignment[city] = graph.successors(city)[node.assignment.assignedArcs[city]];
    }
    return assignment;
}

std::vector<std::vector<Node>> Brancher::allowedArcs(const Subproblem& node) {
    hasLoadedNode = false;
    mask.clear();
    node.constraints.applyTo(mask);
    std::vector<std::vector<Node>> allowed(cityCount);
    for (Node city = 0; city < cityCount; ++city) {
        const std::span<const Node> heads = graph.successors(city);
        const ArcMask::RowScan arcs = mask.scan(city, heads.size());
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (!mask.blocked(heads[k], arcs.stamp)) {
                allowed[city].push_back(heads[k]);
            }
        }
    }
    mask.clear();
    return allowed;
}

}  // namespace atsp
