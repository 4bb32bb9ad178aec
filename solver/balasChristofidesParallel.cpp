#include "solver/balasChristofidesParallel.h"

#include <omp.h>

#include <algorithm>
#include <cstddef>
#include <utility>

#include "solver/StartingTour.h"
#include "solver/parallelTree.h"

namespace {

using NodePointer = std::unique_ptr<Subproblem>;

// This thread's counters, or null when nobody asked for statistics. Before the
// team starts the calling thread counts as thread 0 (its own number may be
// anything when the search runs inside an outer team).
ThreadSearchCounters* countersOfThisThread(Result& result) {
    if (result.countersByThread.empty()) {
        return nullptr;
    }
    const int thread = omp_get_level() > result.callerLevel ? omp_get_thread_num() : 0;
    return &result.countersByThread[thread];
}

// Replaces the incumbent by the tour in `tourNode`'s assignment if that is
// still strictly cheaper now; another thread may have improved it since this
// expansion read it.
void offerTour(Subproblem& tourNode, Result& result) {
    result.lock.writeLock();
    if (tourNode.lowerBound < result.cost) {
        result.cost = tourNode.lowerBound;
        result.tour = tourNode.assignmentProblem.moveSolution();
    }
    result.lock.writeUnlock();
}

// The child of `node` that forbids tail -> head, if its bound beats
// `bestKnownCost`; null otherwise. The node's lists are left as they were.
//
// Most children are pruned at once, so the child's bound is found before its
// arcs are copied: a copy of the node's assignment problem is re-solved on the
// node's own lists with the arc taken out for the moment, exactly the lists a
// copied child would hold after forbidding the arc. Only a surviving child is
// built, from those lists and that solved problem.
NodePointer boundChild(Subproblem& node, Node tail, Node head, std::int64_t bestKnownCost) {
    AssignmentProblem childProblem = node.assignmentProblem;
    const Subproblem::RemovedArc forbidden = node.takeOutArc(tail, head);
    childProblem.removeArc(tail, head);
    childProblem.solveHungarian(true);
    const std::int64_t childBound = childProblem.solutionValue();
    NodePointer child;
    if (childBound < bestKnownCost) {  // never true for an infeasible child
        child = std::make_unique<Subproblem>(node.successors, node.costs, childProblem, childBound);
    }
    node.putBackArc(forbidden);
    return child;
}

// The root, solved from scratch; its cycle is known when it is feasible.
NodePointer solveRoot(const SuccessorLists& successors, const ArcCosts& costs) {
    auto root = std::make_unique<Subproblem>(successors, costs);
    root->assignmentProblem.solveHungarian(false);
    root->lowerBound = root->assignmentProblem.solutionValue();
    if (root->lowerBound != InfeasibleBound) {
        root->updateMinCycle();
    }
    return root;
}

bool isTour(const Subproblem& node) {
    return node.lowerBound != InfeasibleBound && node.minCycle.second == node.successors.size();
}

}  // namespace

bool lowerBoundFirst(const NodePointer& first, const NodePointer& second) {
    return first->lowerBound < second->lowerBound;
}

namespace {

// The expansion proper of processNode; `childrenMade` counts the children it
// made, pruned ones included.
std::vector<NodePointer> expandNode(NodePointer node, Result& result, std::int64_t& childrenMade) {
    std::vector<NodePointer> openNodes;
    openNodes.reserve(2);

    result.lock.readLock();
    const std::int64_t bestKnownCost = result.cost;  // this call's snapshot
    result.lock.readUnlock();
    if (node->lowerBound >= bestKnownCost) {
        return openNodes;
    }

    ThreadSearchCounters* counters = countersOfThisThread(result);
    if (counters != nullptr) {
        ++counters->nodesExpanded;
    }
    const Node cityCount = static_cast<Node>(node->successors.size());
    for (;;) {
        const Node tail = node->currentNode;
        const Node head = node->assignmentProblem.solution()[tail];
        NodePointer child;
        // A tail row with a single entry left is forced already: no child.
        if (node->successors[tail].size() >= 2) {
            if (counters != nullptr) {
                ++counters->nodesCreated;
            }
            ++childrenMade;
            child = boundChild(*node, tail, head, bestKnownCost);
            node->setToOne(tail, head);
            if (child) {
                child->updateMinCycle();
                if (child->minCycle.second == cityCount) {
                    offerTour(*child, result);
                    child.reset();
                    // The node goes back so that it meets the improved
                    // incumbent before it branches further.
                    node->currentNode = head;
                    if (head != node->minCycle.first) {
                        openNodes.push_back(std::move(node));
                    }
                    return openNodes;
                }
            }
        }
        node->currentNode = head;
        if (head == node->minCycle.first) {
            // Every arc of the subtour is forced now: the node is done.
            if (child) {
                openNodes.push_back(std::move(child));
            }
            return openNodes;
        }
        if (child) {
            openNodes.push_back(std::move(node));
            openNodes.push_back(std::move(child));
            return openNodes;
        }
    }
}

// Files what one call of processNode changed for the progress reports, and
// makes a report when one is due.
void noteForProgress(Result& result, std::int64_t takenBound,
                     const std::vector<NodePointer>& openNodes, std::int64_t childrenMade) {
    SearchProgress progress;
    {
        const std::lock_guard<std::mutex> guard(result.watchLock);
        result.liveBounds.erase(result.liveBounds.find(takenBound));
        for (const NodePointer& open : openNodes) {
            result.liveBounds.insert(open->lowerBound);
        }
        result.nodesMade += childrenMade;
        if (!result.monitor->claimReport()) {
            return;
        }
        progress.nodesCreated = result.nodesMade;
        progress.openNodes = static_cast<std::int64_t>(result.liveBounds.size());
        progress.lowerBound = std::min(
            result.leastAbandonedBound,
            result.liveBounds.empty() ? InfeasibleBound : *result.liveBounds.begin());
    }
    result.lock.readLock();
    progress.bestCost = result.cost;
    result.lock.readUnlock();
    progress.lowerBound = std::min(progress.lowerBound, progress.bestCost);
    result.monitor->report(progress);
}

}  // namespace

