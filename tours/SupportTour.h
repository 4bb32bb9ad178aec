// A tour read off a fractional LP solution: the arcs the LP likes most, as
// many as make no subtour, joined into one cycle by the cheapest arcs left.
//
// Method. The support's arcs are taken in order of their LP value, highest
// first (ties: cheaper first, then by tail and head): an arc joins when its
// tail has no successor yet, its head no predecessor, and it closes no cycle
// (a union-find of the paths built so far). What is left is a set of paths
// (a city without arcs is a path of one); they are joined greedily, the end
// of the current path to the start of the unjoined path that the cheapest
// arc reaches, until one path remains, which its last arc closes. Near an
// integral LP solution this gives the LP's tour, and otherwise a start for a
// local search much nearer the optimum than a patched assignment.
//
// Cost: sorting the support, O(m log m), and O(p^2) row look-ups for p
// paths. Empty when the graph lacks an arc the joining needs.
#pragma once

#include <span>
#include <vector>

#include "graph/Graph.h"
#include "lp/SubtourSeparation.h"

namespace atsp {

std::vector<Node> tourFromSupport(const Graph& graph, std::span<const SupportArc> support);

// The tour of an LP's last solve: `tour` (the solution, when it is one tour),
// else one read off `support`. Empty when both are: a solve that was stopped,
// cut off or infeasible leaves no support, and a tour read off nothing would
// be the greedy joining alone, O(n^2) look-ups for no good tour (37 ms at
// n = 5000, after a deadline).
std::vector<Node> tourOfSolution(const Graph& graph, const std::vector<Node>& tour,
                                 std::span<const SupportArc> support);

}  // namespace atsp
