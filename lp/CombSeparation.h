// Comb inequalities of the ATSP whose teeth are paths of the support, found
// by shrinking those paths and separating blossoms exactly on what is left.
//
// The inequality. With y(i, j) = x(i, j) + x(j, i), a handle H and an odd
// number t >= 3 of pairwise disjoint teeth T, each meeting H and not inside
// it, give the comb inequality of the symmetric TSP,
//     y(delta(H)) + sum over the teeth of y(delta(T)) >= 3t + 1,
// and with y(delta(S)) = 2 x(out of S), the form the LP writes:
//     x(out of H) + sum over the teeth of x(out of T) >= (3t + 1) / 2.
// Unlike a blossom's, the teeth must be disjoint: the degree equations no
// longer turn an overlap into a count that holds for every tour.
//
// Method (the shrinking heuristic of Groetschel and Holland). Cities joined
// by edges of y >= 1 - tolerance are merged, which turns each path of such
// edges into one node of degree 2. Blossoms of the merged support, separated
// exactly (ExactBlossomSeparation.h), whose teeth meet no merged node twice
// expand into combs: the handle and each tooth the union of their merged
// nodes' cities. Each comb is measured again on the arcs given and reported
// only if violated there, so the merging is a choice of sets alone: every
// comb reported is valid for every tour.
//
// Cost: that of the exact separation on the merged support, plus O(n + m).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "lp/SubtourSeparation.h"

namespace atsp {

struct Comb {
    std::vector<std::uint32_t> handle;              // sorted
    std::vector<std::vector<std::uint32_t>> teeth;  // each sorted; disjoint
    double lhs;  // x(out of H) + the teeth's outflows, over the arcs given

    // (3t + 1) / 2: the inequality's right-hand side.
    std::int64_t rhs() const { return (3 * static_cast<std::int64_t>(teeth.size()) + 1) / 2; }
};

class CombSeparation {
  public:
    using Clock = std::chrono::steady_clock;

    explicit CombSeparation(std::size_t cityCount) : cityCount_(cityCount) {}

    // Violated combs (see the header), by how much they are violated, most
    // first. None once `deadline` has passed. Throws std::invalid_argument
    // for a city out of range.
    std::vector<Comb> separate(std::span<const SupportArc> arcs, double tolerance,
                               Clock::time_point deadline = Clock::time_point::max()) const;

  private:
    std::size_t cityCount_;
};

}  // namespace atsp
