// One thread's part of the search under the LP bound: the node protocol and
// the thread's workspace. The expander of TreeSearch.h.
//
// Taking a node up: its constraints go into the thread's ArcMask, and the
// thread's LP (on the tree's graph, seeded with the root's columns, cuts
// drawn from the shared pool) bounds it by the cutting-plane loop, cut off at
// the best tour that matters (CuttingPlanes.h). An integral solution that is
// one tour is offered to the incumbent (so is a tour read off the LP's
// support). A node whose bound reaches the best tour, or that allows no tour,
// is dropped; any other first has its arcs fixed by their reduced costs
// against the best tour (LpRelaxation::reducedCostFixing: arcs on no cheaper
// tour below the node are forbidden, arcs on all of them forced, for the
// node's whole subtree), then is branched at once on an arc of its LP
// solution: one child forbids the arc, the other forces it (with edge
// branching, where the node allows the reverse arc: one child forbids both,
// one forces the arc, one its reverse, unless the node is mirrored
// (LpSubproblem.h), when the last is left out). The arc is chosen among
// the 32 fractional arcs nearest 1/2, of those the mask still allows (ties:
// the lowest tail, then head); under edge branching among the edges whose
// two arcs' values sum to a fraction, nearest 1/2 by the sum. Each child's
// LP is estimated by a bounded number of dual simplex iterations (strong
// branching; the forbidding child's with the reverse forbidden too where
// the child forbids it), or, once the arc's rises have been seen often
// enough, by its pseudocosts (the team's: PseudoCosts.h), and the arc whose
// children rise most (by the product of the two rises) wins; a single
// candidate is taken as it is. The estimates only choose: the bounds that
// prune are the children's own. The child whose LP stays lower is filed
// first, so that it is taken up next, while the LP still holds its
// parent's basis. Any other node restores its parent's basis, kept for it
// (LpSubproblem::parentBasis). That costs pivots: the basis of the node
// bounded before it is the nearer start (first solves 0.044 against 0.039 s
// on tilted-max-316-1). But the trees get smaller, since the child's LP
// then ends at a vertex near its parent's, which its branching estimates
// were made from: serial, side by side, tilted-max-100-2 in 6.2 to 7.4 s
// instead of 9.3 to 9.6 s (370 LP nodes instead of 590), p43 in 0.71 to
// 0.80 s instead of 0.87 to 1.17 s, ftv170 in 0.55 to 0.64 s instead of
// 0.73 to 0.80 s. Tight cut rows dropped since the parent's basis was taken
// stay out of the restore. Keeping dropped subtour rows to put them back
// brought the parent's vertex back exactly, but the trees from scratch grew:
// grid-316-1 took 58.6 to 74.0 s instead of 41.4 to 50.6 s (three pairs side
// by side), tilted-sum-316-2 403 LP nodes instead of 297 (in three pairs).
//
// A node stopped by the deadline before its loop ended goes back among the
// open nodes with the bound it reached, to be dropped by the stopping search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "assignment/ArcMask.h"
#include "graph/CostLattice.h"
#include "graph/Graph.h"
#include "lp/CutPool.h"
#include "lp/CuttingPlanes.h"
#include "lp/LpRelaxation.h"
#include "search/ConstraintChain.h"
#include "search/LpSubproblem.h"
#include "search/PseudoCosts.h"
#include "search/Round.h"

namespace atsp {

class LpExpander {
  public:
    // The graph, the pool, the pseudocosts (shared by the team) and the
    // round must outlive the expander.
    // `lattice`: CostLattice(graph), made once for the team. The LP starts
    // from `seedColumns` (arcs of `graph`) and `seedCuts`: the root LP's.
    // `edgeBranching`: branch on an arc and its reverse together, in three
    // children (LpBranching::Edge), where the node allows both.
    LpExpander(const Graph& graph, CostLattice lattice, const std::vector<LpArc>& seedColumns,
               const CutRows& seedCuts, CutPool& pool, PseudoCosts& pseudoCosts,
               const CuttingPlaneOptions& options, Round& round, bool edgeBranching = false);

    LpExpander(const LpExpander&) = delete;
    LpExpander& operator=(const LpExpander&) = delete;

    void expand(std::unique_ptr<LpSubproblem> node,
                std::vector<std::unique_ptr<LpSubproblem>>& open);

    // What an open node takes in memory, in bytes, as a search plans its
    // open nodes, on an LP of `columns` columns: the node with its
    // constraint record, and its share of the basis its parent leaves its
    // two or three children (LpSubproblem::parentBasis). That basis keeps a
    // byte per column and per degree row, and an id and a status per cut
    // row not basic, about one per city (290 to 303 at n = 316 on the
    // tilted families): some 7.6 KB there, more than the rest of the node.
    static std::size_t estimatedNodeBytes(std::size_t cityCount, std::size_t columns);

