// How both searches begin, before the branch and bound proper: the root
// solved on the whole graph, the incumbent improved by patching the root's
// cycles, and the arcs that cannot lie on a cheaper tour dropped. Which steps
// run is the options' choice (SearchOptions.h); the search as first built
// solves the root on all arcs and does neither of the others.
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
// twice the gap, and the last one the whole gap. Each round takes its arcs
// from the whole graph in one pass.
//
// Order, as both searches call it: solveRoot; patchRootCycles (for a feasible
// root that is no tour); then, for a root that still beats the incumbent and
// is no tour, each round's rootForRound with its gap (firstGap, then
// nextGap), and searchSuccessors/searchCosts for the round's graph.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "assignment/AssignmentProblem.h"
#include "graph/Graph.h"
#include "presolve/ArcElimination.h"
#include "search/SearchOptions.h"
#include "search/SearchStatistics.h"
#include "search/Subproblem.h"

namespace atsp {

class SearchStart {
  public:
    // The graph is only read; it must outlive the start and the search.
    SearchStart(const SuccessorLists& successors, const ArcCosts& costs,
                const SearchOptions& options);

    SearchStart(const SearchStart&) = delete;
    SearchStart& operator=(const SearchStart&) = delete;

    // The root, its assignment problem solved on the whole graph. Its
    // lowerBound is the value (InfeasibleBound when there is no complete
    // assignment); a feasible root also has its minCycle and currentNode.
    std::unique_ptr<Subproblem> solveRoot();

    // The root's assignment in successor form; a tour when the root's cycle
    // holds every city.
    const std::vector<Node>& rootAssignment() const { return rootProblem.solution(); }

    // With patching: the tour patched from the root's cycles replaces the
    // incumbent (`tour`, `cost`) when it is strictly cheaper.
    void patchRootCycles(std::vector<Node>& tour, std::int64_t& cost);

    // The gap of the first round (see the header), and of the round after
    // one with `gap`. A round whose gap reaches incumbentCost - the root's
    // bound searches for every tour cheaper than the incumbent: the last.
    std::int64_t firstGap(const Subproblem& root, std::int64_t incumbentCost) const;
    static std::int64_t nextGap(std::int64_t gap);

    // Readies the graph of the round with `gap` (with elimination, the arcs
    // of reduced cost below it, or below incumbentCost - the root's bound if
    // that is less; else the whole graph) and returns a copy of the root
    // moved onto it.
    std::unique_ptr<Subproblem> rootForRound(const Subproblem& root, std::int64_t gap,
                                             std::int64_t incumbentCost);

    // The graph the tree is searched on in the current round.
    const SuccessorLists& searchSuccessors() const;
    const ArcCosts& searchCosts() const;

    // Arcs searched in the last round and given, into `statistics`.
    void countArcs(SearchStatistics& statistics) const;

  private:
    const SuccessorLists& successors;
    const ArcCosts& costs;
    const SearchOptions& options;
    AssignmentProblem rootProblem;
    // The sparse core of the root's solve: cheap arcs, the patching's
    // candidates. Empty when the root was solved on all arcs.
    std::vector<std::vector<Node>> coreArcs;
    // The arcs of the current round, when elimination is on.
    bool narrowed = false;
    KeptArcs roundArcs;
};

}  // namespace atsp
