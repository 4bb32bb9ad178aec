// What precedes the tree search: the root's assignment problem solved on the
// whole graph, the incumbent improved by patching the root's cycles, and the
// graph of each round of the search, with the arcs that cannot lie on a
// cheaper tour dropped. Which steps run is chosen by PresolveSteps; the search
// as first built solves the root on all arcs and takes none of the others.
//
// Elimination (ArcElimination.h) keeps the arcs whose reduced cost is below
// the gap between the incumbent and the root bound: every tour that could
// beat the incumbent uses only them.
//
// Searching in rounds. Every tour costs the root bound LB plus the sum of the
// reduced costs of its arcs (ArcElimination.h), so every tour cheaper than
// LB + gap uses only arcs of reduced cost below gap. A tree searched on those
// arcs alone, pruning at LB + gap, therefore finds the cheapest tour below
// LB + gap if there is one, and then it is optimal. Elimination is the round
// whose gap is the whole gap to the incumbent. On random instances the
// optimum lies far closer to LB than the patched tour does, and the arcs
// below a small gap are few, so a first round with 1/64 of the whole gap is
// cheap, and it or one of the next two finds the optimum. A round that finds
// nothing proves that no tour costs less than LB + gap; the next round takes
// twice the gap, and the last one the whole gap.
//
// Order of calls: solveRoot; patchRootCycles (for a feasible root that is no
// tour); then, while the root beats the incumbent, each round's enterRound
// with its gap (firstGap, then nextGap), and searchGraph for its arcs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "assignment/AssignmentProblem.h"
#include "graph/Graph.h"
#include "tours/LocalSearch.h"

namespace atsp {

// The steps before and between the rounds of the tree search. Each keeps
// every report the proven optimum.
struct PresolveSteps {
    // Solve the root on a sparse core of each row's cheapest arcs, repaired
    // by pricing every arc (solveOnSparseCore.h); 0: on all arcs.
    std::size_t rootCoreArcsPerRow = 10;
    // Patch the root's cycles into a tour, improved by exchanges of three
    // arcs, which becomes the incumbent when it is cheaper (Patching.h).
    bool patchRootCycles = true;
    // Search first on the arcs of least reduced cost, for tours cheaper than
    // the root bound plus a small gap, twice the gap while none turns up.
    bool cheapArcsFirst = true;
    // Drop the arcs that no tour cheaper than the incumbent can use.
    bool eliminateArcs = true;

    // None of them: the search as first built.
    static PresolveSteps none() { return {0, false, false, false}; }
};

// The root's solution: its bound (InfeasibleBound without a complete
// assignment) and, when feasible, its compact assignment and shortest cycle.
// A solve stopped before its end has only the graph's cheapest-arcs bound.
struct RootSolution {
    std::int64_t bound = InfeasibleBound;
    AssignmentState assignment;
    std::pair<Node, Node> minCycle{0, 0};  // (start city, length)
    bool stopped = false;

    bool feasible() const { return !stopped && bound != InfeasibleBound; }
};

class Presolve {
  public:
    // The graph is only read; it must outlive the presolve and the search.
    // `stopRequested`, when given, is asked during the passes over the whole
    // graph (the root's solve, elimination); once it says yes they give up.
    Presolve(const Graph& graph, const PresolveSteps& steps,
             std::function<bool()> stopRequested = {});

    Presolve(const Presolve&) = delete;
    Presolve& operator=(const Presolve&) = delete;

    // Solves the root's assignment problem on the whole graph.
    RootSolution solveRoot();

    // The root's assignment in successor form; a tour when its cycle holds
    // every city.
    const std::vector<Node>& rootAssignment() const { return rootProblem.solution(); }

    // With patching: the tour patched from the root's cycles replaces the
    // incumbent (`tour`, `cost`) when it is strictly cheaper.
    void patchRootCycles(std::vector<Node>& tour, std::int64_t& cost);

    // A local search on the graph whose neighbour lists are the sparse core's
    // arcs (or each row's arcs of least reduced cost when the root was solved
    // on all arcs), ordered by reduced cost under the root's duals. After a
    // feasible solveRoot.
    LocalSearch localSearch() const;
    // The same with each row's arcs in `extraNeighbours` (positions) among
    // its neighbours too.
    LocalSearch localSearch(const std::vector<std::vector<Node>>& extraNeighbours) const;

    // The gap of the first round (see the header), and of the round after
    // one with `gap`. A round whose gap reaches incumbentCost - the root's
    // bound searches for every tour cheaper than the incumbent: the last.
    std::int64_t firstGap(const RootSolution& root, std::int64_t incumbentCost) const;
    static std::int64_t nextGap(std::int64_t gap);

    // Readies the graph of the round with `gap` (with elimination, the arcs
    // of reduced cost below it, or below incumbentCost - the root's bound if
    // that is less; else the whole graph) and returns the root's assignment
    // on it; nothing when stopped.
    std::optional<AssignmentState> enterRound(const RootSolution& root, std::int64_t gap,
                                              std::int64_t incumbentCost);

    // The graph the tree is searched on in the current round.
    const Graph& searchGraph() const { return narrowed ? roundGraph : graph; }

  private:
    const Graph& graph;
    const PresolveSteps steps;
    const std::function<bool()> stopRequested;
    AssignmentProblem rootProblem;
    // The sparse core of the root's solve: cheap arcs, the patching's
    // candidates. Empty when the root was solved on all arcs.
    std::vector<std::vector<Node>> coreArcs;
    // The arcs of the current round, when elimination is on.
    bool narrowed = false;
    Graph roundGraph;
};

}  // namespace atsp
