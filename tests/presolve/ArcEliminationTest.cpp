// Reduced-cost elimination keeps exactly the arcs below the threshold, in
// input order, and moves the root's assigned arcs to their new places.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "assignment/AssignmentProblem.h"
#include "presolve/ArcElimination.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeRows;
using testing_support::Rows;

TEST(ArcElimination, KeepsExactlyTheArcsBelowTheThresholdInOrder) {
    for (std::uint64_t seed = 0; seed < 40; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 2 + static_cast<int>(seed % 30);
        const Rows rows =
            completeRows(testing_support::randomMatrix(random, n, -5, seed % 2 == 0 ? 3 : 1000));
        const Graph graph = rows.graph();
        AssignmentProblem root(graph);
        root.solveHungarian(false);
        AssignmentState state;
        root.saveState(state);
        for (const std::int64_t threshold : {1, 2, 4, 100, 1000000}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", threshold " +
                         std::to_string(threshold));
            std::vector<Node> positions = state.assignedArcs;
            const Graph kept =
                *keepArcsBelow(graph, root.rowDuals(), root.columnDuals(), threshold, positions);
            const Rows keptRows = testing_support::rowsOf(kept);
            std::size_t count = 0;
            for (Node row = 0; row < n; ++row) {
                std::vector<Node> expectedHeads;
                std::vector<std::int32_t> expectedCosts;
                for (std::size_t k = 0; k < rows.heads[row].size(); ++k) {
                    const Node head = rows.heads[row][k];
                    const std::int64_t reducedCost =
                        rows.costs[row][k] - root.rowDuals()[row] - root.columnDuals()[head];
                    if (reducedCost < threshold) {
                        expectedHeads.push_back(head);
                        expectedCosts.push_back(rows.costs[row][k]);
                    }
                }
                ASSERT_EQ(keptRows.heads[row], expectedHeads) << "row " << row;
                ASSERT_EQ(keptRows.costs[row], expectedCosts) << "row " << row;
                ASSERT_EQ(keptRows.heads[row][positions[row]], root.solution()[row]);
                count += expectedHeads.size();
            }
            EXPECT_EQ(kept.arcCount(), count);
        }
    }
}

}  // namespace

}  // namespace atsp
