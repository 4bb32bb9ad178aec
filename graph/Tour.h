// Tours on a graph. A tour is held in successor form: a vector of n cities
// whose entry i is the city visited right after city i, one cycle through all
// of them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "graph/Graph.h"

namespace atsp {

// The tour 0, 1, ..., n-1, 0: entry i is i + 1, the last entry 0. Empty for
// n = 0.
std::vector<Node> defaultTour(std::size_t cityCount);

// Whether `successors` is one cycle through all of its cities (n >= 1).
bool isSingleCycle(const std::vector<Node>& successors);

// The sum of the costs of the tour's arcs, in 64 bits; none when the graph
// lacks one of them or the tour has not n entries. A tour of one city has no arc and costs 0; so
// does the empty tour of no city.
std::optional<std::int64_t> tourCost(const Graph& graph, const std::vector<Node>& tour);

}  // namespace atsp
