// The linear assignment problem on the sparse arcs of one search-tree node.
//
// What it solves. Given n cities and the arcs still present (the graph's rows,
// less what a mask takes out), choose for every city i one successor j over a
// present arc so that every city is chosen exactly once, at least total cost. Rows are cities as
// tails, columns are cities as heads. The result is a permutation in successor form; it usually
// falls apart into several cycles (subtours). Its value is the lower bound of
// a branch-and-bound node, and its shortest cycle (`findMinCycle`) is what the
// search branches on.
//
// The method is the primal-dual Hungarian method with one augmentation per
// free row. Every row i has a dual dualX[i], every column j a dual dualY[j],
// both signed 64-bit. The reduced cost of the arc i -> j is
//     cost(i, j) - dualX[i] - dualY[j],
// and an arc is tight when its reduced cost is exactly 0. The duals are kept
// feasible (no present arc has a negative reduced cost) and every assigned arc
// tight; a complete assignment of tight arcs under feasible duals is optimal,
// because its cost equals the sum of all duals, which bounds every assignment
// from below.
//
// One augmentation grows an alternating tree (`AlternatingTree`) from a free
// root row: from a tree row it follows tight arcs into columns; a column held
// by a row brings that row into the tree, a free column ends the search, and
// the path back to the root is flipped (each row on it takes the column it was
// reached through; the root becomes assigned). While no tight arc leads out of
// the tree, the least slack delta of a column outside the tree (the least
// reduced cost of an arc from a tree row into it) is moved into the duals:
// tree rows rise by delta, columns in the tree fall by delta. Arcs inside the
// tree and the assignment stay tight, no reduced cost turns negative, and at
// least one new column becomes reachable. Ties are broken by order, never by
// chance: arcs in list order, zero-slack columns lowest number first, roots
// lowest row first, and a column's slack row is the first row that reached
// its least slack.
//
// Cost. One augmentation passes once over the arcs of every row that enters
// its tree, and once per dual update over the columns those arcs reached. A
// solve from scratch makes n augmentations.
//
// Incremental re-solve. A child node differs from its parent by removed arcs.
// `removeArc` frees only the row whose assigned arc was removed; every other
// row keeps its column, its dual and its tight arc, and all column duals stay
// as they are. The freed row's dual becomes its least cost net of the column
// duals over its remaining arcs; that can only raise it (the old dual was
// feasible), keeps its reduced costs non-negative and makes at least one of
// them 0. The invariant above then holds again for the kept part, so a single
// augmentation per freed row restores an optimal complete assignment: after a
// removal the re-solve costs one augmentation instead of n, and its value
// equals that of a solve from scratch on the same arcs.
//
// Infeasibility. When a tree can reach no further column (a row without arcs,
// a column no row can reach, any lack of a perfect matching) the solve stops
// and sets `infeasible`; `solutionValue` then reports InfeasibleBound until
// `restoreState` loads a feasible state. Copies inherit the flag. A column
// dual of InfeasibleBound marks a column that had no incoming arc when the
// duals were formed; such a column is only ever met by an already infeasible
// problem, and an arc into it is treated as unusable (never tight, never a
// slack) instead of overflowing.
//
// Lazy dual updates. Within one augmentation the duals of tree rows and tree
// columns are not touched at each dual update; the sum of the deltas so far
// is kept instead, with the sum at which each row and column entered the
// tree, and the column slacks are kept shifted by that sum. A dual update
// then costs one pass to find the least slack and the columns that attain it,
// and every dual is settled once at the end of the augmentation. The values
// are the same integers the step-by-step updates give.
//
// A node's arcs. The graph is shared and never changed; an optional `ArcMask`
// (ArcMask.h) names the arcs a search node has taken out, and every scan
// skips them, so that the solver sees the node's arcs without a copy of them.
//
// Compact state. After a feasible solve every assigned arc is tight, so a
// row's dual is its assigned arc's cost less its column's dual. The state
// that a search node keeps (`AssignmentState`) is therefore only the position
// of each row's assigned arc in its row and the column duals: 10 bytes per
// city. `restoreState` rebuilds assignment and row duals from it exactly.
//
// Work arrays (column owners, row queue, slacks) are kept between solves, and
// each augmentation resets only the entries the previous one touched, so that
// on sparse rows a re-solve costs O(n) to find its free rows plus what its
// augmentation touches.
//
// Ownership. The object refers to the graph and to the mask without owning
// them; they must outlive it. Copies are member-wise and share both. One
// object is used by one thread at a time; distinct objects are independent.
// How the search uses it: Brancher.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "assignment/ArcMask.h"
#include "graph/Graph.h"

namespace atsp {

// What a search node keeps of its assignment problem. Entry i of `assignedArcs`
// is the position, in row i of the lists, of the arc assigned to row i;
// `columnDuals` are the column duals. Row duals follow from them.
struct AssignmentState {
    std::vector<Node> assignedArcs;
    std::vector<std::int64_t> columnDuals;
};

class AssignmentProblem {
  public:
    // Refers to the graph (not owned); sizes assignment and duals to n, all
    // zero; infeasible false; no mask. Nothing is solved.
    explicit AssignmentProblem(const Graph& graph);

    // Moves the problem to another graph of the same n that holds every
    // assigned arc (a grown sparse core); assignment and duals stay, the
    // assigned arcs' positions are looked up anew.
    void setGraph(const Graph& graph);

    // Arcs that `mask` blocks count as absent from the lists; null: none
    // (the default). Not owned; its size must be n.
    void setArcMask(const ArcMask* mask) { this->mask = mask; }

    // false: solve from scratch. true: keep every assigned row, re-assign the
    // NoNode rows.
    void solveHungarian(bool incremental);

