#include "solver/Subproblem.h"

#include <algorithm>
#include <vector>

namespace {

// Position of the first entry equal to `head` in `row`, or the row's length
// when it holds none. setToOne runs this over every row of a node for every
// child made, so it is shaped for speed: blocks of 32 entries are tested with a
// branch-free OR of comparisons, which the compiler turns into a few vector
// compares, and only the block that holds a match is searched entry by entry.
std::size_t positionOf(const std::vector<Node>& row, Node head) {
    constexpr std::size_t blockLength = 32;
    const Node* const entries = row.data();
    const std::size_t length = row.size();
    std::size_t blockStart = 0;
    for (; blockStart + blockLength <= length; blockStart += blockLength) {
        unsigned matches = 0;
        for (std::size_t k = 0; k < blockLength; ++k) {
            matches |= entries[blockStart + k] == head ? 1u : 0u;
        }
        if (matches != 0) {
            break;
        }
    }
    for (std::size_t k = blockStart; k < length; ++k) {
        if (entries[k] == head) {
            return k;
        }
    }
    return length;
}

// Erases entry `position` of one row from both parallel lists; the later entries
// keep their order.
void eraseArc(std::vector<Node>& successorRow, std::vector<std::int32_t>& costRow,
              std::size_t position) {
    successorRow.erase(successorRow.begin() + static_cast<std::ptrdiff_t>(position));
    costRow.erase(costRow.begin() + static_cast<std::ptrdiff_t>(position));
}

}  // namespace

Subproblem::Subproblem(const SuccessorLists& graphSuccessors, const ArcCosts& graphCosts)
    : successors(graphSuccessors),
      costs(graphCosts),
      assignmentProblem(successors, costs),
      lowerBound(0),
      minCycle(0, 0),
      currentNode(0) {}

Subproblem::Subproblem(const SuccessorLists& parentSuccessors, const ArcCosts& parentCosts,
                       const AssignmentProblem& parentAssignmentProblem,
                       std::int64_t parentLowerBound)
    : successors(parentSuccessors),
      costs(parentCosts),
      assignmentProblem(parentAssignmentProblem),
      lowerBound(parentLowerBound),
      minCycle(0, 0),
      currentNode(0) {
    // The copy still reads the parent's lists until it is re-pointed here.
    assignmentProblem.setGraph(successors, costs);
}

void Subproblem::setToZero(Node tail, Node head) {
    assignmentProblem.removeArc(tail, head);
    const std::size_t position = positionOf(successors[tail], head);
    if (position < successors[tail].size()) {
        eraseArc(successors[tail], costs[tail], position);
    }
}

void Subproblem::setToOne(Node tail, Node head) {
    const std::size_t cityCount = successors.size();
    for (std::size_t city = 0; city < cityCount; ++city) {
        const std::size_t position = positionOf(successors[city], head);
        if (position == successors[city].size()) {
            continue;
        }
        if (city == tail) {
            // A forced row never grows again: fresh one-entry storage gives the
            // row's old capacity back at once.
            const std::int32_t forcedCost = costs[city][position];
            successors[city] = std::vector<Node>{head};
            costs[city] = std::vector<std::int32_t>{forcedCost};
        } else {
            eraseArc(successors[city], costs[city], position);
        }
    }
}

Subproblem::RemovedArc Subproblem::takeOutArc(Node tail, Node head) {
    const std::size_t position = positionOf(successors[tail], head);
    RemovedArc removed{tail, head, position < successors[tail].size(), position, 0};
    if (removed.wasInRow) {
        removed.cost = costs[tail][position];
        eraseArc(successors[tail], costs[tail], position);
    }
    return removed;
}

void Subproblem::putBackArc(const RemovedArc& arc) {
    if (!arc.wasInRow) {
        return;
    }
    const auto offset = static_cast<std::ptrdiff_t>(arc.position);
    successors[arc.tail].insert(successors[arc.tail].begin() + offset, arc.head);
    costs[arc.tail].insert(costs[arc.tail].begin() + offset, arc.cost);
}

void Subproblem::updateAssignmentProblem() {
    assignmentProblem.solveHungarian(true);
    lowerBound = assignmentProblem.solutionValue();
}

void Subproblem::updateMinCycle() {
    minCycle = assignmentProblem.findMinCycle();
    currentNode = minCycle.first;
}
