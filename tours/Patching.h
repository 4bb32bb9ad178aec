// Heuristic tours from an assignment: Karp's patching of its cycles into one
// tour, and exchanges of three arcs that improve a tour. Both work in reduced
// costs under the assignment's duals, in which the assignment's own arcs cost
// nothing, and look for new arcs first among a sparse set of cheap ones.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/Graph.h"

namespace atsp {

// A tour made from an assignment by Karp's patching: its cycles are merged
// into one, largest first (ties: the one with the lowest city first), each
// into the tour so far by the exchange of two arcs of least added cost: arcs
// i -> s(i) of the tour and k -> s(k) of the cycle give way to i -> s(k) and
// k -> s(i). With the assignment's optimal duals its arcs have reduced cost
// 0, and the added cost of an exchange, counted in reduced costs c - u - v,
// lies mostly in the two new arcs. Exchanges are looked for first among the arcs
// `candidates` names (for each row, positions in its list: a sparse set of
// cheap arcs), in which one of the two new arcs must lie; a merge that finds
// none there tries every pair. Ties go to the first pair met, in cycle order.
// Empty when the assignment is not a complete permutation or some merge has
// no exchange whose two arcs exist.
std::vector<Node> patchCycles(const Graph& graph, const std::vector<Node>& assignment,
                              const std::vector<std::int64_t>& rowDuals,
                              const std::vector<std::int64_t>& columnDuals,
                              const std::vector<std::vector<Node>>& candidates);

// Improves `tour` (successor form) in place by the one exchange of three arcs
// that keeps every arc's direction: arcs a -> a', b -> b', c -> c', met in
// this order along the tour, give way to a -> b', c -> a', b -> c', which
// moves the stretch a'..b behind the stretch b'..c. Moves are sought with
// a -> b' and b -> c' among the `candidates` arcs (positions per row, as for
// patchCycles), cheapest reduced cost first, and made while one lowers the
// tour's cost; the first improving move found is made. Reduced costs under
// any duals give the same change of cost as costs do, since each city loses
// and gains one outgoing and one incoming arc.
void improveTour(const Graph& graph, const std::vector<std::int64_t>& rowDuals,
                 const std::vector<std::int64_t>& columnDuals,
                 const std::vector<std::vector<Node>>& candidates, std::vector<Node>& tour);

}  // namespace atsp
