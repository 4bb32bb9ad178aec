// Reduced-cost elimination: the arcs that no tour cheaper than the incumbent
// can use, dropped before the search.
//
// Why it is exact. Let u and v be optimal duals of the root's assignment
// problem, LB = sum u + sum v its value, and UB the incumbent's cost. Every
// tour T is an assignment, and summing c(i, j) = (c(i, j) - u(i) - v(j)) +
// u(i) + v(j) over its arcs gives cost(T) = LB + the sum of the reduced costs
// of T's arcs, each of which is at least 0. So a tour through an arc whose
// reduced cost is at least UB - LB costs at least UB. The search only ever
// looks for a tour strictly cheaper than the incumbent, and keeps the
// incumbent otherwise, so such arcs can go: equality included, since a tour
// of cost exactly UB could not replace the incumbent anyway. Among several
// optimal tours the search may therefore return another one than it would on
// all arcs (ties), never a dearer one.
//
// The arcs left keep their input order in every row, and the root's
// assigned arcs (reduced cost 0, below UB - LB > 0) all stay, so the root's
// optimal assignment and duals stay optimal on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "graph/Graph.h"

namespace atsp {

// The arcs whose reduced cost under (rowDuals, columnDuals) is below
// `threshold` (UB - LB, positive), rows in input order. `positions` holds a
// position in each row of the input (the root's assigned arcs) and is moved
// to the same arc's position among the arcs kept; each of those arcs must be
// kept.
// `stopRequested`, when given, is asked every few hundred rows; once it says
// yes the pass gives up and returns nothing.
std::optional<Graph> keepArcsBelow(const Graph& graph, const std::vector<std::int64_t>& rowDuals,
                                   const std::vector<std::int64_t>& columnDuals,
                                   std::int64_t threshold, std::vector<Node>& positions,
                                   const std::function<bool()>& stopRequested = {});

}  // namespace atsp
