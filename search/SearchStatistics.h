// Counters of one search run, for benchmarks and tests; the search fills them
// only when the caller passes a non-null pointer.
#pragma once

#include <cstdint>

namespace atsp {

struct SearchStatistics {
    // Search-tree nodes constructed: the root and every child, including children
    // destroyed at once by the bound test and children that were tours.
    std::int64_t nodesCreated = 0;
    // Times a node was taken up to be branched on (one node counts once per time
    // it is taken from the open nodes and passes its bound test).
    std::int64_t nodesExpanded = 0;
    // The largest number of open nodes waiting at one moment (nodes held while
    // being expanded not included; on a team, as the threads sampled it); at
    // most two more nodes are alive per expanding thread. Peak memory is about
    // this many nodes' size.
    std::int64_t mostOpenNodes = 0;
    // Arcs of the graph the tree was searched on (all arcs, unless arcs were
    // eliminated), and of the graph given.
    std::int64_t arcsSearched = 0;
    std::int64_t arcsGiven = 0;
};

}  // namespace atsp
