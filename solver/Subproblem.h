// One node of the Balas-Christofides search tree.
//
// What a node stands for. A node is the tour problem restricted to the arcs
// still allowed below it. It holds its own copy of those arcs (`successors`,
// `costs`), the assignment-problem relaxation over them (each city gets exactly
// one successor and is exactly one city's successor; subtours are allowed), the
// relaxation's value as `lowerBound`, and the shortest cycle of its assignment.
// No tour below the node can cost less than `lowerBound`, since every tour is
// an assignment.
//
// The branching partition of a subtour. Let the node's shortest cycle be
// a1 -> a2 -> ... -> ak -> a1, arcs e1 .. ek, counted from the cycle's
// lowest-numbered city. Every tour lacks at least one of these arcs (they close
// a cycle shorter than n), so the tours admitted by the node split into k
// disjoint sets by the FIRST cycle arc that they lack: child r forbids e_r and
// forces e1 .. e_(r-1). The searches make these children one at a time: child r
// is copied from the node after e1 .. e_(r-1) have been forced in the node
// itself (`setToOne` on the node), and then forbids e_r (`setToZero` on the
// child). When every arc of the cycle has been forced the node admits only
// assignments that contain the subtour, none of them a tour, and it is dropped.
// An arc whose tail row has a single entry left is already forced (by an
// ancestor, or because all its rivals were forbidden); it gets no child.
//
// Forced and forbidden, in the lists alone. There is no record of forced arcs
// other than the lists themselves:
//   - forbidding i -> j erases j from row i;
//   - forcing i -> j makes row i the single entry (j) and erases j from every
//     other row, so no other city may precede j. Nothing else is removed: not
//     the reverse arc j -> i, nor an arc that would close a cycle with other
//     forced arcs (such an assignment merely shows up as a subtour later).
// Rows keep their remaining entries in input order, and every scan that picks
// among arcs visits them in that order, so all tie-breaks are reproducible.
//
// Why forcing costs no re-solve. A searched node forces the arc that its own
// assignment uses out of i. Every removed arc is then unused by the assignment
// (row i keeps j, and no other row is assigned j), so the assignment stays
// complete, optimal and of the same value, and its duals stay feasible:
// `setToOne` touches neither the assignment problem nor `lowerBound`.
//
// What a child owns. Everything, by value: its own copies of both lists and a
// member-wise copy of its parent's assignment problem (assignment, both dual
// vectors, infeasible flag), re-pointed with `setGraph` to the child's own
// lists. Nothing is shared with the parent, so after construction the two can
// be changed, and used on different threads, independently. The child starts
// from its parent's assignment and duals: after its single `setToZero` only the
// one freed row has to be re-assigned (`updateAssignmentProblem`).
//
// Lifetime. Nodes live on the heap under unique ownership
// (std::unique_ptr<Subproblem>) and move between open-node lists, pools and the
// call expanding them by transfer of that ownership. A node is never copied or
// moved as a whole: a member-wise copy would leave the copy's assignment problem
// reading the source's lists. New nodes come only from the two constructors.
//
// Size. One Node (2 bytes) and one 32-bit cost per remaining arc, plus three
// n-entry vectors in the assignment problem: about 6 n (n - 1) bytes for the
// root of a full matrix.
//
// Use, as both searches do it:
//
//   auto root = std::make_unique<Subproblem>(successors, costs);
//   root->assignmentProblem.solveHungarian(false);
//   root->lowerBound = root->assignmentProblem.solutionValue();
//   root->updateMinCycle();                     // only for a feasible root
//   ...
//   Node tail = node->currentNode;
//   Node head = node->assignmentProblem.solution()[tail];
//   auto child = std::make_unique<Subproblem>(node->successors, node->costs,
//                                             node->assignmentProblem, node->lowerBound);
//   child->setToZero(tail, head);
//   node->setToOne(tail, head);
//   child->updateAssignmentProblem();           // child->lowerBound is now its bound
//   if (child->lowerBound < bestKnownCost) child->updateMinCycle();
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "AssignmentProblem/AssignmentProblem.h"
#include "AssignmentProblem/Types.h"

