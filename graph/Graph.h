// The directed graph a search runs on: n cities and, for each city i, the
// arcs i -> j that exist, each with a signed 32-bit cost.
//
// Row i lists its arcs in input order (for a graph read from a full matrix:
// every j other than i, ascending). Everything that scans a row scans it in
// that order, so the order is part of every tie-break. A row never holds a
// loop i -> i nor a head twice.
//
// Storage. All rows lie in one block, row after row: the heads of all arcs in
// one array, their costs in another, and the start of each row in a third
// (compressed sparse rows). A search's threads all read the one graph and
// never write it, and no row shares a cache line with anything a thread
// writes. 6 bytes per arc: 6 MB at n = 1000, 25 GB at n = 65535.
//
// A graph is made once by a Builder, row by row, and read-only after: a
// Graph has no operation that changes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace atsp {

// A city index, 0 to n-1. Every loop over cities, rows, columns and the arcs
// of one row counts in Nodes, so a graph has at most 65535 cities and a row at
// most 65535 arcs.
using Node = std::uint16_t;

// "No city": an unassigned row of an assignment, an arc that is not there.
inline constexpr Node NoNode = 65535;

// Tour costs, assignment values and lower bounds are signed 64-bit sums of
// 32-bit arc costs; at most 65535 of them can never overflow. The largest
// value stands for "none": the bound of a node without a complete
// assignment, the cost when no tour is known. It never beats a tour.
inline constexpr std::int64_t InfeasibleBound = std::numeric_limits<std::int64_t>::max();

class Graph {
  public:
    class Builder;

    // Zero cities.
    Graph() = default;

    // A graph of the given rows (row i: heads, and their costs in the same
    // order). For tests and small callers; readers use a Builder.
    static Graph fromRows(const std::vector<std::vector<Node>>& heads,
                          const std::vector<std::vector<std::int32_t>>& costs);

    std::size_t cityCount() const { return rowStarts.size() - 1; }
    std::size_t arcCount() const { return arcHeads.size(); }

    // Row `tail`: the heads of its arcs, and their costs in the same order.
    std::span<const Node> successors(Node tail) const {
        return {arcHeads.data() + rowStarts[tail], rowLength(tail)};
    }
    std::span<const std::int32_t> costs(Node tail) const {
        return {arcCosts.data() + rowStarts[tail], rowLength(tail)};
    }
    std::size_t rowLength(Node tail) const { return rowStarts[tail + 1] - rowStarts[tail]; }

    // Whether row `tail` holds every city but `tail` itself, ascending, as a
    // row read from a full matrix does: its entry k is then the arc to city k
    // below `tail` and to city k + 1 from `tail` on. Passes over the graph
    // walk such rows as two runs of consecutive columns, in loops the
    // compiler can vectorise.
    bool isFullRow(Node tail) const { return fullRows[tail] != 0; }

    // Where `head` stands in row `tail`, or NoNode when the row has no such
    // arc. O(1) on a full row, else a scan of the row.
    Node arcPosition(Node tail, Node head) const;

    // The sum over the cities of each one's cheapest arc: every tour leaves
    // every city once, so none costs less. Known from the start, so that a
    // search stopped before its first real bound still reports a proven one.
    // InfeasibleBound when a city has no arc at all (n >= 2: no tour); 0
    // for n <= 1.
    std::int64_t cheapestArcsBound() const { return cheapestArcs; }

  private:
    std::vector<std::uint64_t> rowStarts{0};  // n + 1 entries: row i is [start i, start i+1)
    std::vector<Node> arcHeads;
    std::vector<std::int32_t> arcCosts;
    std::vector<std::uint8_t> fullRows;
    std::int64_t cheapestArcs = 0;
};

// Makes a graph row by row: addArc for each arc of the current row, in
// order, then endRow; rows come in order 0, 1, ..., n-1.
class Graph::Builder {
  public:
    explicit Builder(std::size_t cityCount);

    // Room for this many arcs in all, so that a caller who knows the total
    // makes the block in one allocation.
    void reserveArcs(std::size_t arcs);

    void addArc(Node head, std::int32_t cost) {
        graph.arcHeads.push_back(head);
        graph.arcCosts.push_back(cost);
    }
    // Arcs of the current row, heads[k] with costs[k], in that order: as
    // many addArc calls, in one copy.
    void addArcs(std::span<const Node> heads, std::span<const std::int32_t> costs) {
        graph.arcHeads.insert(graph.arcHeads.end(), heads.begin(), heads.end());
        graph.arcCosts.insert(graph.arcCosts.end(), costs.begin(), costs.end());
    }
    void endRow();

    std::size_t rowsDone() const { return graph.rowStarts.size() - 1; }

    // The graph, once every row has ended.
    Graph build() &&;

  private:
    std::size_t cities;
    Graph graph;
};

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

}  // namespace atsp
