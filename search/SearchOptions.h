// What a caller may ask of a search beyond the graph and the starting tour:
// the fast search's steps or the search as first built, a time limit, and
// progress reports.
//
// Time limit. A search that reaches its limit stops expanding and returns the
// best tour it has found with `provenOptimal` false and, in `lowerBound`, the
// least bound of the nodes it left unexplored (never above the tour's cost): no
// tour of the graph costs less. A search that ends within its limit returns
// `provenOptimal` true and `lowerBound` equal to the cost.
//
// Progress. When `progress` is set, the search calls it about every
// `progressIntervalSeconds` of its wall-clock time, on one thread at a time,
// and once more when it ends. It receives the same kind of figures a stopped
// search returns: a valid lower bound and the best tour's cost at that moment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace atsp {

struct SearchProgress {
    double elapsedSeconds = 0;      // wall clock since the search began
    std::int64_t nodesCreated = 0;  // search-tree nodes made so far, the root included
    std::int64_t openNodes = 0;     // nodes waiting to be expanded, or being expanded
    std::int64_t bestCost = 0;      // cost of the best tour known
    std::int64_t lowerBound = 0;    // no tour costs less; at most bestCost
};

struct SearchOptions {
    // The fast search's steps before and during the branch and bound (the
    // search described in balasChristofides.h has none of them; see
    // `described()`). Each keeps every report the proven optimum:
    //   - the root is solved on a sparse core of each row's cheapest arcs and
    //     repaired by pricing every arc (solveOnSparseCore.h): 0 arcs per row
    //     solves it on all arcs instead;
    std::size_t rootCoreArcsPerRow = 10;
    //   - the root's cycles are patched into a tour, improved by exchanges of
    //     three arcs, which becomes the incumbent when it is cheaper than the
    //     starting tour (StartingTour.h);
    bool patchRootCycles = true;
    //   - the tree is searched first on the arcs of the least reduced costs,
    //     for tours cheaper than the root bound plus a small gap, with twice
    //     the gap while none turns up (SearchStart.h);
    bool cheapArcsFirst = true;
    //   - arcs that no tour cheaper than the incumbent can use are dropped
    //     before the search (ArcElimination.h);
    bool eliminateArcs = true;
    //   - a child's re-solve stops as soon as its bound reaches the
    //     incumbent's cost (AssignmentProblem.h).
    bool cutOffChildBounds = true;

    // Memory, in bytes, that the open nodes may take before the search turns
    // depth-first: once the open nodes would take more, the children of each
    // expansion are searched before the rest (the last child first), so that
    // the open nodes stop growing while those subtrees are searched; the
    // search goes best-first again once the open nodes fit. Any order of
    // expansion is exact, so this only bounds memory on hard instances, where
    // best-first search would hold ever more open nodes. Zero: no bound.
    std::size_t openNodeMemory = std::size_t{1} << 30;

    // Among open nodes of equal bound, the parallel search's lists take the
    // newest first, as the serial search does, and a node before the child
    // filed with it: the node a thread just branched is taken up again at
    // once, its arcs and assignment still in the thread's workspace. Off: the
    // oldest first.
    bool newestFirstAmongEqualBounds = true;
    // A thread of the parallel search whose best open node is worse than
    // another thread's counts as short of work, as one down to its last node
    // does: the other gives it its best node. The threads then work on nodes
    // of about the same bounds, as the serial search would, instead of one
    // expanding nodes that the other's tours would prune. Off: only threads
    // down to their last node are given work.
    bool balanceThreadsByBound = true;

    // The search as first built, step for step: none of the above. Its trees
    // are the reference that tests and benchmarks compare with.
    static SearchOptions described() {
        SearchOptions options;
        options.rootCoreArcsPerRow = 0;
        options.patchRootCycles = false;
        options.cheapArcsFirst = false;
        options.eliminateArcs = false;
        options.cutOffChildBounds = false;
        options.openNodeMemory = 0;
        options.newestFirstAmongEqualBounds = false;
        options.balanceThreadsByBound = false;
        return options;
    }

    // Seconds of search after which the search stops with what it has; zero or
    // less: no limit.
    double timeLimitSeconds = 0;
    // Called with the state of the search every `progressIntervalSeconds`;
    // empty: no reports.
    std::function<void(const SearchProgress&)> progress;
    double progressIntervalSeconds = 1;
};

}  // namespace atsp