    std::int64_t pruneBound() const { return lastBest; }
    bool stopNow() const { return round.stop.holds(); }

    const Counter& nodesCreated() const { return created; }
    std::int64_t nodesExpanded() const { return expanded.get(); }

  private:
    // The arc to branch on, or none (tail NoNode) when every row of the
    // node is down to one arc.
    struct BranchArc {
        Node tail = NoNode;
        Node head = NoNode;
        double value = 0;
        bool forceFirst = false;  // the forcing child is searched first
        // How far the forbidding child moves: the arc's value, plus its
        // reverse's where that child forbids the reverse too (forbidsPair).
        double forbiddenValue = 0;
    };
    // Strong branching ends at the deadline; the arcs it did not reach
    // then score as not rising.
    BranchArc chooseArc(const std::vector<SupportArc>& support, double lpValue,
                        LpRelaxation::Clock::time_point deadline);

    // Strong branching looks at this many of the most fractional arcs, each
    // child by at most this many dual simplex pivots. Many candidates matter
    // where cities come in near-twin groups (p43): most arcs near 1/2 then
    // have a twin that takes over at no cost, and only a wide look finds an
    // arc whose children both rise. 32 x 50 against 8 x 100: p43 proven in
    // 1.5 s instead of 53 s, ftv170 1.2 s instead of 3.6 s; the structured
    // families of the bench within their run-to-run spread. Edges as well:
    // from its best tour, tilted-sum-316-2 was proven in 117, 135 and 73 s
    // with 8, 12 and 16 candidates, in 81 to 85 s with 32 (four runs).
    static constexpr std::size_t StrongCandidates = 32;
    static constexpr int StrongIterations = 50;
    // A candidate whose rises have been seen this many times in each
    // direction (by strong branching or in the children the tree bounded)
    // is scored by its pseudocosts instead of estimated again. 2 against
    // strong branching at every node (serial, 60 s limit): tilted-max-100-1
    // 20 -> 6 s, tilted-max-100-2 49 -> 8 s, crane-316-3 53 -> 8 s, p43 1.5 ->
    // 0.5 s; 1, 4 and 8 were each slower on some of these.
    static constexpr int PseudoCostReliability = 2;
    static constexpr double FractionalTolerance = 1e-6;
    void offerOnlyAssignment();
    // Dives from the node just branched, whose LP solution has `support`
    // (see LpExpander.cpp), on diveLp; leaves the mask as the dive left it,
    // for the next expansion to clear.
    void dive(std::vector<SupportArc> support, LpRelaxation::Clock::time_point deadline);
    // Whether the node's mask allows the arc. Branching takes only such arcs:
    // fixing may have blocked an arc of the LP's solution (within rounding),
    // and forcing a blocked arc would give its column two forced arcs.
    bool allows(Node tail, Node head) const;
    // Whether the child that forbids the arc forbids its reverse too: edge
    // branching, where the node allows the reverse.
    bool forbidsPair(Node tail, Node head) const;
    // PseudoCosts::record, and for a forbidding child under edge branching
    // the same rise for the reverse arc.
    void recordRise(Node tail, Node head, bool forced, double movement, double rise);
    // The node's constraints with the arcs reduced-cost fixing takes out
    // against the best tour, which the mask records too; none when that
    // leaves a row without arcs (no cheaper tour below the node).
    std::optional<ConstraintChain> fixArcs(const ConstraintChain& constraints);

    const Graph& graph;
    ArcMask mask;
    LpRelaxation lp;
    CuttingPlanes planes;
    // The dives' own LP, seeded as `lp` is, so that a dive leaves the tree's
    // LP at the basis the next node starts from (the branched node's, whose
    // child that usually is); only where the round dives. Its cuts stay out
    // of the pool: cuts of the dives' nearly integral corners, pooled, made
    // the tree of grid-316-2 twice as large.
    struct DiveLp {
        LpRelaxation lp;
        CuttingPlanes planes;
        DiveLp(const Graph& graph, CostLattice lattice, const CuttingPlaneOptions& options)
            : lp(graph, lattice), planes(lp, nullptr, options) {}
    };
    std::unique_ptr<DiveLp> diveLp;
    Round& round;
    bool edgeBranching;
    std::int64_t lastBest = InfeasibleBound;
    Counter created;
    Counter expanded;
    PseudoCosts& pseudoCosts;
};

}  // namespace atsp
