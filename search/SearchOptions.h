// What a caller may ask of the search beyond the graph and the starting tour:
// the steps and policies of the fast search or the search as first built, the
// threads, a time limit, and progress reports.
//
// Time limit and stop requests. A search that reaches its limit, or sees
// `*stopRequested` set by another thread, stops expanding and returns the
// best tour it has found with `stopped` and, in `lowerBound`, the least bound
// of the nodes it left unexplored (never above the tour's cost): no tour of
// the graph costs less.
//
// Progress. When `progress` is set, the search calls it about every
// `progressIntervalSeconds` of its wall-clock time, on one thread at a time,
// and once more when it ends. It receives the same kind of figures a stopped
// search returns: a valid lower bound and the best tour's cost at that moment.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "lp/CuttingPlanes.h"
#include "presolve/Presolve.h"

namespace atsp {

struct SearchProgress {
    double elapsedSeconds = 0;      // wall clock since the search began
    std::int64_t nodesCreated = 0;  // search-tree nodes made so far, the root included
    std::int64_t openNodes = 0;     // nodes waiting to be expanded
    std::int64_t bestCost = 0;      // cost of the best tour known
    std::int64_t lowerBound = 0;    // no tour costs less; at most bestCost
};

// The order of a thread's open nodes: always the least bound first; among
// equal bounds,
enum class OpenNodeOrder {
    // the newest first, a node ahead of the child filed with it
    // (BestFirstList.h): the node a thread just branched is taken up again at
    // once, its arcs and assignment still in the thread's workspace;
    NewestFirst,
    // as the search was first built: NewestFirst on one thread, and on a team
    // the forward pass of ForwardPassList.h (oldest first, a node behind the
    // child filed with it when both reach the end of the list).
    AsFirstBuilt,
};

// Which threads of a team count as short of work, and what they are given.
enum class HandOff {
    // Those down to their last node or out of nodes, one node at a time.
    WhenShort,
    // Those too, and those holding far fewer nodes than another thread or
    // whose best node lies well behind another thread's best, given up to
    // 1024 nodes at once, every other node of the giver's best ones: the
    // threads then work on lists of about the same size and bounds, as one
    // thread would, instead of one living from hand to mouth or expanding
    // nodes that the other's tours would prune.
    Balance,
};

// How the LP bound's tree branches on an arc i -> j of the node's LP solution.
enum class LpBranching {
    // Edge where every tour costs what its reverse does (graph/Reversal.h),
    // else Arc.
    Automatic,
    // Two children: the arc forbidden, the arc forced.
    Arc,
    // Three where the node allows j -> i too: both arcs forbidden, i -> j
    // forced, j -> i forced (no tour of three or more cities uses both).
    // Where reversal keeps tour costs, the third child is left out of
    // mirrored nodes (LpSubproblem.h). Against Arc, serial, 60 s:
    // tilted-sum-316-1 (symmetric in disguise) ends at a gap of 0.47 %
    // instead of 0.52 %, tilted-sum-316-3 is proven in 1.95 s instead of
    // 2.57 s, and in 1.34 s with mirrored nodes; on truly asymmetric costs
    // it is slower (tilted-max-100-2 7.4 s instead of 5.6 s).
    Edge,
};

// The bound of the tree's nodes.
enum class BoundChoice {
    // The assignment bound while its tree stays small, then the LP bound.
    Automatic,
    // The assignment problem's value (Brancher.h): cheap, and enough on
    // random instances, where it lies within a fraction of a percent of the
    // optimum.
    Assignment,
    // The linear relaxation with subtour cuts (LpExpander.h): dearer per
    // node, and 70 to 100 % of the assignment bound's gap closed on
    // structured instances.
    LinearProgram,
};

struct SearchOptions {
    // Threads of the OpenMP team to search on; 0: as many as the runtime
    // grants (OMP_NUM_THREADS, OMP_THREAD_LIMIT). One thread needs no team.
    int threads = 1;

