// A generic parallel tree search on OpenMP threads.
//
// Given a root and a function that expands one node into its children,
// `parallelTree` runs a team of threads that expand nodes until none is left
// anywhere. It knows nothing of the problem: pruning, bounds and the shared
// result are the business of the expand function, which must synchronise its
// own access to the result; an optional comparator orders each thread's open
// nodes.
//
// Phases of one call:
// 1. Pre-expansion on the calling thread alone: expand the front of list 0
//    until it holds one open node per thread. If it runs empty first, the tree
//    is exhausted and no thread team is started.
// 2. Dealing out: list k (k >= 1) receives the k-th node from the back of
//    list 0; thread 0 keeps the front node, the one it would expand next.
// 3. One parallel region. Thread t works on list t alone, without locks,
//    always expanding its front node and inserting the children into list t
//    (ThreadNodeList.h: the insertion rule, and the index that finds each
//    child's place in logarithmic time). Once the thread's open nodes reach
//    their limit (TreeSearchSettings::listLimit) the children go on a stack
//    of the thread's own instead, which it expands first (depth-first).
//    A thread short of work says so to the pool: one that runs dry waits in
//    it, one down to its last node, or (with a rank function) whose front
//    ranks well behind another thread's, only marks itself. A busy thread
//    that sees such a mark after an expansion, or looks anyway once every 3c
//    of its expansions (c threads; the first time after 3c + t, which spreads
//    the looks over time), offers the second node of its list, when it holds
//    two (the front is usually the node it just branched, still in its
//    workspace), else the bottom of its stack. A thread short of work that
//    has not run dry takes a node waiting in the pool after each expansion,
//    any other thread at its look, so that a node given to a thread that
//    has recovered meanwhile does not wait for long. The pool
//    (`NodeContainer`) never blocks a giver, and the search ends when every
//    thread waits and no node is in transit (see NodeContainer.h for the
//    locks and the end).
//
// Every node is at any moment in exactly one place: a thread's list or stack,
// a thread's child buffer, the pool's slot, or one call of the expand
// function.
// The threads share only the pool and whatever the expand function shares.
//
// The team that really runs. Thread numbers index the per-thread lists and the
// end is detected by counting idle threads, so the search must know its team
// size exactly: counting a thread that never runs, it would wait forever. The
// plan is therefore the lesser of the maximum thread count and the thread
// limit, or a single thread when no further nesting level can be active, and
// the region asks for exactly that many threads with dynamic adjustment off.
// Should the runtime still start fewer (a thread limit shared with an outer
// team), the team adopts the lists of the missing threads and counts only
// itself before any thread touches the pool.
//
// The dynamic-adjustment setting of the caller is restored on every way out,
// an exception from the pre-expansion included. An exception escaping the
// expand function inside the parallel region ends the program.
//
// Use, as the branch and bound does:
//
//   void processNode(std::unique_ptr<Subproblem>, Result&, SearchThreads*,
//                    NodeVector<Subproblem>& children);
//   bool lowerBoundThenNewestFirst(const std::unique_ptr<Subproblem>&,
//                                  const std::unique_ptr<Subproblem>&);
//   std::int64_t boundOf(const Subproblem&);
//   parallelTree<Subproblem, Result, SearchThreads>(processNode, std::move(root), incumbent,
//                                                   &threads, lowerBoundThenNewestFirst,
//                                                   settings, boundOf);
#pragma once

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "parallel/NodeContainer.h"
#include "parallel/ThreadNodeList.h"