    // The same, but giving up as soon as the value is known to reach
    // `cutoff`: the dual objective (the sum of all duals, a lower bound on
    // every complete assignment while the duals are feasible) only rises
    // during a solve and ends at the value, so once it reaches the cutoff the
    // value will too. The problem is then left part-solved and
    // `solutionValue` reports that lower bound, at least `cutoff`.
    void solveHungarian(bool incremental, std::int64_t cutoff);

    // A solve from scratch that first assigns most rows by augmenting row
    // reduction (Jonker and Volgenant): a free row takes the column of its
    // least net cost c - v, lowering that column's dual by the gap to its
    // second least so that the arc is tight, and the row that held the column
    // is freed in turn. Duals stay feasible and assigned arcs tight, so the
    // rows still free are then augmented as by solveHungarian. The same value
    // as solveHungarian(false) at far fewer long augmentations; ties may fall
    // otherwise.
    void solveByRowReduction();

    // A trial: beginTrial starts recording every change that removeArc and
    // solveHungarian make, and endTrial undoes them all, leaving the problem
    // exactly as it was at beginTrial. A search bounds each child so, in its
    // parent's problem, and pays for what the child's augmentation touches
    // instead of a copy of the whole problem. Trials do not nest.
    void beginTrial();
    void endTrial();

    const std::vector<Node>& solution() const { return assignment; }

    // InfeasibleBound once infeasible; after a solve that reached its cutoff,
    // the lower bound it reached; otherwise the assignment's total cost.
    std::int64_t solutionValue() const;

    // Row i becomes NoNode if it is assigned j; nothing else changes.
    void removeArc(Node i, Node j);

    // The duals, to read.
    const std::vector<std::int64_t>& rowDuals() const { return dualX; }
    const std::vector<std::int64_t>& columnDuals() const { return dualY; }

    // (start city = lowest city of the shortest cycle, length).
    std::pair<Node, Node> findMinCycle();

    // The compact state of a feasible, complete solve (see the header), and
    // the problem rebuilt from one: assignment, row duals and column duals as
    // they were, infeasible false. The state must come from these lists.
    void saveState(AssignmentState& state) const;
    void restoreState(const AssignmentState& state);

    // The optimality certificate of a complete solve, for tests and checks:
    // the assignment is a permutation over allowed arcs, no allowed arc has a
    // negative reduced cost, and every assigned arc is tight. O(arcs).
    bool certifiesOptimality() const;

  private:
    // Every change of assignment or duals goes through these, which record
    // the old value during a trial.
    void assignRow(Node row, Node column, Node arc);
    void setColumnRow(Node column, Node row);
    void setRowDual(Node row, std::int64_t dual);
    void setColumnDual(Node column, std::int64_t dual);

    // Rebuilds what follows from the assignment and the duals: the owner of
    // each column, the free rows, and the sum of the duals.
    void deriveFromAssignment();
    void sumDuals();

    const Graph* graph;
    const ArcMask* mask;
    std::vector<Node> assignment;
    // Position of each assigned arc in its row; NoNode for a free row.
    std::vector<Node> assignedArcs;
    std::vector<std::int64_t> dualX;
    std::vector<std::int64_t> dualY;
    bool infeasible;
    bool stoppedAtCutoff = false;
    std::int64_t boundAtCutoff = 0;

    // Kept in step with `assignment` once known (a fresh problem's all-zero
    // assignment has no inverse): the row holding each column, or NoNode,
    // and the NoNode rows in any order.
    std::vector<Node> columnRows;
    std::vector<Node> freeRows;
    bool assignmentDerived = false;
    // The sum of all duals, the dual objective: a lower bound on every
    // complete assignment while the duals are feasible, and the value once
    // the assignment is complete (every assigned arc is tight). Unknown while
    // a column has no incoming arc, or after the caller took the duals.
    std::int64_t dualSum = 0;
    bool dualSumKnown = false;

    // The record of a trial: old values, undone last first, and the state it
    // began in.
    struct Change {
        enum class Kind : std::uint8_t { Row, ColumnRow, RowDual, ColumnDual };
        Kind kind;
        Node index;
        Node oldNode;          // Row: old column; ColumnRow: old row
        Node oldArc;           // Row: old arc position
        std::int64_t oldDual;  // RowDual, ColumnDual
    };
    struct TrialStart {
        bool infeasible;
        bool stoppedAtCutoff;
        std::int64_t boundAtCutoff;
        bool assignmentDerived;
        std::int64_t dualSum;
        bool dualSumKnown;
        std::vector<Node> freeRows;
    };
    bool inTrial = false;
    std::vector<Change> changes;
    TrialStart trialStart{};

    // The steps of one solve, and the work arrays they use; defined with the
    // solver.
    class HungarianSolve;
    struct WorkArrays;

    // Augments the free rows, lowest first, until all are assigned or one
    // can not be (infeasible) or the cutoff is reached.
    void augmentFreeRows(HungarianSolve& solve);
    // The work arrays outlive a solve, so that a re-solve costs what its
    // augmentation touches rather than n entries of fresh storage. A copy of
    // the problem starts without them: they hold no state between solves.
    class WorkArraysHolder {
      public:
        WorkArraysHolder();
        WorkArraysHolder(const WorkArraysHolder&);
        WorkArraysHolder& operator=(const WorkArraysHolder&);
        WorkArraysHolder(WorkArraysHolder&&) noexcept;
        WorkArraysHolder& operator=(WorkArraysHolder&&) noexcept;
        ~WorkArraysHolder();
        WorkArrays& arraysFor(std::size_t n);

      private:
        std::unique_ptr<WorkArrays> arrays;
    };
    WorkArraysHolder work;
};

}  // namespace atsp
