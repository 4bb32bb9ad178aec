// The common entry of both searches: the tour they start from and its cost.
//
// Both `balasChristofides` and `balasChristofidesParallel` take the graph by
// constant reference and an optional starting tour (null for none), and begin
// with this tour as their incumbent. A search whose starting tour sums to a
// negative cost stops at once and reports cost -1 with that tour.
#pragma once

#include <cstdint>
#include <vector>

#include "AssignmentProblem/Types.h"

// A copy of `startTour` when one is given; otherwise the tour 0, 1, ..., n-1, 0
// in successor form (entry i is i+1, the last entry 0). Empty for n = 0.
std::vector<Node> startingTour(const SuccessorLists& successors,
                               const std::vector<Node>* startTour);

// Sum of the costs of the tour's arcs, in 64 bits. An arc that the graph does
// not hold (for one city, the loop 0 -> 0) adds nothing: it is looked up in its
// tail's successor list and skipped when absent.
std::int64_t tourCost(const SuccessorLists& successors, const ArcCosts& costs,
                      const std::vector<Node>& tour);
