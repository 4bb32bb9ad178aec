// The search: a best-first branch and bound for the asymmetric travelling
// salesman problem in the manner of Balas and Christofides, on one thread or
// a team of OpenMP threads.
//
// Every search-tree node (`Subproblem`) is the assignment-problem relaxation
// of the tour problem on the arcs still allowed at it; its value is the node's
// lower bound. The search starts from a known tour (the incumbent), expands
// open nodes of least bound first, and branches on the shortest subtour of a
// node's assignment one child at a time (Brancher.h): after each surviving
// child the node goes back among the open nodes next to the child, and makes
// its next child when it is taken up again.
//
// The pipeline of one run:
//   1. the incumbent: the starting tour given, or 0, 1, ..., n-1, 0;
//   2. presolve (Presolve.h): the root solved, its cycles patched into a
//      better incumbent (under a time limit improved further by the local
//      search of LocalSearch.h), the search in rounds on the arcs of least
//      reduced cost, the arcs no cheaper tour can use dropped;
//   3. each round's tree searched by TreeSearch.h, the same loop on one
//      thread and on many, with this file's expander on every thread;
//   4. under the LP bound (chosen, or once the assignment bound's tree has
//      outgrown its share of nodes): the incumbent improved by the local
//      search, the root LP with subtour cuts and reduced-cost fixing
//      (LpRoot.h), then branch and cut (LpExpander.h) on the same loop, each
//      tour found improved by the local search before it is offered;
//   5. the report: the incumbent, proven optimal unless a time limit stopped
//      the search.
// SearchOptions.h chooses the steps and the policies (open-node order,
// hand-off, how the incumbent is read); SearchOptions::described() gives the
// search as first built, whose trees on one thread are reproducible node for
// node. Every choice keeps the report the proven optimum; among several
// optimal tours another may be returned.
//
// Memory: the graph once, plus about 10 bytes per city and a few hundred bytes
// per open node (Subproblem.h); a child that dies at once is never stored.
#pragma once

#include <vector>

#include "graph/Graph.h"
#include "search/SearchOptions.h"
#include "search/SearchStatistics.h"
#include "search/TourResult.h"

namespace atsp {

// A cheapest tour of the graph, on options.threads threads. The incumbent
// starts as `*startTour` when given (n entries, each below n), else as the
// tour 0, 1, ..., n-1, 0; only a strictly cheaper tour replaces it. A
// starting tour that sums to a negative cost (possible only with negative
// arc costs) is returned at once with cost -1 and `negativeStart`; no search
// is made. A starting tour with an arc the graph lacks is no tour: the search
// starts without one. `statistics`, when not null, receives the counts of
// this run.
TourResult searchTour(const Graph& graph, const SearchOptions& options,
                      const std::vector<Node>* startTour = nullptr,
                      SearchStatistics* statistics = nullptr);

}  // namespace atsp
