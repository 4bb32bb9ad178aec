// Serial best-first branch and bound for the asymmetric travelling salesman
// problem, in the manner of Balas and Christofides.
//
// Every search-tree node (`Subproblem`) is the assignment-problem relaxation of
// the tour problem on the arcs still allowed at it; its value is the node's
// lower bound. The search starts from a known tour (the incumbent), always
// expands the open node of least bound, and branches on the shortest subtour of
// its assignment one child at a time: after each surviving child the node goes
// back among the open nodes, next to the child, and makes its next child when it
// is taken up again.
//
// The open nodes form a list sorted by lower bound. A node is inserted ahead of
// older entries of equal bound, except that a child inserted together with its
// parent is placed behind the parent. Together with the fixed scan orders of the
// assignment solver this makes every run reproducible, node for node.
//
// That is the search as first built (SearchOptions::described()). By default
// it runs as the fast search instead: the root solved on a sparse core, its
// cycles patched into the incumbent, the tree searched in rounds on the arcs
// of least reduced cost, the arcs no cheaper tour can use dropped, and child
// re-solves cut off at the incumbent (SearchOptions.h, SearchStart.h). Each
// step keeps the answer the optimum; the nodes made differ.
//
// Memory: the graph once, plus about 10 bytes per city and a few hundred bytes
// per open node (Subproblem.h); a child that dies at once is never stored.
// Open nodes that can no longer beat a newly found tour are released at once
// rather than when they would reach the front. Past SearchOptions::
// openNodeMemory the search goes depth-first until the open nodes fit again.
#pragma once

#include <vector>

#include "graph/Graph.h"
#include "search/SearchOptions.h"
#include "search/SearchStatistics.h"

namespace atsp {

// A cheapest tour of the graph, in successor form, with its 64-bit cost.
// The incumbent starts as `*startTour` when given (n entries, each below n),
// else as the tour 0, 1, ..., n-1, 0; only a strictly cheaper tour replaces it.
// Cost -1 means that the search stopped on a negative cost: the starting tour
// summed to a negative value (it is returned, no node is made), or a node's
// lower bound was negative (the incumbent of that moment is returned).
// Zero cities give an empty tour of cost 0.
// `statistics`, when not null, receives the node counts of this run;
// `options`, when not null, chooses the search's steps (the fast search by
// default), and may set a time limit and ask for progress reports
// (SearchOptions.h).
TourResult balasChristofides(const SuccessorLists& successors, const ArcCosts& costs,
                             const std::vector<Node>* startTour,
                             SearchStatistics* statistics = nullptr,
                             const SearchOptions* options = nullptr);

}  // namespace atsp
