// Types shared by the assignment solver and the searches: the graph as the
// front end reads it, the city index, and what a search returns. They live
// with the assignment solver, the lower of the two subsystems, so that it
// needs nothing from solver/.
//
// A graph of n cities is held as two parallel lists of lists. Row i of
// `SuccessorLists` names the heads j of the arcs i -> j that exist (for a
// graph read from a full matrix: every j other than i, ascending); entry k of
// row i of `ArcCosts` is the cost of the arc to entry k of row i of
// `SuccessorLists`. The two always have the same shape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace atsp {

// A city index, 0 to n-1. Every loop over cities, rows, columns and the arcs
// of one row counts in Nodes, so a graph has at most 65535 cities and a row at
// most 65535 arcs.
using Node = std::uint16_t;

// "No city": marks an unassigned row of an assignment.
inline constexpr Node NoNode = 65535;

using SuccessorLists = std::vector<std::vector<Node>>;
using ArcCosts = std::vector<std::vector<std::int32_t>>;

// Whether row `tail` holds every city but `tail` itself, in ascending order,
// as a row read from a full matrix does: entry k is then the arc to city k
// below `tail` and to city k + 1 from `tail` on. Passes over a graph use it
// to walk such rows as two runs of consecutive columns, in loops the
// compiler can vectorise.
// `cities` must hold 0, 1, ..., n-1, the row that such rows are compared
// with (two memory compares).
inline bool isFullRow(const SuccessorLists& successors, Node tail,
                      const std::vector<Node>& cities) {
    const std::vector<Node>& row = successors[tail];
    if (row.size() + 1 != successors.size()) {
        return false;
    }
    const std::size_t below = tail;
    return std::memcmp(row.data(), cities.data(), below * sizeof(Node)) == 0 &&
           std::memcmp(row.data() + below, cities.data() + below + 1,
                       (row.size() - below) * sizeof(Node)) == 0;
}

// Where `head` stands in row `tail` of the successor lists, or NoNode when the
// row has no such arc. A row read from a full matrix holds every city but its
// own in ascending order, so head's place is known at once and only checked;
// any other row is searched from the front.
inline Node arcPosition(const SuccessorLists& successors, Node tail, Node head) {
    const std::vector<Node>& row = successors[tail];
    const std::size_t guess = head > tail ? head - 1u : head;
    if (guess < row.size() && row[guess] == head) {
        return static_cast<Node>(guess);
    }
    for (std::size_t k = 0; k < row.size(); ++k) {
        if (row[k] == head) {
            return static_cast<Node>(k);
        }
    }
    return NoNode;
}

// Marks a hot loop over whole matrix rows for an AVX2 clone that the loader
// picks on processors that have it; the build itself targets baseline x86-64.
// ThreadSanitizer instruments the clone-picking resolver, which runs before
// its runtime is up and crashes, so a ThreadSanitizer build keeps the
// baseline code only.
#if defined(__SANITIZE_THREAD__)
#define ATSP_ROW_LOOP
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ATSP_ROW_LOOP
#endif
#endif
#ifndef ATSP_ROW_LOOP
#define ATSP_ROW_LOOP __attribute__((target_clones("avx2", "default")))
#endif

// Tour costs, assignment values and lower bounds are signed 64-bit sums of
// 32-bit arc costs; at most 65535 of them can never overflow. The largest
// value stands for "no complete assignment exists": it is the bound of an
// infeasible node and never beats a tour.
inline constexpr std::int64_t InfeasibleBound = std::numeric_limits<std::int64_t>::max();

// What both searches return. `tour` is in successor form: entry i is the city
// visited right after city i. `cost` is the tour's summed cost, or -1 when a
// search stopped on a negative cost.
struct TourResult {
    std::vector<Node> tour;
    std::int64_t cost = 0;
    // A search asked to stop at a time limit that did stop there: `tour` is
    // the best tour found, not a proven optimum, and `lowerBound` is what the
    // search had proven, that no tour costs less. Otherwise `lowerBound`
    // equals `cost`.
    bool stoppedAtTimeLimit = false;
    std::int64_t lowerBound = 0;
};

}  // namespace atsp
