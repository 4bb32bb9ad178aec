// Lifted cycle inequalities of the ATSP (Grötschel and Padberg's D_k), found
// by a bounded depth-first search along the support.
//
// The inequality. For distinct cities i_1, ..., i_k with 3 <= k <= n - 1,
//     sum over the cycle i_1 -> i_2 -> ... -> i_k -> i_1 of x
//   + 2 x(i_1, i_h)            for h = 3, ..., k
//   +   x(i_h, i_j)            for 3 <= j < h <= k
//   <= k - 1                                                   (D_k^+)
// and D_k^-, the same with every arc reversed (a tour read backwards is a
// tour). Why it holds: a tour meets the k cities, fewer than n, in paths, so
// it has at most k - 1 arcs among them; the chords add weight only where
// they exclude arcs: i_1 -> i_h leaves i_1's arc to i_2 and the cycle arc
// into i_h unused, and a backward chord i_h -> i_j closes a cycle with the
// cycle arcs from i_j to i_h, so one of those stays unused. (Grötschel and
// Padberg give the proof; the tests check every tour for k up to 6, and that
// k - 1 is reached.) With k = 2 it is the subtour cut of a pair, which the
// subtour separation covers; with k = n the cycle itself is a tour.
//
// Why these: on instances whose LP solutions carry both x(i, j) and x(j, i)
// on many pairs, subtour cuts and blossoms, which see only x(i, j) + x(j, i),
// leave the LP where it is; D_k puts weight on one direction.
//
// Method (in the spirit of Fischetti and Toth's separation). From every city
// i_1, extend the sequence along the support, to the `branching` heaviest
// arcs out of the last city into cities not yet in it, up to `maxLength`
// cities, keeping the left-hand side as it grows; report every sequence of 3
// or more cities whose closed inequality is violated by more than the
// tolerance. The same search on the reversed support gives D_k^-. A
// heuristic: every inequality it reports is violated as measured and valid
// for every tour, but violated ones may be missed.
//
// Cost: n branching^(maxLength - 1) sequences at most, each extension
// O(maxLength) look-ups in the support lists of the cities involved (short:
// the LP's support has about two arcs a city).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "lp/SubtourSeparation.h"

namespace atsp {

struct LiftedCycle {
    std::vector<std::uint32_t> cities;  // i_1, ..., i_k: distinct
    bool reversed = false;              // D_k^- rather than D_k^+
    double lhs = 0;                     // the left-hand side, over the arcs given

    std::int64_t rhs() const { return static_cast<std::int64_t>(cities.size()) - 1; }
};

// One arc of an inequality with its coefficient.
struct WeightedArc {
    std::uint32_t tail;
    std::uint32_t head;
    std::int32_t coefficient;
};

// The arcs of the inequality with their coefficients (1 or 2), sorted by
// tail, then head; each arc once.
std::vector<WeightedArc> liftedCycleArcs(const LiftedCycle& cycle);

class LiftedCycleSeparation {
  public:
    explicit LiftedCycleSeparation(std::size_t cityCount, std::size_t maxLength = 8,
                                   std::size_t branching = 3)
        : cityCount_(cityCount), maxLength_(maxLength), branching_(branching) {}

    // Violated inequalities (see the header), most violated first, then
    // D_k^+ before D_k^-, then by cities; at most `maxCount`. Throws
    // std::invalid_argument for a city out of range.
    std::vector<LiftedCycle> separate(std::span<const SupportArc> arcs, double tolerance,
                                      std::size_t maxCount) const;

  private:
    std::size_t cityCount_;
    std::size_t maxLength_;
    std::size_t branching_;
};

}  // namespace atsp
