// Blossom inequalities of the ATSP, found by the odd-component heuristic.
//
// The inequality. Forget arc directions: y(i, j) = x(i, j) + x(j, i) is the
// incidence vector of an undirected tour, so the 2-matching (blossom)
// inequalities of the symmetric TSP hold for it. A handle H and an odd number
// t >= 3 of teeth, distinct pairs {u, v} with exactly one city in H, give
//     y(delta(H)) + sum over the teeth of y(delta({u, v})) >= 3t + 1,
// and with the degree equations, y(delta(S)) = 2 x(out of S) for every S:
//     x(out of H) + sum over the teeth of x(out of {u, v}) >= (3t + 1) / 2,
// the form the LP takes (LpRelaxation::addBlossoms), a sum of subtour-cut
// left-hand sides with an integral right-hand side. Subtour cuts alone imply
// it for t = 1, which is why t >= 3. The teeth this heuristic finds are
// disjoint; they need not be (ExactBlossomSeparation.h), as the degree
// equations make x(out of {u, v}) = 2 - y(u, v) however they meet.
//
// Method (Padberg and Hong's heuristic). The handles are the connected
// components of the fractional edges (tolerance < y < 1 - tolerance); the
// teeth of a handle are its edges of y >= 1 - tolerance with one end in it.
// Where two teeth meet outside the handle, that city joins the handle and
// both teeth go (the parity of t is kept), until the teeth are disjoint.
// A blossom with odd t >= 3 is reported when x(out of H) plus the teeth's
// outflows, summed over the arcs given, falls below (3t + 1) / 2 - tolerance.
// A heuristic: it finds none of many violated blossoms, but every blossom it
// reports is violated as measured and valid for every tour.
//
// Cost: O(m log m) to pair the arcs into edges, then O(n + m) per handle.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "lp/SubtourSeparation.h"

namespace atsp {

// An edge of a support with the arcs' directions forgotten.
struct SupportEdge {
    std::uint32_t a;  // a < b
    std::uint32_t b;
    double y;         // x(a, b) + x(b, a)
};

// The support's edges, sorted by (a, b): the arcs between two cities summed,
// loops and values <= 0 left out. Throws std::invalid_argument for a city of
// `cityCount` or more.
std::vector<SupportEdge> supportEdges(std::span<const SupportArc> arcs, std::size_t cityCount);

struct Blossom {
    std::vector<std::uint32_t> handle;                           // sorted
    std::vector<std::pair<std::uint32_t, std::uint32_t>> teeth;  // (in H, out of H)
    double lhs;  // x(out of H) + the teeth's outflows, over the arcs given

    // (3t + 1) / 2: the inequality's right-hand side.
    std::int64_t rhs() const { return (3 * static_cast<std::int64_t>(teeth.size()) + 1) / 2; }
};

// The sets of cities the edges `joins` accepts connect (components of
// those edges; a city no such edge meets is one alone), each sorted, in the
// order of their least cities.
std::vector<std::vector<std::uint32_t>> componentsJoinedBy(
    std::span<const SupportEdge> edges, std::size_t cityCount,
    const std::function<bool(const SupportEdge&)>& joins);

// By violation (rhs - lhs), most first; ties by handle. For blossoms and
// combs alike.
template <typename Inequality>
void sortMostViolatedFirst(std::vector<Inequality>& found) {
    std::sort(found.begin(), found.end(), [](const Inequality& first, const Inequality& second) {
        const double firstViolation = static_cast<double>(first.rhs()) - first.lhs;
        const double secondViolation = static_cast<double>(second.rhs()) - second.lhs;
        if (firstViolation != secondViolation) {
            return firstViolation > secondViolation;
        }
        return first.handle < second.handle;
    });
}

class BlossomSeparation {
  public:
    explicit BlossomSeparation(std::size_t cityCount) : cityCount_(cityCount) {}

    // Violated blossoms of the support (see the header), by how much they are
    // violated, most first. Throws std::invalid_argument for a city out of
    // range.
    std::vector<Blossom> separate(std::span<const SupportArc> arcs, double tolerance) const;

  private:
    std::size_t cityCount_;
};

}  // namespace atsp
