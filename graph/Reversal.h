// Whether every tour costs what the same tour driven backwards costs.
//
// Why it matters. Where it holds, an LP solution and its transpose bound
// alike, so forbidding one arc of a pair i -> j, j -> i lets the LP take the
// other at little cost, and a search that branches on single arcs barely
// moves its bounds; branching on the pair (LpBranching::Edge) does. Such
// instances are symmetric ones in disguise: the tilted drilling costs that
// charge climbing more than descending by the same factor everywhere, for one.
//
// The test. A tour T and its reverse differ by the sum over T of
// d(i, j) = c(j, i) - c(i, j), which telescopes to 0 round every tour when
// d(i, j) = q(j) - q(i) for some potentials q. That is what is checked, along
// a breadth-first forest of the graph and then on every arc; a graph with an
// arc whose reverse is missing is never taken to be reversible.
//
// Cost: O(m) look-ups of reverse arcs (Graph::arcPosition: O(1) on full rows).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "graph/Graph.h"

namespace atsp {

// Potentials q with c(j, i) - c(i, j) = q(j) - q(i) over all arcs, every
// arc's reverse in the graph: then every tour costs what its reverse costs,
// and a path p driven backwards costs q(last) - q(first) more than forwards.
// None where there are no such q. For fewer than three cities: zeros.
std::optional<std::vector<std::int64_t>> reversalPotentials(const Graph& graph);

}  // namespace atsp
