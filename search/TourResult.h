// What a search returns.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/Graph.h"

namespace atsp {

struct TourResult {
    // The best tour found, in successor form (entry i is the city visited
    // right after city i), and its cost: the sum of its arcs' costs. With no
    // tour at all (a graph without one, or a search stopped before it found
    // one, from a starting tour the graph lacks an arc of) `tour` is empty and
    // `cost` InfeasibleBound; zero cities give the empty tour of cost 0.
    std::vector<Node> tour;
    std::int64_t cost = 0;
    // The search stopped before it had proven its tour optimal (a time limit,
    // or a stop request): `tour` is the best tour found, and `lowerBound` is
    // what the search had proven, that no tour costs less. Otherwise
    // `lowerBound` equals `cost`.
    bool stopped = false;
    std::int64_t lowerBound = 0;
    // The search did not run: the starting tour summed to a negative cost
    // (possible only with negative arc costs), and is returned as it is.
    bool negativeStart = false;

    bool foundTour() const { return cost != InfeasibleBound; }
};

}  // namespace atsp
