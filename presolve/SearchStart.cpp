#include "presolve/SearchStart.h"

#include <algorithm>
#include <utility>

#include "assignment/solveOnSparseCore.h"
#include "tours/StartingTour.h"

namespace atsp {

SearchStart::SearchStart(const SuccessorLists& successors, const ArcCosts& costs,
                         const SearchOptions& options)
    : successors(successors), costs(costs), options(options), rootProblem(successors, costs) {}

std::unique_ptr<Subproblem> SearchStart::solveRoot() {
    if (options.rootCoreArcsPerRow > 0) {
        solveOnSparseCore(rootProblem, successors, costs, options.rootCoreArcsPerRow, &coreArcs);
    } else {
        rootProblem.solveHungarian(false);
    }
    auto root = std::make_unique<Subproblem>();
    root->lowerBound = rootProblem.solutionValue();
    if (root->lowerBound != InfeasibleBound) {
        rootProblem.saveState(root->assignment);
        root->minCycle = rootProblem.findMinCycle();
        root->currentNode = root->minCycle.first;
    }
    return root;
}

void SearchStart::patchRootCycles(std::vector<Node>& tour, std::int64_t& cost) {
    if (!options.patchRootCycles) {
        return;
    }
    std::vector<Node> patched =
        patchCycles(successors, costs, rootProblem.solution(), rootProblem.rowDuals(),
                    rootProblem.columnDuals(), coreArcs);
    if (patched.empty()) {
        return;
    }
    improveTour(successors, costs, rootProblem.rowDuals(), rootProblem.columnDuals(), coreArcs,
                patched);
    const std::int64_t patchedCost = tourCost(successors, costs, patched);
    if (patchedCost < cost) {
        tour = std::move(patched);
        cost = patchedCost;
    }
}

std::int64_t SearchStart::firstGap(const Subproblem& root, std::int64_t incumbentCost) const {
    const std::int64_t wholeGap = incumbentCost - root.lowerBound;
    if (!options.cheapArcsFirst || !options.eliminateArcs) {
        return wholeGap;
    }
    return std::max<std::int64_t>(1, wholeGap / 64);
}

std::int64_t SearchStart::nextGap(std::int64_t gap) {
    return gap > InfeasibleBound / 2 ? InfeasibleBound : 2 * gap;
}

std::unique_ptr<Subproblem> SearchStart::rootForRound(const Subproblem& root, std::int64_t gap,
                                                      std::int64_t incumbentCost) {
    auto copy = std::make_unique<Subproblem>();
    copy->assignment = root.assignment;
    copy->lowerBound = root.lowerBound;
    copy->minCycle = root.minCycle;
    copy->currentNode = root.currentNode;
    narrowed = options.eliminateArcs;
    if (narrowed) {
        roundArcs = keepArcsBelow(
            successors, costs, rootProblem.rowDuals(), rootProblem.columnDuals(),
            std::min(gap, incumbentCost - root.lowerBound), copy->assignment.assignedArcs);
    }
    return copy;
}

const SuccessorLists& SearchStart::searchSuccessors() const {
    return narrowed ? roundArcs.successors : successors;
}

const ArcCosts& SearchStart::searchCosts() const {
    return narrowed ? roundArcs.costs : costs;
}

void SearchStart::countArcs(SearchStatistics& statistics) const {
    std::int64_t given = 0;
    for (const std::vector<Node>& row : successors) {
        given += static_cast<std::int64_t>(row.size());
    }
    statistics.arcsGiven = given;
    statistics.arcsSearched = narrowed ? static_cast<std::int64_t>(roundArcs.count) : given;
}

}  // namespace atsp
