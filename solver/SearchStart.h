// How both searches begin, before the branch and bound proper: the root
// solved on the whole graph, the incumbent improved by patching the root's
// cycles, and the arcs that cannot lie on a cheaper tour dropped. Which steps
// run is the options' choice (SearchOptions.h); the search as first built
// solves the root on all arcs and does neither of the others.
//
// Searching in rounds. Every tour costs the root bound LB plus the sum of the
// reduced costs of its arcs (ArcElimination.h), so every tour cheaper than
// LB + gap uses only arcs of reduced cost below gap. A tree searched on those
// arcs alone, pruning at LB + gap, therefore finds the cheapest tour below
// LB + gap if there is one, and then it is optimal. On random instances the
// optimum lies far closer to LB than the patched tour does, and the arcs
// below a small gap are few, so a first round with a gap of a sixteenth of
// the incumbent's is cheap and nearly always the last. A round that finds
// nothing proves that no tour costs less than LB + gap; the next round
// takes a gap four times larger, and the last one the whole gap to the
// incumbent, on all arcs left by elimination.
//
// Order, as both searches call it: solveRoot; patchRootCycles (for a feasible
// root that is no tour); then, for a root that still beats the incumbent and
// is no tour, eliminateArcs; then for each round rootForRound with its gap
// (firstGap, then nextGap), and searchSuccessors/searchCosts for the round's
// graph.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "AssignmentProblem/AssignmentProblem.h"
#include "AssignmentProblem/Types.h"
#include "solver/ArcElimination.h"
#include "solver/SearchOptions.h"
#include "solver/SearchStatistics.h"
#include "solver/Subproblem.h"

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

    // With elimination: keeps the arcs whose reduced cost is below
    // incumbentCost - the root's bound, and moves the root onto them.
    void eliminateArcs(Subproblem& root, std::int64_t incumbentCost);

    // The gap of the first round (see the header), and of the round after
    // one with `gap`. A round whose gap reaches incumbentCost - the root's
    // bound searches for every tour cheaper than the incumbent: the last.
    std::int64_t firstGap(const Subproblem& root, std::int64_t incumbentCost) const;
    static std::int64_t nextGap(std::int64_t gap);

    // Readies the graph of the round with `gap` (the arcs of reduced cost
    // below it) and returns a copy of the root moved onto it.
    std::unique_ptr<Subproblem> rootForRound(const Subproblem& root, std::int64_t gap,
                                             std::int64_t incumbentCost);

    // The graph the tree is searched on in the current round.
    const SuccessorLists& searchSuccessors() const;
    const ArcCosts& searchCosts() const;

    // Arcs searched in the last round and given, into `statistics`.
    void countArcs(SearchStatistics& statistics) const;

  private:
    const SuccessorLists& keptSuccessors() const;
    const ArcCosts& keptCosts() const;

    const SuccessorLists& successors;
    const ArcCosts& costs;
    const SearchOptions& options;
    AssignmentProblem rootProblem;
    // The sparse core of the root's solve: cheap arcs, the patching's
    // candidates. Empty when the root was solved on all arcs.
    std::vector<std::vector<Node>> coreArcs;
    // The arcs elimination kept, and those of a round that searches fewer.
    bool eliminated = false;
    KeptArcs kept;
    bool narrowed = false;
    KeptArcs roundArcs;
};