namespace atsp {

// A node's rank, where a lower one is expanded earlier (the comparator's
// order as a number): lets threads tell which of them works behind.
template <typename NodeType>
using NodeRank = std::int64_t (*)(const NodeType&);

// Expands a node it owns; appends the open nodes that remain (possibly the
// node itself among them) to `children`, which it is given empty, its storage
// kept from call to call. A node neither appended nor kept is destroyed.
template <typename NodeType, typename ResultType, typename ParameterType>
using ExpandFunction = void (*)(std::unique_ptr<NodeType>, ResultType&, ParameterType*,
                                NodeVector<NodeType>& children);

// What a caller may ask of the tree search besides its nodes' order.
struct TreeSearchSettings {
    // When a thread holds at least this many open nodes, the children of its
    // expansions go on a stack of its own, the last child on top, which it
    // expands before its list (depth-first): its open nodes stop growing
    // while their subtrees are searched, and the list keeps its order. Zero:
    // no limit.
    std::size_t listLimit = 0;
    // Receives the largest number of nodes in all lists at once, as the
    // threads saw it after each of their expansions (nodes in transit or
    // being expanded are not counted). Null: not counted.
    std::int64_t* mostOpenNodes = nullptr;
    // With a rank function: a thread whose front node ranks more than this
    // behind another thread's counts as working behind (short of work).
    std::int64_t rankMargin = 0;
};

// Gives list k (k = 1 .. size-1) the k-th node from the back of list 0; list
// 0 keeps the rest. Expects list 0 to hold a node for every other list.
template <typename NodeType>
void dealOut(std::vector<ThreadNodeList<NodeType>>& openNodeLists) {
    for (std::size_t k = 1; k < openNodeLists.size(); ++k) {
        openNodeLists[k].pushFront(openNodeLists[0].takeBack());
    }
}

// How many threads a parallel region started here will really have, as far
// as can be known before it starts.
inline std::int32_t plannedTeamSize() {
    if (omp_get_active_level() >= omp_get_max_active_levels()) {
        return 1;
    }
    return std::max(1, std::min(omp_get_max_threads(), omp_get_thread_limit()));
}

namespace parallel_tree_detail {

// Switches dynamic adjustment of team sizes off for its lifetime and then
// restores the caller's setting, also when an exception passes.
class DynamicAdjustmentOff {
  public:
    DynamicAdjustmentOff() : savedSetting(omp_get_dynamic()) { omp_set_dynamic(0); }
    ~DynamicAdjustmentOff() { omp_set_dynamic(savedSetting); }
    DynamicAdjustmentOff(const DynamicAdjustmentOff&) = delete;
    DynamicAdjustmentOff& operator=(const DynamicAdjustmentOff&) = delete;

  private:
    int savedSetting;
};

// What each thread publishes after every expansion, on a cache line of its
// own: its count of open nodes, for the others to add up, and the rank of its
// front node, so that a thread working behind the others can tell.
struct alignas(64) PublishedListSize {
    std::atomic<std::int64_t> nodes{0};
    std::atomic<std::int64_t> frontRank{std::numeric_limits<std::int64_t>::max()};
};

// A thread's open nodes: its list, and the depth-first stack that takes the
// children once it holds `limit` nodes (zero: no limit).
template <typename NodeType>
struct OpenNodes {
    ThreadNodeList<NodeType>& list;
    NodeVector<NodeType> deep;
    std::size_t limit = 0;

