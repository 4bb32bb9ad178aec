// What a caller may ask of a search beyond the graph and the starting tour: a
// time limit and progress reports.
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

#include <cstdint>
#include <functional>

struct SearchProgress {
    double elapsedSeconds = 0;      // wall clock since the search began
    std::int64_t nodesCreated = 0;  // search-tree nodes made so far, the root included
    std::int64_t openNodes = 0;     // nodes waiting to be expanded, or being expanded
    std::int64_t bestCost = 0;      // cost of the best tour known
    std::int64_t lowerBound = 0;    // no tour costs less; at most bestCost
};

struct SearchOptions {
    // Seconds of search after which the search stops with what it has; zero or
    // less: no limit.
    double timeLimitSeconds = 0;
    // Called with the state of the search every `progressIntervalSeconds`;
    // empty: no reports.
    std::function<void(const SearchProgress&)> progress;
    double progressIntervalSeconds = 1;
};
