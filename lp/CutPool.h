// Subtour cuts x(out of S) >= 1 found by any thread, kept for all of them.
//
// A cut found at one search node is often violated at others, and measuring
// a known set on a support is far cheaper than separating anew. So every
// thread adds the cuts it separates here, and before it separates, asks which
// of those already known the LP solution in hand violates.
//
// One form per cut. By the degree equations x(out of S) = x(into S) =
// x(out of the complement of S), so S and its complement are the same cut.
// Each is kept as its side (`cutSide`): the one of fewer cities, and of two
// equal halves the one holding city 0. A set and its complement are stored
// once, and every row and measurement runs over the shorter list.
//
// Concurrency: adding takes the lock alone; reading shares it, so readers
// never wait for one another, only for a writer. Cuts are never removed.
//
// Cost of `violated`: O(m) to group the m support arcs by tail, then per
// cut the support arcs leaving its side's cities: O(m + sum of those) at
// worst O(cuts x m). Memory: per cut its side and n bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <span>
#include <unordered_set>
#include <vector>

#include "lp/SubtourSeparation.h"

namespace atsp {

// The side of the cut of `cities` (sorted, distinct, each below
// `cityCount`) that the pool and the LP write: the smaller of the set and its
// complement, the one holding city 0 when they are equal. Empty for the empty
// set and for all cities, which are no cut. Throws std::invalid_argument for
// an unsorted list, a repeated or an out-of-range city.
std::vector<std::uint32_t> cutSide(std::span<const std::uint32_t> cities, std::size_t cityCount);

// A hash of sides, for sets of them.
struct CutSideHash {
    std::size_t operator()(const std::vector<std::uint32_t>& side) const;
};

class CutPool {
  public:
    explicit CutPool(std::size_t cityCount);

    std::size_t cityCount() const { return cityCount_; }
    std::size_t size() const;

    // Adds the cuts whose side is not yet in the pool; sets with a side of
    // fewer than two cities are left out, as the degree equations imply them.
    // Returns how many were new. Throws as `cutSide` does.
    std::size_t add(std::span<const SubtourCut> cuts);

    // The pool's cuts that `support` violates, x(out of side) < 1 -
    // tolerance, measured on the arcs given (SubtourSeparation's rules:
    // values <= 0 and loops are ignored): least outflow first, then fewer
    // cities, then by cities; at most `maxCount`. Cities are the sides.
    std::vector<SubtourCut> violated(std::span<const SupportArc> support, double tolerance,
                                     std::size_t maxCount) const;

  private:
    std::size_t cityCount_;
    mutable std::shared_mutex mutex_;
    std::vector<std::vector<std::uint32_t>> sides_;
    std::vector<std::vector<std::uint64_t>> members_;  // bit c of cut k: city c is in its side
    std::unordered_set<std::vector<std::uint32_t>, CutSideHash> known_;
};

}  // namespace atsp