    bool empty() const { return list.empty() && deep.empty(); }
    std::size_t size() const { return list.size() + deep.size(); }
};

// Takes the next node (the top of the stack, else the list's front), expands
// it into `childBuffer` (whose previous content is released) and files the
// children: into the list by its insertion rule, or on the stack once the
// thread holds its limit of open nodes.
template <typename NodeType, typename ResultType, typename ParameterType>
void expandNext(OpenNodes<NodeType>& open, NodeVector<NodeType>& childBuffer,
                ExpandFunction<NodeType, ResultType, ParameterType> expand, ResultType& result,
                ParameterType* parameter) {
    childBuffer.clear();
    std::unique_ptr<NodeType> node;
    if (!open.deep.empty()) {
        node = std::move(open.deep.back());
        open.deep.pop_back();
    } else {
        node = open.list.takeFront();
    }
    expand(std::move(node), result, parameter, childBuffer);
    if (open.limit == 0 || open.size() < open.limit) {
        open.list.insert(childBuffer);
        return;
    }
    for (std::unique_ptr<NodeType>& child : childBuffer) {
        open.deep.push_back(std::move(child));
    }
}

// Offers the pool a node this thread would expand after its next one: the
// list's second (its front is often the node just branched, whose arcs and
// assignment the workspace still holds), else the bottom of the stack, the
// shallowest node there. The thread keeps at least one node.
template <typename NodeType>
void offerNode(OpenNodes<NodeType>& open, NodeContainer<NodeType>& pool) {
    if (open.list.size() >= 2) {
        if (pool.tryPut(open.list.second())) {
            open.list.popSecond();
        }
    } else if (!open.deep.empty() && open.size() >= 2) {
        if (pool.tryPut(open.deep.front())) {
            open.deep.erase(open.deep.begin());
        }
    }
}

// Moves a node waiting in the pool, if any, into this thread's list, without
// blocking. `received` is a one-entry buffer for the list's insertion.
template <typename NodeType>
void takeFromPool(NodeContainer<NodeType>& pool, ThreadNodeList<NodeType>& openNodeList,
                  NodeVector<NodeType>& received) {
    if (!pool.holdsNode()) {
        return;
    }
    received[0] = pool.tryTake();
    if (received[0]) {
        openNodeList.insert(received);
    }
}

// Publishes the rank of this thread's front node, and tells whether another
// thread's front ranks before it: this thread then works behind the others.
template <typename NodeType>
bool publishFront(const ThreadNodeList<NodeType>& openNodes, NodeRank<NodeType> rank,
                  std::int64_t margin, std::vector<PublishedListSize>& published,
                  std::size_t thread) {
    const std::int64_t frontRank =
        openNodes.empty() ? std::numeric_limits<std::int64_t>::max() : rank(**openNodes.begin());
    published[thread].frontRank.store(frontRank, std::memory_order_relaxed);
    for (std::size_t other = 0; other < published.size(); ++other) {
        const std::int64_t otherRank = published[other].frontRank.load(std::memory_order_relaxed);
        if (other != thread && otherRank != std::numeric_limits<std::int64_t>::max() &&
            otherRank + margin < frontRank) {
            return true;
        }
    }
    return false;
}

// Publishes this thread's list size and notes the sum over all threads.
inline void noteOpenNodes(std::vector<PublishedListSize>& sizes, std::size_t thread,
                          std::size_t listSize, std::int64_t& mostSeen) {
    sizes[thread].nodes.store(static_cast<std::int64_t>(listSize), std::memory_order_relaxed);
    std::int64_t total = 0;
    for (const PublishedListSize& size : sizes) {
        total += size.nodes.load(std::memory_order_relaxed);
    }
    mostSeen = std::max(mostSeen, total);
}

// When the runtime started fewer threads than planned, list 0 adopts the
// nodes dealt to the missing threads and the pool counts only the real team.
// Run by one thread before any thread of the team uses its list or the pool.
template <typename NodeType>
void shrinkToTeam(std::vector<ThreadNodeList<NodeType>>& openNodeLists,
                  NodeContainer<NodeType>& pool, std::int32_t teamSize) {
    NodeVector<NodeType> orphan(1);
    for (std::size_t k = static_cast<std::size_t>(teamSize); k < openNodeLists.size(); ++k) {
        while (!openNodeLists[k].empty()) {
            orphan[0] = openNodeLists[k].takeFront();
            openNodeLists[0].insert(orphan);
        }
    }
    pool.setTeamSize(teamSize);
}

// The loop that thread `thread` of a team of `teamSize` runs until the end of
// the search is announced.
template <typename NodeType, typename ResultType, typename ParameterType>
void runWorker(std::int32_t thread, std::int32_t teamSize, ThreadNodeList<NodeType>& openNodeList,
               NodeVector<NodeType>& childBuffer, NodeContainer<NodeType>& pool,
               ExpandFunction<NodeType, ResultType, ParameterType> expand, ResultType& result,
               ParameterType* parameter, const TreeSearchSettings& settings,
               NodeRank<NodeType> rank, std::vector<PublishedListSize>& published,
               std::int64_t& mostSeen) {
    const auto self = static_cast<std::size_t>(thread);
    const std::int32_t sharePeriod = 3 * teamSize;
    std::int32_t shareCountdown = sharePeriod + thread;
    bool low = false;  // this thread has said it is short of work
    bool behind = false;
    NodeVector<NodeType> received(1);
    OpenNodes<NodeType> openNodes{openNodeList, {}, settings.listLimit};
    for (;;) {
        if (openNodes.empty()) {
            std::unique_ptr<NodeType> node = pool.get();
            if (!node) {
                if (low) {
                    pool.setLow(false);
                }
                return;
            }
            openNodeList.pushFront(std::move(node));
            continue;
        }
        expandNext(openNodes, childBuffer, expand, result, parameter);
        if (settings.mostOpenNodes != nullptr) {
            noteOpenNodes(published, self, openNodes.size(), mostSeen);
        }
        const bool lookNow = --shareCountdown <= 0;
        if (lookNow) {
            shareCountdown = sharePeriod;
            // Working behind the others is looked at once every period: a
            // hand-off costs the giver's workspace its node.
            behind = rank != nullptr &&
                     publishFront(openNodeList, rank, settings.rankMargin, published, self);
        }
        // Short of work: down to one node, or working behind the others.
        if (low != (openNodes.size() <= 1 || behind)) {
            low = !low;
            pool.setLow(low);
        }
        if (low) {
            // A thread short of work takes a node waiting in the pool, and
            // gives none.
            takeFromPool(pool, openNodeList, received);
            continue;
        }
        // A node given to a thread that was short of work and no longer is
        // would wait in the pool until a thread runs dry; whoever looks next
        // takes it back into the search.
        if (lookNow) {
            takeFromPool(pool, openNodeList, received);
        }
        // A thread seen short of work is served at once; otherwise the pool
        // is looked at once every period.
        if (lookNow || pool.wantsWork()) {
            offerNode(openNodes, pool);
        }
    }
}

}  // namespace parallel_tree_detail

// Expands the tree below `root` on a team of threads until no open node is
// left. `result` and `parameter` are handed to every call of `expand`;
// `compare` may be null (depth-first order).
template <typename NodeType, typename ResultType, typename ParameterType>
void parallelTree(ExpandFunction<NodeType, ResultType, ParameterType> expand,
                  std::unique_ptr<NodeType> root, ResultType& result, ParameterType* parameter,
                  NodeComparator<NodeType> compare, const TreeSearchSettings& settings = {},
                  NodeRank<NodeType> rank = nullptr) {
    using namespace parallel_tree_detail;

    DynamicAdjustmentOff dynamicAdjustmentOff;
    const std::int32_t plannedThreads = plannedTeamSize();
    NodeContainer<NodeType> pool(plannedThreads);
    std::vector<ThreadNodeList<NodeType>> openNodeLists;
    openNodeLists.reserve(static_cast<std::size_t>(plannedThreads));
    for (std::int32_t thread = 0; thread < plannedThreads; ++thread) {
        openNodeLists.emplace_back(compare);
    }
    std::vector<NodeVector<NodeType>> childBuffers(plannedThreads);

    std::vector<PublishedListSize> listSizes(static_cast<std::size_t>(plannedThreads));
    std::vector<std::int64_t> mostSeen(static_cast<std::size_t>(plannedThreads), 0);
    const auto reportMostOpen = [&settings, &mostSeen] {
        if (settings.mostOpenNodes != nullptr) {
            *settings.mostOpenNodes = *std::max_element(mostSeen.begin(), mostSeen.end());
        }
    };

    // The pre-expansion makes a few nodes only: no limit, no stack.
    openNodeLists[0].pushBack(std::move(root));
    OpenNodes<NodeType> firstList{openNodeLists[0], {}, 0};
    while (static_cast<std::int32_t>(openNodeLists[0].size()) < plannedThreads) {
        if (openNodeLists[0].empty()) {
            reportMostOpen();
            return;  // the whole tree was searched before a team was needed
        }
        expandNext(firstList, childBuffers[0], expand, result, parameter);
        mostSeen[0] = std::max(mostSeen[0], static_cast<std::int64_t>(openNodeLists[0].size()));
    }
    dealOut(openNodeLists);

#pragma omp parallel num_threads(plannedThreads)
    {
        const std::int32_t teamSize = omp_get_num_threads();
        if (teamSize != plannedThreads) {
            // Every thread of the team takes this branch alike, so the
            // implied barrier of `single` is met by all of them.
#pragma omp single
            shrinkToTeam(openNodeLists, pool, teamSize);
        }
        const std::int32_t thread = omp_get_thread_num();
        runWorker(thread, teamSize, openNodeLists[thread], childBuffers[thread], pool, expand,
                  result, parameter, settings, rank, listSizes, mostSeen[thread]);
    }
    reportMostOpen();
}

}  // namespace atsp
