// The arcs of the shared graph that a search node has taken out, as the
// assignment solver sees them while it scans rows.
//
// A search node differs from the graph the front end read only by forced and
// forbidden arcs. Forcing i -> j leaves row i the single arc to j and takes j
// out of every other row (no other city may precede j); forbidding i -> j takes
// that one arc out of row i. Nothing else is removed. So the node's arcs are
// the graph's rows in their input order, with some entries skipped, and a
// solver that skips exactly those entries scans the very lists, in the very
// order, that a copy of the node's arcs would hold. The mask is that skip.
//
// How a row is scanned. `scan(row)` returns the range of arc positions of the
// row to visit and a stamp: a forced row visits only its forced arc; any other
// row visits all its positions and skips an arc to column j when
// `blocked(j, stamp)`. Blocking is one compare per arc against a per-column
// mark: a forced column carries a mark above every stamp, and `scan` first
// marks the row's forbidden heads with a fresh stamp, so that only they (and
// the forced columns) compare blocked until the next scan. A stamp is valid
// until the next call of `scan`. Stamps are 16 bits wide; when they run out
// the marks are reset, once per 65,000 scans or so.
//
// Limits. The searches only ever force the arc that the node's assignment
// uses, never force two arcs into one column, and never forbid a forced arc;
// the mask relies on that (a forced row's arc is allowed whatever else is
// recorded). Forcing an arc that its row does not hold takes the head out of
// every other row and leaves the row itself alone.
//
// Cost: `scan` is O(forbidden arcs of the row); `clear` is O(constraints
// recorded since the last clear). One mask serves one thread's node at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "graph/Graph.h"

namespace atsp {

class ArcMask {
  public:
    using Stamp = std::uint16_t;

    // Positions [begin, end) of a row's arcs to visit, and the stamp against
    // which to test each arc's column.
    struct RowScan {
        std::size_t begin;
        std::size_t end;
        Stamp stamp;
    };

    explicit ArcMask(std::size_t cityCount = 0);

    std::size_t size() const { return forcedArcs.size(); }

    // Forces tail -> head. `position` is where head stands in the tail's graph
    // row, or NoNode when the row does not hold it.
    void force(Node tail, Node head, Node position);

    // Forbids tail -> head.
    void forbid(Node tail, Node head);

    // Takes back the most recent forbid of tail -> head.
    void allowAgain(Node tail, Node head);

    // Lifts every constraint: the mask then allows the whole graph.
    void clear();

    // The row's arcs to visit, with a stamp valid until the next scan. Scanning
    // changes no constraint, only the marks that serve it, so it is const.
    RowScan scan(Node row, std::size_t rowLength) const {
        if (forcedArcs[row] != NoNode) {
            return {forcedArcs[row], std::size_t{forcedArcs[row]} + 1u, NeverBlocked};
        }
        return {0, rowLength, stampForbiddenHeads(row)};
    }

    // The per-column marks, for hot loops that test `marks[column] >= stamp`.
    const Stamp* marks() const { return columnMarks.data(); }

    bool blocked(Node column, Stamp stamp) const { return columnMarks[column] >= stamp; }

    // The number of arcs the row allows among `heads` (its graph row), counted
    // up to `atMost`.
    std::size_t allowedArcs(Node row, std::span<const Node> heads, std::size_t atMost) const;

  private:
    // A forced column's mark: above every stamp a scan hands out, so blocked
    // for every row but its forced tail, which does not test it.
    static constexpr Stamp ForcedColumn = 0xFFFE;
    // The stamp of a forced row's scan: no mark reaches it.
    static constexpr Stamp NeverBlocked = 0xFFFF;

    Stamp stampForbiddenHeads(Node row) const;

    std::vector<Node> forcedArcs;                   // position of a row's forced arc, or NoNode
    std::vector<std::vector<Node>> forbiddenHeads;  // per row
    mutable std::vector<Stamp> columnMarks;
    mutable Stamp lastStamp = 0;
    // What `clear` has to undo.
    std::vector<Node> rowsTouched;
    std::vector<Node> columnsForced;
};

}  // namespace atsp