    BoundChoice bound = BoundChoice::Automatic;
    // The LP bound's branching rule.
    LpBranching lpBranching = LpBranching::Automatic;
    // With the automatic choice: the nodes per city the assignment bound's
    // tree may make before the LP bound takes over.
    std::size_t assignmentNodesPerCity = 20;
    // The LP bound's cutting-plane loop (CuttingPlanes.h).
    CuttingPlaneOptions cuttingPlanes;

    // The fast search's steps before the tree (Presolve.h).
    PresolveSteps presolve;
    // A child's re-solve stops as soon as its bound reaches the incumbent's
    // cost (AssignmentProblem.h): the child would be pruned anyway.
    bool cutOffChildBounds = true;
    // Memory, in bytes, that the open nodes may take before the search turns
    // depth-first (TreeSearch.h), so that a hard instance runs at a steady
    // size for as long as it is given. Any order of expansion is exact. Zero:
    // no bound.
    std::size_t openNodeMemory = std::size_t{1} << 30;
    OpenNodeOrder openNodeOrder = OpenNodeOrder::NewestFirst;
    HandOff handOff = HandOff::Balance;
    // The tours the search finds are improved by the local search of
    // LocalSearch.h before they are offered: the patched root tour under a
    // time limit, the incumbent when the LP bound takes over, the LP's own
    // tours, and the tours of the LP bound's trees. Kicks go on until
    // `localSearchKicks` of them in a row bring no gain (a tree's tour: a
    // tenth of that), the tour reaches the bound, or a quarter of the time
    // left has passed.
    bool localSearch = true;
    std::size_t localSearchKicks = 1000;
    // Under the LP bound, a walk of kicks from the incumbent takes this share
    // of the tree's time, in slices of at least `incumbentWalkSlice` seconds
    // (Round.h). On the n = 316 families of the bench it finds tours 0.1 to
    // 0.5 % cheaper within a minute; searches that end within a few seconds
    // never walk.
    double incumbentWalkShare = 0.1;
    double incumbentWalkSlice = 0.25;
    // Under the LP bound, dives from the node just branched (LpExpander.cpp)
    // take this share of the tree's time: one starts whenever they have
    // spent less, from the first node on, as the tours they find matter most
    // early. Against none, serial, 60 s, side by side: grid-316-1 proven in
    // 54 s instead of stopped at 0.73 %, tilted-max-316-1 stopped at 1.18 %
    // instead of 1.73 %, tilted-sum-316-2 at 0.03 % (the optimal tour) instead
    // of 0.14 %; tilted-max-100-1 6.5 s instead of 6.0 s.
    double lpDiveShare = 0.1;

    // Every expansion of a team reads the incumbent's cost under the read
    // side of a readers-writer lock (RWLock.h), as the search was first
    // built, instead of by one atomic load.
    bool readIncumbentUnderLock = false;

    // The search as first built, step for step: none of the steps above, its
    // open-node orders, hand-off and lock. Its trees on one thread are the
    // reference that tests and benchmarks compare with.
    static SearchOptions described() {
        SearchOptions options;
        options.bound = BoundChoice::Assignment;
        options.presolve = PresolveSteps::none();
        options.cutOffChildBounds = false;
        options.openNodeMemory = 0;
        options.openNodeOrder = OpenNodeOrder::AsFirstBuilt;
        options.handOff = HandOff::WhenShort;
        options.readIncumbentUnderLock = true;
        options.localSearch = false;
        return options;
    }

    // Seconds of search after which the search stops with what it has; zero
    // or less: no limit.
    double timeLimitSeconds = 0;
    // Set (by any thread) to stop the search with what it has; null: none.
    // Not owned; it must outlive the search.
    const std::atomic<bool>* stopRequested = nullptr;
    // Called with the state of the search every `progressIntervalSeconds`;
    // empty: no reports.
    std::function<void(const SearchProgress&)> progress;
    double progressIntervalSeconds = 1;
};

}  // namespace atsp
