// Parallel branch and bound for the asymmetric travelling salesman problem, in
// the manner of Balas and Christofides, on a team of OpenMP threads.
//
// The nodes and their branching are those of the serial search (see
// Subproblem.h): a node is the assignment relaxation on the arcs still allowed
// at it, branched on the shortest subtour of its assignment, one child per
// expansion. The tree is walked by the generic `parallelTree` with
// `processNode` as its expand function; each thread keeps its own open nodes
// ordered by lower bound, smallest first.
//
// The search's steps before the tree (the fast search's root, patched tour,
// rounds and elimination, or none of them) are the serial search's, run on
// the calling thread (SearchStart.h).
//
// What the threads share: the incumbent (`Result`), whose cost every
// expansion reads once, without a lock, and which a thread rewrites under the
// write lock when it finds a strictly cheaper tour; and the pool of the tree
// search. Everything else belongs to one thread at a time.
//
// Differences from the serial search: pruning within one expansion uses the
// incumbent's cost as read at its start; a negative child bound does not stop
// the search (it is simply below any non-negative incumbent); the described
// search expands nodes of equal bound oldest first within a thread (the fast
// one newest first, as the serial search); and the order of expansion, so
// also which of several equally cheap tours is returned, varies from run to
// run. A thread that runs out of work, or whose best node falls behind the
// others' (SearchOptions::balanceThreadsByBound), is given a node by the
// next thread that looks at the pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "graph/Graph.h"
#include "parallel/RWLock.h"
#include "search/Brancher.h"
#include "search/SearchMonitor.h"
#include "search/SearchOptions.h"
#include "search/SearchStatistics.h"
#include "search/Subproblem.h"

namespace atsp {

// What one thread of the search has of its own: its brancher (its workspace
// on the shared graph), its counts, and the count of nodes it has filed (for
// Subproblem::filed); on cache lines of its own, so that threads counting at
// the same time do not slow each other down.
struct alignas(64) SearchThread {
    std::unique_ptr<Brancher> brancher;
    std::int64_t nodesCreated = 0;
    std::int64_t nodesExpanded = 0;
    std::uint64_t filed = 0;
    // With progress reports: the bounds of the nodes this thread made that
    // are still live (open, in transit or being expanded, by any thread), as
    // a count per bound, their number, and the count of nodes it made, under
    // `liveLock`. A node is recorded by its maker and struck off when it is
    // gone, so a thread takes its own lock nearly always and another's only
    // for a node handed over to it. Counted per bound because the hard trees
    // hold millions of nodes on a few dozen distinct bounds (TSPLIB ftv170:
    // bounds 2700 to 2755), so recording a node seldom allocates.
    std::mutex liveLock;
    std::map<std::int64_t, std::int64_t> liveBounds;
    std::int64_t liveNodes = 0;
    std::int64_t nodesMade = 0;

    void recordLive(std::int64_t bound) {
        ++liveBounds[bound];
        ++liveNodes;
    }
    void strikeOffLive(std::int64_t bound) {
        const auto record = liveBounds.find(bound);
        if (--record->second == 0) {
            liveBounds.erase(record);
        }
        --liveNodes;
    }
};

// The incumbent: the best tour known and its cost, shared by all threads.
// `tour` and `cost` change together under the write lock, so a reader of the
// lock sees a complete tour and its cost. Every expansion reads the cost
// alone, without the lock: it is atomic, so the value read was the
// incumbent's cost at some moment, and it only ever falls. Never copied while
// in use.
struct Result {
    std::vector<Node> tour;             // successor form
    std::atomic<std::int64_t> cost{0};  // 64-bit sum of the tour's arc costs
    RWLock lock;
};

// What the threads of one search use besides the incumbent: each thread's
// own part, and the time limit and progress state. The parameter of
// processNode.
struct SearchThreads {
    // One part per thread number of the team that is planned, each with a
    // brancher on the graph to search.
    SearchThreads(const SuccessorLists& successors, const ArcCosts& costs, int threadCount,
                  bool cutOffChildBounds);

    // The calling thread's part: thread 0's before the team starts (when its
    // own number may be anything, inside an outer team).
    SearchThread& ofThisThread();

    std::vector<SearchThread> threads;
    int callerLevel = 0;  // nesting level of the calling thread
    // Tours must cost less than this to matter in this round of the search
    // (SearchStart.h); no tour below it escapes the round's tree.
    std::int64_t roundCap = InfeasibleBound;

    // Nodes made in all threads' records.
    std::int64_t nodesMade();

    // Time limit and progress reports; null when neither was asked for.
    SearchMonitor* monitor = nullptr;
    // Guarded by `watchLock`, and used only with a monitor. Once the limit is
    // up every node taken up is dropped unexpanded, and the least bound among
    // them is what the search has proven.
    std::mutex watchLock;
    std::int64_t leastAbandonedBound = InfeasibleBound;
};

// The list size per thread at which `options.openNodeMemory` makes a thread
// of `threadCount` go depth-first (TreeSearchSettings); zero: never.
std::size_t listLimit(const SearchOptions& options, std::size_t cityCount, int threadCount);

// Orders open nodes by lower bound, smallest first (strict, 64-bit).
bool lowerBoundFirst(const std::unique_ptr<Subproblem>& first,
                     const std::unique_ptr<Subproblem>& second);
// A node's rank for the threads' balance: its lower bound.
std::int64_t boundOf(const Subproblem& node);
// The same, and among equal bounds the node filed last first.
bool lowerBoundThenNewestFirst(const std::unique_ptr<Subproblem>& first,
                               const std::unique_ptr<Subproblem>& second);

// Expands one node, concurrently with other threads: reads the incumbent's
// cost once, then walks the node's cycle from its currentNode until one child
// survives, a tour is found or the cycle is exhausted. Appends to `openNodes`
// (given empty) the open nodes left: none, the node alone (after a tour), the retained child alone
// (cycle exhausted), or the node followed by its retained child. A tour strictly cheaper than the
// incumbent at that moment replaces it. `threads` gives the calling thread its brancher on the
// shared graph.
void processNode(std::unique_ptr<Subproblem> node, Result& result, SearchThreads* threads,
                 std::vector<std::unique_ptr<Subproblem>>& openNodes);

// A cheapest tour of the graph, in successor form, with its 64-bit cost,
// searched on all threads that the OpenMP runtime grants here. The incumbent
// starts as `*startTour` when given (n entries, each below n), else as the
// tour 0, 1, ..., n-1, 0; only a strictly cheaper tour replaces it. Cost -1
// means that the starting tour summed to a negative value (it is returned, no
// search is made). Zero cities give an empty tour of cost 0.
// `statistics`, when not null, receives the nodes created and expanded and
// the most open nodes in all threads' lists at once. `options`, when not
// null, chooses the search's steps (the fast search by default), and may set
// a time limit and ask for progress reports (SearchOptions.h).
TourResult balasChristofidesParallel(const SuccessorLists& successors, const ArcCosts& costs,
                                     const std::vector<Node>* startTour,
                                     SearchStatistics* statistics = nullptr,
                                     const SearchOptions* options = nullptr);

}  // namespace atsp
