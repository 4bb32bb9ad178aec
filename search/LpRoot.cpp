#include "search/LpRoot.h"

#include <algorithm>
#include <optional>

#include "graph/RowPassDeadline.h"
#include "graph/Tour.h"

namespace atsp {

namespace {

// The graph without the arcs `dropped` names (positions, sorted by tail and
// position), each row in its input order; none once `deadline` has passed
// (looked at every 64 rows: the copy takes 60 ms at n = 5000).
std::optional<Graph> withoutArcs(const Graph& graph, const std::vector<LpArc>& dropped,
                                 LpRelaxation::Clock::time_point deadline) {
    Graph::Builder kept(graph.cityCount());
    kept.reserveArcs(graph.arcCount() - dropped.size());
    std::size_t next = 0;
    for (Node row = 0; row < graph.cityCount(); ++row) {
        if (rowPassOutOfTime(row, deadline)) {
            return std::nullopt;
        }
        const std::span<const Node> heads = graph.successors(row);
        const std::span<const std::int32_t> costs = graph.costs(row);
        for (std::size_t k = 0; k < heads.size(); ++k) {
            if (next < dropped.size() && dropped[next].tail == row && dropped[next].position == k) {
                ++next;
                continue;
            }
            kept.addArc(heads[k], costs[k]);
        }
        kept.endRow();
    }
    return std::move(kept).build();
}

bool byPlace(const LpArc& first, const LpArc& second) {
    return first.tail != second.tail ? first.tail < second.tail : first.position < second.position;
}

}  // namespace

LpRoot solveLpRoot(const Graph& graph, const std::vector<std::vector<Node>>& seedTours,
                   std::int64_t incumbentCost, CutPool& pool, const CuttingPlaneOptions& options,
                   LpRelaxation::Clock::time_point deadline,
                   const std::atomic<bool>* stopFlag) {
    // Each city's cheapest arcs out and in make a sparse start that pricing
    // completes; the tours known make the first solves feasible.
    constexpr std::size_t cheapArcsPerCity = 5;
    LpRoot root;
    // The set-up passes over every arc (tens of milliseconds at n = 5000):
    // none starts past the deadline. Stopped before its first solve, the
    // root keeps the bound that says nothing.
    const auto outOfTime = [&] {
        return LpRelaxation::Clock::now() >= deadline ||
               (stopFlag != nullptr && stopFlag->load(std::memory_order_relaxed));
    };
    if (outOfTime()) {
        return root;
    }
    LpRelaxation lp(graph, CostLattice(graph, deadline));
    lp.watchStopFlag(stopFlag);
    lp.addCheapestArcs(cheapArcsPerCity, deadline);
    if (outOfTime()) {
        return root;
    }
    std::vector<LpArc> seeds;
    for (const std::vector<Node>& tour : seedTours) {
        for (Node city = 0; city < tour.size(); ++city) {
            const Node position = graph.arcPosition(city, tour[city]);
            if (position != NoNode) {
                seeds.push_back({city, position});
            }
        }
    }
    lp.addArcs(seeds);
    // Neither exact blossoms nor combs yet (see below).
    CuttingPlaneOptions first = options;
    first.exactBlossoms = false;
    first.combs = false;
    CuttingPlanes planes(lp, &pool, first);
    const CuttingPlaneResult result = planes.bound(nullptr, incumbentCost, deadline);
    root.bound = result.bound;
    root.status = result.status;
    root.support = result.support;

    std::int64_t upper = incumbentCost;
    const auto takeTour = [&](const CuttingPlaneResult& solved) {
        if (!solved.tour.empty()) {
            const std::optional<std::int64_t> cost = tourCost(graph, solved.tour);
            if (cost && *cost < upper) {
                root.tour = solved.tour;
                root.tourCost = *cost;
                upper = *cost;
            }
        }
    };
    takeTour(result);
    if (root.bound == InfeasibleBound || root.bound >= upper) {
        return root;  // no tour at all, or none cheaper to look for
    }
    // Fixing and the tree's graph pass over every arc: a stopped root skips
    // them, and a root the deadline overtakes meanwhile ends as stopped.
    const auto stopped = [&] { return root.status == CuttingPlaneStatus::Stopped || outOfTime(); };
    if (stopped()) {
        root.status = CuttingPlaneStatus::Stopped;
        return root;
    }

    // 15 per city: of 5 to 25 tried on the 316-city families, 15 gave the
    // best tours after 60 s.
    constexpr std::size_t neighboursPerCity = 15;
    root.neighbours = lp.leastReducedCostArcs(neighboursPerCity, deadline);

    // Then blossoms separated exactly and combs, on the same LP. The support
    // and the neighbours above come from before them: read after exact
    // blossoms, the local search's tours were worse (tilted-max-316-2 and
    // grid-316-3 kept tours 0.56 and 0.24 % dearer after 60 s), and after
    // combs too (all three tilted-max-316 instances, by 0.1 to 0.3 %). The
    // tree's LPs start from the blossoms and combs, which cost 10 to 30 ms a
    // round to find again. Not from the subtour cuts: the pool gives those
    // back at the first node, and seeded, they made the tree of grid-316-1
    // two to three times slower. Where the separations would not run, a
    // second loop would only cut again what the first let tail off.
    CuttingPlaneOptions exact = options;
    exact.exactBlossoms = true;
    exact.combs = true;
    if (graph.cityCount() <= exact.exactBlossomCityLimit) {
        CuttingPlanes exactPlanes(lp, &pool, exact);
        const CuttingPlaneResult stronger = exactPlanes.bound(nullptr, upper, deadline);
        root.bound = std::max(root.bound, stronger.bound);
        root.status = stronger.status;
        takeTour(stronger);
        if (root.bound == InfeasibleBound || root.bound >= upper) {
            root.neighbours.clear();
            return root;
        }
        if (stopped()) {
            root.status = CuttingPlaneStatus::Stopped;
            root.neighbours.clear();
            return root;
        }
    }
    CutRows rows = lp.cutRows();
    root.cuts.blossoms = std::move(rows.blossoms);
    root.cuts.combs = std::move(rows.combs);

    // Without a tour known, nothing can be fixed against one.
    FixedArcs fixed =
        upper != InfeasibleBound ? lp.reducedCostFixing(upper, deadline) : FixedArcs{};
    std::optional<Graph> treeGraph;
    if (!stopped()) {
        // The fixing lists arcs row by row, in their places: a sort (a tenth
        // of a second for the millions of arcs fixed at n = 2000) only if not.
        if (!std::is_sorted(fixed.forbidden.begin(), fixed.forbidden.end(), byPlace)) {
            std::sort(fixed.forbidden.begin(), fixed.forbidden.end(), byPlace);
        }
        treeGraph = withoutArcs(graph, fixed.forbidden, deadline);
    }
    if (!treeGraph) {
        root.status = CuttingPlaneStatus::Stopped;
        root.neighbours.clear();
        return root;
    }
    root.treeGraph = std::move(*treeGraph);
    for (const LpArc& arc : fixed.forced) {
        root.forced.emplace_back(arc.tail, graph.successors(arc.tail)[arc.position]);
    }
    // The columns left, moved to their places among the arcs kept.
    for (const LpArc& column : lp.columns()) {
        const auto rowBegin = std::lower_bound(fixed.forbidden.begin(), fixed.forbidden.end(),
                                               LpArc{column.tail, 0}, byPlace);
        const auto place = std::lower_bound(rowBegin, fixed.forbidden.end(), column, byPlace);
        if (place != fixed.forbidden.end() && *place == column) {
            continue;
        }
        root.columns.push_back(
            {column.tail, static_cast<Node>(column.position - (place - rowBegin))});
    }
    return root;
}

}  // namespace atsp
