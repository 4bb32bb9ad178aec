// Blossom inequalities of the ATSP, separated exactly: a most violated one
// is found whenever any is violated, where BlossomSeparation's heuristic
// finds only those whose handle is a component of fractional edges and whose
// teeth are edges of value 1.
//
// The inequality (see BlossomSeparation.h for the comb form the LP writes).
// With y(i, j) = x(i, j) + x(j, i), a handle H and an odd set F of edges
// with exactly one end in H,
//     sum over delta(H) \ F of y(e) + sum over F of (1 - y(e)) >= 1,
// for in a tour y(delta(H)) is even, so y cannot be 0 off F and 1 on F.
// The degree equations turn it into the comb form with the edges of F as
// teeth: x(out of {u, v}) = 2 - y(u, v) however the teeth meet, so the teeth
// need not be disjoint here, only distinct. With |F| = 1 subtour cuts imply
// it, so |F| >= 3 is reported.
//
// Method (Letchford, Reinelt and Theis, "Odd minimum cut sets and
// b-matchings revisited", 2008). With weights w(e) = min(y(e), 1 - y(e)), a
// handle's least left-hand side is w(delta(H)), plus, when the edges of
// delta(H) with y > 1/2 are even in number, the least |1 - 2 y(e)| on it (one
// edge changes sides of F). Some fundamental cut of a Gomory-Hu tree of the
// weights attains the least violated handle, so the n - 1 cuts of the tree
// (Gusfield's algorithm: n - 1 maximum flows, by Dinic's method) are all that
// is measured. Each reported blossom is measured again on the arcs given, as
// BlossomSeparation's are, and is valid for every tour whatever the
// floating-point flows got wrong: only the choice of handles rests on them.
//
// Cost: n - 1 maximum flows on the support's edges, then O(n m) to measure
// the tree's cuts: 6 to 30 ms a call on the 316-city families. Hence the
// deadline, looked at between flows.
#pragma once

#include <chrono>
#include <cstddef>
#include <span>
#include <vector>

#include "lp/BlossomSeparation.h"
#include "lp/SubtourSeparation.h"

namespace atsp {

class ExactBlossomSeparation {
  public:
    using Clock = std::chrono::steady_clock;

    explicit ExactBlossomSeparation(std::size_t cityCount) : cityCount_(cityCount) {}

    // The violated blossoms among the tree's cuts, by how much they are
    // violated, most first (one per handle; the handle is the cut's side of
    // fewer cities, of two equal halves the one holding city 0). None once
    // `deadline` has passed. Throws std::invalid_argument for a city out of
    // range.
    std::vector<Blossom> separate(std::span<const SupportArc> arcs, double tolerance,
                                  Clock::time_point deadline = Clock::time_point::max()) const;

  private:
    std::size_t cityCount_;
};

}  // namespace atsp