std::vector<NodePointer> processNode(NodePointer node, Result& result, void* /*parameter*/) {
    std::int64_t childrenMade = 0;
    SearchMonitor* monitor = result.monitor;
    if (monitor == nullptr) {
        return expandNode(std::move(node), result, childrenMade);
    }
    const std::int64_t takenBound = node->lowerBound;
    std::vector<NodePointer> openNodes;
    if (monitor->timeIsUp()) {
        // Dropped unexpanded: only its bound is kept, as a lower bound.
        const std::lock_guard<std::mutex> guard(result.watchLock);
        result.leastAbandonedBound = std::min(result.leastAbandonedBound, takenBound);
    } else {
        openNodes = expandNode(std::move(node), result, childrenMade);
    }
    if (monitor->reportsProgress()) {
        noteForProgress(result, takenBound, openNodes, childrenMade);
    }
    return openNodes;
}

TourResult balasChristofidesParallel(const SuccessorLists& successors, const ArcCosts& costs,
                                     const std::vector<Node>* startTour,
                                     SearchStatistics* statistics, const SearchOptions* options) {
    SearchMonitor monitor(options);
    if (statistics != nullptr) {
        *statistics = SearchStatistics{};
    }
    if (successors.empty()) {
        return TourResult{};  // zero cities: the empty tour, cost 0
    }


    NodePointer root = solveRoot(successors, costs);
    Result incumbent;
    incumbent.tour = startingTour(successors, startTour);
    incumbent.cost = tourCost(successors, costs, incumbent.tour);
    if (statistics != nullptr) {
        statistics->nodesCreated = 1;
        incumbent.countersByThread.resize(plannedTeamSize());
        incumbent.callerLevel = omp_get_level();
    }

    if (incumbent.cost < 0) {
        return TourResult{std::move(incumbent.tour), -1, false, -1};
    }
    if (options != nullptr) {
        incumbent.monitor = &monitor;
        incumbent.liveBounds.insert(root->lowerBound);
        incumbent.nodesMade = 1;
    }
    if (isTour(*root)) {
        // Settled without a search: no thread team.
        if (root->lowerBound < incumbent.cost) {
            incumbent.cost = root->lowerBound;
            incumbent.tour = root->assignmentProblem.moveSolution();
        }
    } else {
        parallelTree<Subproblem, Result, void>(processNode, std::move(root), incumbent, nullptr,
                                               lowerBoundFirst);
    }

    if (statistics != nullptr) {
        for (const ThreadSearchCounters& counters : incumbent.countersByThread) {
            statistics->nodesCreated += counters.nodesCreated;
            statistics->nodesExpanded += counters.nodesExpanded;
        }
    }
    TourResult answer{incumbent.tour, incumbent.cost, false, incumbent.cost};
    if (incumbent.leastAbandonedBound != InfeasibleBound) {
        answer.stoppedAtTimeLimit = true;
        answer.lowerBound = std::min(incumbent.cost, incumbent.leastAbandonedBound);
    }
    if (monitor.reportsProgress()) {
        monitor.report({0, incumbent.nodesMade, 0, answer.cost, answer.lowerBound});
    }
    return answer;
}
