// What a public Problem holds: the graph the search runs on.
#pragma once

#include <string>
#include <vector>

#include "atsp/atsp.h"
#include "graph/Graph.h"

namespace atsp {

struct Problem::Data {
    Graph graph;
};

// `tour` (cities in visiting order) in successor form, after checking that
// it names each of the `cityCount` cities once; `what` names it in the
// BadInput message ("the starting tour").
std::vector<Node> successorsOfVisitingOrder(const std::vector<int>& tour, std::size_t cityCount,
                                            const std::string& what);

// The visiting order from city 0 of a tour in successor form.
std::vector<int> visitingOrderOfSuccessors(const std::vector<Node>& successors);

}  // namespace atsp
