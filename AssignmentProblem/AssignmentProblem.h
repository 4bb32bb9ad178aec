// (Interface pinned; the implementer of this unit writes the teaching header
// comment and the implementation.)
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "solver/Types.h"

class AssignmentProblem {
public:
    // Keeps pointers to both lists (not owned); sizes assignment and duals to
    // n = graph.size(), all zero; infeasible false. Nothing is solved.
    AssignmentProblem(const SuccessorLists& graph, const ArcCosts& costs);

    // Re-points the problem to other lists of the same n; nothing else changes.
    void setGraph(const SuccessorLists& graph, const ArcCosts& costs);

    // false: solve from scratch. true: keep every assigned row, re-assign the
    // NoNode rows.
    void solveHungarian(bool incremental);

    const std::vector<Node>& solution() const { return assignment; }
    std::vector<Node>&& moveSolution() { return std::move(assignment); }

    // InfeasibleBound once infeasible; otherwise the assignment's total cost.
    std::int64_t solutionValue() const;

    // Row i becomes NoNode if it is assigned j; nothing else changes.
    void removeArc(Node i, Node j);

    std::vector<std::int64_t>& dualVariablesX() { return dualX; }
    std::vector<std::int64_t>& dualVariablesY() { return dualY; }

    // (start city = lowest city of the shortest cycle, length).
    std::pair<Node, Node> findMinCycle();

private:
    const SuccessorLists* graph;
    const ArcCosts* costs;
    std::vector<Node> assignment;
    std::vector<std::int64_t> dualX;
    std::vector<std::int64_t> dualY;
    bool infeasible;
};
