// The node protocol of the search: branching on a node along its shortest
// cycle, one child at a time. One Brancher per thread; it is that thread's
// workspace. (The root is solved by Presolve.)
//
// Taking a node up. The graph is the one store of arcs, read by every thread
// and never changed. To branch on a node, the brancher records the node's
// constraints in its `ArcMask` and restores the node's assignment from its
// compact state; the solver then sees exactly the node's arcs, in input
// order.
//
// Branching (`branch`), from the node's currentNode along its cycle, for each
// arc tail -> head whose tail row still allows two arcs or more:
//   1. take the arc out (forbid it in the mask, free the tail's row of the
//      node's problem inside a trial), re-solve incrementally: the child's
//      bound (with the cutoff on, the re-solve stops once that bound reaches
//      bestKnownCost: the child would be pruned anyway), then undo the trial;
//   2. judge the child: a bound that does not beat `bestKnownCost` prunes it
//      (an infeasible child's bound never does); otherwise its shortest cycle
//      tells a tour (handed back, never stored) from an open child, which
//      alone becomes a stored node: its compact state and its constraints,
//      the node's plus the forbidden arc;
//   3. unless it was the cycle's last arc, force the arc in the node, so that
//      its later children inherit it.
// The walk moves currentNode on, and ends at the first tour or open child, or
// when the cycle is exhausted (the node is then done). The caller files what
// the walk left: the node goes back among the open nodes unless its cycle is
// exhausted, and its next child is made when it is taken up again.
//
// Cost: taking a node up is O(n + constraints); a child is one augmentation
// and the undoing of what it changed, and O(n) more only if it is stored.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "assignment/ArcMask.h"
#include "assignment/AssignmentProblem.h"
#include "graph/Graph.h"
#include "search/Subproblem.h"

namespace atsp {

// What one walk along a node's cycle left.
struct BranchOutcome {
    // Every arc of the cycle has been branched on: the node is done.
    bool cycleExhausted = false;
    // A child whose assignment is a tour cheaper than bestKnownCost: the tour
    // in successor form, and its cost. Empty when none was found.
    std::vector<Node> tour;
    std::int64_t tourCost = 0;
    // A child that beat bestKnownCost and is no tour: a new open node.
    std::unique_ptr<Subproblem> child;
    // Children made, pruned ones included.
    std::int64_t childrenMade = 0;

    bool foundTour() const { return !tour.empty(); }
};

class Brancher {
  public:
    // The graph is shared, not copied; it must outlive the brancher.
    // `cutOffChildBounds` stops each child's re-solve at bestKnownCost.
    Brancher(const Graph& graph, bool cutOffChildBounds);

    // Its problems point to its own mask: it stays where it was made.
    Brancher(const Brancher&) = delete;
    Brancher& operator=(const Brancher&) = delete;

    // Walks the node's cycle from its currentNode, as the header tells, with
    // children judged against `bestKnownCost`. The node keeps its assignment
    // and bound; its currentNode and constraints move on.
    BranchOutcome branch(Subproblem& node, std::int64_t bestKnownCost);

    // The node's assignment in successor form (a tour, for a node whose cycle
    // has n cities).
    std::vector<Node> successorsOf(const Subproblem& node) const;

    // The arcs the node allows: for each city, the heads of its allowed arcs
    // in input order. For tests and checks; O(arcs).
    std::vector<std::vector<Node>> allowedArcs(const Subproblem& node);

  private:
    void takeUp(const Subproblem& node);
    void makeChild(const Subproblem& node, Node tail, Node head, std::int64_t bestKnownCost,
                   BranchOutcome& outcome);
    std::int64_t boundChild(Node tail, Node head, std::int64_t cutoff);
    void endChild();
    void judgeChild(const Subproblem& node, Node tail, Node head, std::int64_t childBound,
                    std::int64_t bestKnownCost, BranchOutcome& outcome);
    std::unique_ptr<Subproblem> keepChild(const Subproblem& node, Node tail, Node head,
                                          std::int64_t bound, std::pair<Node, Node> cycle) const;

    const Graph& graph;
    const Node cityCount;
    const bool cutOffChildBounds;
    // The constraints of the node taken up.
    ArcMask mask;
    // The node's assignment problem, restored from its compact state; a child
    // is bounded in it, in a trial undone afterwards.
    AssignmentProblem nodeProblem;
    Node childTail = NoNode;
    Node childHead = NoNode;
    // The node now in the workspace, known by its constraints (see takeUp).
    bool hasLoadedNode = false;
    ConstraintChain loadedConstraints;
};

}  // namespace atsp
