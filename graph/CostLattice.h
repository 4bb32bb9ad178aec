// The residue class that every tour's cost lies in, read off the costs.
//
// Why. A bound b proves that no tour costs less than b; tours cost integers,
// so ceil(b) does too. Some instances say more: on a town of one-way streets
// every closed drive runs whole blocks, so every tour costs a multiple of
// some g > 1 and a bound can be raised to the next multiple. In general:
// for any integers u(i), v(j), each tour uses every city once as a tail and
// once as a head, so
//     cost(T) = sum of u + sum of v + sum over T of r,  r(i, j) = c(i, j) - u(i) - v(j),
// and when g divides every r(i, j), every tour's cost is congruent to
// K = sum of u + sum of v modulo g. The u and v are chosen to meet
// r(i, j) = 0 along a spanning forest of the bipartite graph of tails and
// heads; g is then the gcd of the remaining r. No other choice gives a
// larger g (within a component, another choice changes every r by
// differences that the forest's arcs force to 0 modulo its g).
//
// g = 0: every arc's r is 0, every tour costs exactly K. g = 1: nothing is
// known beyond integrality. Where a component of that bipartite graph has
// more tails than heads there is no tour, K means nothing, and g is set to 1.
//
// Cost: O(n + m) with a union-find that keeps each city's potential relative
// to its root; on most instances O(n), as the pass ends once g = 1, within
// the first rows. Where g stays above 1, about 20 ns an arc (0.5 s for the 25
// million arcs of n = 5000): hence the deadline.
#pragma once

#include <chrono>
#include <cstdint>

#include "graph/Graph.h"

namespace atsp {

class CostLattice {
  public:
    // The lattice of the graph's tours (see the header); no information
    // (modulus 1) when `deadline` passes first, looked at every 64 rows.
    explicit CostLattice(const Graph& graph, std::chrono::steady_clock::time_point deadline =
                                                 std::chrono::steady_clock::time_point::max());
    // No information: every integer is a possible cost.
    CostLattice() = default;

    std::int64_t modulus() const { return modulus_; }
    std::int64_t residue() const { return residue_; }

    // The least value >= `bound` that a tour can cost; `bound` itself when
    // no tour cost is >= it (modulus 0) or where the step would overflow.
    std::int64_t roundUp(std::int64_t bound) const;
    // The greatest value <= `value` that a tour can cost; `value` itself
    // where none is known to be (modulus 0) or the step would overflow.
    std::int64_t roundDown(std::int64_t value) const;

  private:
    std::int64_t modulus_ = 1;
    std::int64_t residue_ = 0;  // in [0, modulus) when modulus > 0
};

}  // namespace atsp
