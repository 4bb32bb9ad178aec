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
//    child's place in logarithmic time).
//    Once every 3c of its expansions (c threads; the first time after 3c + t,
//    which spreads the threads' looks over time) a thread holding at least
//    two open nodes offers its front node to an idle thread through the pool
//    (`NodeContainer`, which never blocks a giver). A thread whose list runs
//    empty waits in the pool; the search ends when every thread waits and no
//    node is in transit (see NodeContainer.h for the locks and the end).
//
// Every node is at any moment in exactly one place: a thread's list, a
// thread's child buffer, the pool's slot, or one call of the expand function.
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
//   NodeVector<Subproblem> processNode(std::unique_ptr<Subproblem>, Result&, SearchThreads*);
//   bool lowerBoundFirst(const std::unique_ptr<Subproblem>&,
//                        const std::unique_ptr<Subproblem>&);
//   parallelTree<Subproblem, Result, SearchThreads>(processNode, std::move(root), incumbent,
//                                                   &threads, lowerBoundFirst);
#pragma once

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "solver/NodeContainer.h"
#include "solver/ThreadNodeList.h"

// Expands a node it owns; returns the open nodes that remain (possibly the
// node itself among them). A node neither returned nor kept is destroyed.
template <typename NodeType, typename ResultType, typename ParameterType>
using ExpandFunction = NodeVector<NodeType> (*)(std::unique_ptr<NodeType>, ResultType&,
                                                ParameterType*);

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

// Takes the front node of `openNodes`, expands it into `childBuffer` (whose
// previous content is released) and inserts the children.
template <typename NodeType, typename ResultType, typename ParameterType>
void expandFront(ThreadNodeList<NodeType>& openNodes, NodeVector<NodeType>& childBuffer,
                 ExpandFunction<NodeType, ResultType, ParameterType> expand, ResultType& result,
                 ParameterType* parameter) {
    childBuffer = expand(openNodes.takeFront(), result, parameter);
    openNodes.insert(childBuffer);
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
void runWorker(std::int32_t thread, std::int32_t teamSize, ThreadNodeList<NodeType>& openNodes,
               NodeVector<NodeType>& childBuffer, NodeContainer<NodeType>& pool,
               ExpandFunction<NodeType, ResultType, ParameterType> expand, ResultType& result,
               ParameterType* parameter) {
    const std::int32_t sharePeriod = 3 * teamSize;
    std::int32_t shareCountdown = sharePeriod + thread;
    for (;;) {
        if (openNodes.empty()) {
            std::unique_ptr<NodeType> received = pool.get();
            if (!received) {
                return;
            }
            openNodes.pushFront(std::move(received));
            continue;
        }
        expandFront(openNodes, childBuffer, expand, result, parameter);
        if (--shareCountdown > 0) {
            continue;
        }
        // Give away the node this thread would expand next, only when it
        // keeps at least one for itself.
        if (openNodes.size() >= 2 && pool.tryPut(openNodes.front())) {
            openNodes.popFront();
        }
        shareCountdown = sharePeriod;
    }
}

}  // namespace parallel_tree_detail

// Expands the tree below `root` on a team of threads until no open node is
// left. `result` and `parameter` are handed to every call of `expand`;
// `compare` may be null (depth-first order).
template <typename NodeType, typename ResultType, typename ParameterType>
void parallelTree(ExpandFunction<NodeType, ResultType, ParameterType> expand,
                  std::unique_ptr<NodeType> root, ResultType& result, ParameterType* parameter,
                  NodeComparator<NodeType> compare) {
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

    openNodeLists[0].pushBack(std::move(root));
    while (static_cast<std::int32_t>(openNodeLists[0].size()) < plannedThreads) {
        if (openNodeLists[0].empty()) {
            return;  // the whole tree was searched before a team was needed
        }
        expandFront(openNodeLists[0], childBuffers[0], expand, result, parameter);
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
                  result, parameter);
    }
}
