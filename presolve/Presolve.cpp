#include "presolve/Presolve.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "assignment/solveOnSparseCore.h"
#include "graph/Tour.h"
#include "presolve/ArcElimination.h"
#include "tours/Patching.h"

namespace atsp {

namespace {

// upper - lower, saturated at InfeasibleBound: no tour known (upper
// InfeasibleBound) leaves every gap open, and a negative bound must not
// overflow it.
std::int64_t gapBetween(std::int64_t upper, std::int64_t lower) {
    if (upper == InfeasibleBound || (lower < 0 && upper > InfeasibleBound + lower)) {
        return InfeasibleBound;
    }
    return upper - lower;
}

}  // namespace

Presolve::Presolve(const Graph& graph, const PresolveSteps& steps,
                   std::function<bool()> stopRequested)
    : graph(graph), steps(steps), stopRequested(std::move(stopRequested)), rootProblem(graph) {}

RootSolution Presolve::solveRoot() {
    if (steps.rootCoreArcsPerRow > 0) {
        if (!solveOnSparseCore(rootProblem, graph, steps.rootCoreArcsPerRow, &coreArcs,
                               stopRequested)) {
            RootSolution stopped;
            stopped.bound = graph.cheapestArcsBound();
            stopped.stopped = true;
            return stopped;
        }
    } else {
        rootProblem.solveHungarian(false);
    }
    RootSolution root;
    root.bound = rootProblem.solutionValue();
    if (root.feasible()) {
        rootProblem.saveState(root.assignment);
        root.minCycle = rootProblem.findMinCycle();
    }
    return root;
}

void Presolve::patchRootCycles(std::vector<Node>& tour, std::int64_t& cost) {
    if (!steps.patchRootCycles) {
        return;
    }
    std::vector<Node> patched = patchCycles(graph, rootProblem.solution(), rootProblem.rowDuals(),
                                            rootProblem.columnDuals(), coreArcs);
    if (patched.empty()) {
        return;
    }
    improveTour(graph, rootProblem.rowDuals(), rootProblem.columnDuals(), coreArcs, patched);
    const std::optional<std::int64_t> patchedCost = tourCost(graph, patched);
    if (patchedCost && *patchedCost < cost) {
        tour = std::move(patched);
        cost = *patchedCost;
    }
}

LocalSearch Presolve::localSearch() const {
    return localSearch({});
}

LocalSearch Presolve::localSearch(const std::vector<std::vector<Node>>& extraNeighbours) const {
    // As many neighbours as the sparse core holds by default.
    constexpr std::size_t neighboursPerCity = 10;
    std::vector<std::vector<Node>> neighbours =
        coreArcs.empty() ? cheapestReducedCostArcs(graph, rootProblem.rowDuals(),
                                                   rootProblem.columnDuals(), neighboursPerCity)
                         : coreArcs;
    for (std::size_t row = 0; row < neighbours.size() && row < extraNeighbours.size(); ++row) {
        std::vector<Node>& list = neighbours[row];
        for (const Node position : extraNeighbours[row]) {
            if (std::find(list.begin(), list.end(), position) == list.end()) {
                list.push_back(position);
            }
        }
    }
    return LocalSearch(graph, rootProblem.rowDuals(), rootProblem.columnDuals(), neighbours);
}

std::int64_t Presolve::firstGap(const RootSolution& root, std::int64_t incumbentCost) const {
    const std::int64_t wholeGap = gapBetween(incumbentCost, root.bound);
    if (!steps.cheapArcsFirst || !steps.eliminateArcs || wholeGap == InfeasibleBound) {
        return wholeGap;
    }
    return std::max<std::int64_t>(1, wholeGap / 64);
}

std::int64_t Presolve::nextGap(std::int64_t gap) {
    return gap > InfeasibleBound / 2 ? InfeasibleBound : 2 * gap;
}

std::optional<AssignmentState> Presolve::enterRound(const RootSolution& root, std::int64_t gap,
                                                    std::int64_t incumbentCost) {
    AssignmentState assignment = root.assignment;
    const std::int64_t threshold = std::min(gap, gapBetween(incumbentCost, root.bound));
    // Without a tour known every arc may lie on the first one.
    narrowed = steps.eliminateArcs && threshold != InfeasibleBound;
    if (narrowed) {
        std::optional<Graph> kept =
            keepArcsBelow(graph, rootProblem.rowDuals(), rootProblem.columnDuals(), threshold,
                          assignment.assignedArcs, stopRequested);
        if (!kept) {
            narrowed = false;
            return std::nullopt;
        }
        roundGraph = std::move(*kept);
    }
    return assignment;
}

}  // namespace atsp
