// The root of the search under the LP bound: the LP with subtour cuts on the
// whole graph (the Held-Karp bound when the loop runs to its end), then
// reduced-cost fixing against the incumbent, which leaves the tree a graph of
// only the arcs a cheaper tour can use.
//
// Why the fixing is exact: with the root's safe bound L and rounded duals, a
// tour through an arc of reduced cost r > 0 costs at least L + r, and one
// that avoids an arc of reduced cost r < 0 at least L - r (LpRelaxation.h).
// An arc of the first kind with L + r >= UB lies on no tour cheaper than the
// incumbent's cost UB, so the tree's graph drops it; the search looks only
// for strictly cheaper tours, so a tie is dropped too. An arc of the second
// kind lies on every such tour: it is forced in the tree's root.
//
// Once its loop ends, the root separates blossoms exactly as well, and combs
// whose teeth are paths (CuttingPlaneOptions::exactBlossoms, ::combs), in a
// second loop on the same LP. The tree's nodes separate combs only where
// every tour costs what its reverse does and the root found some
// (SearchEngine.cpp), exact blossoms not at all.
// The subtour cuts found stay in the pool for the tree's nodes, and the root
// LP's columns, blossoms and combs seed every thread's LP.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

#include "graph/Graph.h"
#include "lp/CutPool.h"
#include "lp/CuttingPlanes.h"
#include "lp/LpRelaxation.h"

namespace atsp {

struct LpRoot {
    // No tour of the graph costs less; InfeasibleBound when there is none,
    // the lowest value when nothing is known (stopped before a first solve).
    std::int64_t bound = std::numeric_limits<std::int64_t>::min();
    CuttingPlaneStatus status = CuttingPlaneStatus::Stopped;
    // An integral LP solution that is one tour, and its cost.
    std::vector<Node> tour;
    std::int64_t tourCost = InfeasibleBound;
    // The support of the LP solution before the exact separations: arcs a good
    // tour is likely to use.
    std::vector<SupportArc> support;
    // For each row of the graph, the positions of its arcs of least reduced
    // cost under the root LP's duals before the exact separations, cut duals
    // counted: neighbours for the local search that the assignment's duals,
    // blind to the cuts, rank poorly. Empty when the root stopped, or needs
    // no tree.
    std::vector<std::vector<Node>> neighbours;
    // The arcs left after fixing against the incumbent, in input order.
    Graph treeGraph;
    // The root LP's columns that are left, as positions in treeGraph.
    std::vector<LpArc> columns;
    // Cut rows of the root LP for the tree's LPs to start from: its
    // blossoms and combs (its subtour cuts are in the pool).
    CutRows cuts;
    // Arcs on every tour cheaper than the incumbent: (tail, head).
    std::vector<std::pair<Node, Node>> forced;
};

// Bounds the whole graph by the LP with subtour cuts, from the `seedTours`'
// arcs and each city's cheapest arcs, adding the cuts it finds to `pool`,
// then fixes arcs against min(incumbentCost, the cost of a tour it finds).
// Stopped at the deadline or by `*stopFlag`, it returns the bound and tour so
// far, status Stopped, and no tree graph; past them already, it builds
// nothing.
LpRoot solveLpRoot(const Graph& graph, const std::vector<std::vector<Node>>& seedTours,
                   std::int64_t incumbentCost, CutPool& pool, const CuttingPlaneOptions& options,
                   LpRelaxation::Clock::time_point deadline,
                   const std::atomic<bool>* stopFlag = nullptr);

}  // namespace atsp
