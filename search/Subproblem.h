// One node of the Balas-Christofides search tree, as it waits among the open
// nodes.
//
// What a node stands for. A node is the tour problem restricted to the arcs
// still allowed below it: the graph the front end read, less the arcs its
// constraints take out. Its assignment-problem relaxation (each city gets
// exactly one successor and is exactly one city's successor; subtours are
// allowed) has the value `lowerBound`: no tour below the node costs less, since
// every tour is an assignment.
//
// The branching partition of a subtour. Let the node's shortest cycle be
// a1 -> a2 -> ... -> ak -> a1, arcs e1 .. ek, counted from the cycle's
// lowest-numbered city. Every tour lacks at least one of these arcs (they close
// a cycle shorter than n), so the tours admitted by the node split into k
// disjoint sets by the FIRST cycle arc that they lack: child r forbids e_r and
// forces e1 .. e_(r-1). The searches make these children one at a time (see
// Brancher.h): child r is made after e1 .. e_(r-1) have been forced in the node
// itself, and then forbids e_r. When every arc of the cycle has been forced the
// node admits only assignments that contain the subtour, none of them a tour,
// and it is dropped. An arc whose tail row has a single arc left is already
// forced (by an ancestor, or because all its rivals were forbidden); it gets
// no child.
//
// Forced and forbidden. Forbidding i -> j takes that arc out; forcing i -> j
// leaves row i only that arc and takes j out of every other row, so no other
// city may precede j. Nothing else is removed: not the reverse arc j -> i, nor
// an arc that would close a cycle with other forced arcs (such an assignment
// merely shows up as a subtour later). The arcs left keep their input order.
//
// What a node keeps: only what sets it apart from the graph, about 10 bytes
// per city. Its constraints are a `ConstraintChain`, shared with its ancestors
// and descendants (a child adds one record). Its assignment is kept compactly
// (`AssignmentState`: the position of each city's assigned arc in its graph
// row, and the column duals; the row duals follow, since assigned arcs are
// tight). The allowed arcs are never stored: a thread that takes the node up
// derives them from the shared graph and the constraints (Brancher.h).
//
// Why forcing costs no re-solve. A node forces the arc that its own assignment
// uses out of i. Every arc that forcing removes is then unused by the
// assignment (row i keeps j, and no other row is assigned j), so the assignment
// stays complete, optimal and of the same value, and its duals stay feasible:
// forcing changes neither `assignment` nor `lowerBound`.
//
// Lifetime. Nodes live on the heap under unique ownership
// (std::unique_ptr<Subproblem>) and move between the threads' open nodes, the
// hand-off pool and the expansion by transfer of that ownership
// (TreeSearch.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "assignment/AssignmentProblem.h"
#include "graph/Graph.h"
#include "search/ConstraintChain.h"

namespace atsp {

// What surrounds a stored node's own data in memory, in bytes, under either
// bound: the node, its vectors' and list entries' headers, one constraint
// record, the allocator's share.
constexpr std::size_t NodeOverheadBytes = 320;

// What a stored node takes in memory, in bytes, as the assignment bound's
// search plans its open nodes: 10 bytes per city and what surrounds them.
// (The LP bound's nodes: LpExpander::estimatedNodeBytes.)
inline std::size_t estimatedNodeBytes(std::size_t cityCount) {
    return 10 * cityCount + NodeOverheadBytes;
}

class Subproblem {
  public:
    // The node's optimal assignment and column duals (see above); never
    // changed once the node is made.
    AssignmentState assignment;
    // Value of the node's assignment (64-bit sum of arc costs).
    std::int64_t lowerBound = 0;
    // (start city, length) of the shortest cycle of the assignment; the start
    // is the cycle's lowest-numbered city, and a length of n means the
    // assignment is one tour.
    std::pair<Node, Node> minCycle{0, 0};
    // The city on `minCycle` whose assigned outgoing arc is branched on next;
    // branching walks it along the assignment.
    Node currentNode = 0;
    // The node's forced and forbidden arcs: those of its ancestors, the one
    // it forbids, and those it has forced while branching.
    ConstraintChain constraints;

    Subproblem() = default;
    Subproblem(const Subproblem&) = delete;
    Subproblem& operator=(const Subproblem&) = delete;
};

}  // namespace atsp