class Subproblem {
  public:
    // The arcs still allowed at this node: row i lists the heads j of the
    // allowed arcs i -> j in input order. Always n rows; entries are only ever
    // removed. No row holds i itself or the same head twice.
    SuccessorLists successors;
    // Parallel to `successors`: costs[i][k] is the signed 32-bit cost of the
    // arc to successors[i][k].
    ArcCosts costs;
    // The relaxation over this node's own lists (its graph pointers always name
    // `successors` and `costs` of this node).
    AssignmentProblem assignmentProblem;
    // Value of the node's assignment (64-bit sum of arc costs), or
    // InfeasibleBound when the remaining arcs admit no complete assignment.
    // Stale between a child's `setToZero` and its `updateAssignmentProblem`.
    std::int64_t lowerBound;
    // (start city, length) of the shortest cycle of the assignment as of the
    // last `updateMinCycle`; the start is the cycle's lowest-numbered city, and
    // a length of n means the assignment is one tour.
    std::pair<Node, Node> minCycle;
    // The city on `minCycle` whose assigned outgoing arc is branched on next;
    // the searches walk it along the assignment.
    Node currentNode;

    // Root: copies the graph and sets up an unsolved assignment problem over the
    // copies (all zero); lowerBound 0, minCycle (0, 0), currentNode 0. The given
    // lists are not referred to afterwards.
    Subproblem(const SuccessorLists& graphSuccessors, const ArcCosts& graphCosts);

    // Child: copies the parent's lists and assignment problem in their current
    // state, takes `parentLowerBound` as its bound, and re-points the copied
    // problem to the copied lists. minCycle (0, 0) and currentNode 0 until the
    // first `updateMinCycle`.
    Subproblem(const SuccessorLists& parentSuccessors, const ArcCosts& parentCosts,
               const AssignmentProblem& parentAssignmentProblem, std::int64_t parentLowerBound);

    Subproblem(const Subproblem&) = delete;
    Subproblem& operator=(const Subproblem&) = delete;
    Subproblem(Subproblem&&) = delete;
    Subproblem& operator=(Subproblem&&) = delete;
    ~Subproblem() = default;

    // Forbids tail -> head: frees the tail's row of the assignment if it used
    // that arc, and erases the arc from the lists if present. `lowerBound` is
    // stale until `updateAssignmentProblem`.
    void setToZero(Node tail, Node head);

    // Forces tail -> head: the tail's row becomes the single arc (in storage of
    // exactly one entry), and head leaves every other row. Nothing else is
    // removed. If the tail's row does not hold head it is left unchanged (head
    // still leaves the other rows). Changes neither the assignment problem nor
    // lowerBound, minCycle or currentNode.
    void setToOne(Node tail, Node head);

    // Incremental re-solve of the assignment problem; stores its value in
    // `lowerBound`.
    void updateAssignmentProblem();

    // Stores the shortest cycle of the (complete) assignment in `minCycle` and
    // its start city in `currentNode`.
    void updateMinCycle();

    // An arc taken out of its row's lists by `takeOutArc`, with where it
    // stood, so that `putBackArc` restores the row exactly.
    struct RemovedArc {
        Node tail;
        Node head;
        bool wasInRow;
        std::size_t position;
        std::int32_t cost;
    };

    // Erases tail -> head from the lists alone, for a moment: the searches
    // bound a would-be child by re-solving a copy of this node's assignment
    // problem on these very lists, which then are exactly the lists the child
    // would hold after `setToZero`, and copy the lists only for a child whose
    // bound survives. The node's own assignment problem is not told, so the
    // arc must be put back before the node is used again.
    RemovedArc takeOutArc(Node tail, Node head);
    void putBackArc(const RemovedArc& arc);
};
