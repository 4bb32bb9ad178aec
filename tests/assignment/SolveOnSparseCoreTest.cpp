// The root's fast solve: a sparse core repaired by pricing must end at the
// value of a solve on all arcs, with a certificate on all arcs, whatever the
// costs (ties, negative), the graph (missing arcs, no complete assignment) or
// the core's size. (The published root bounds of TSPLIB are checked with the
// solve on all arcs, in AssignmentProblemTest.)
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "assignment/solveOnSparseCore.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeRows;
using testing_support::Rows;

TEST(SolveOnSparseCore, EndsAtTheValueOfASolveOnAllArcsWithACertificateOnAllArcs) {
    for (std::uint64_t seed = 0; seed < 160; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 1 + static_cast<int>(seed % 80);
        const std::int32_t lowest = seed % 5 == 0 ? -50 : 0;
        const std::int32_t highest = seed % 3 == 0 ? 3 : seed % 3 == 1 ? 100 : 1000000;
        Rows rows = completeRows(testing_support::randomMatrix(random, n, lowest, highest));
        if (seed % 4 == 3) {
            // Rows that are not full: the core's general path, and at times
            // no complete assignment at all.
            std::bernoulli_distribution drop(seed % 8 == 3 ? 0.9 : 0.3);
            for (int i = 0; i < n; ++i) {
                for (std::size_t k = rows.heads[i].size(); k-- > 0;) {
                    if (drop(random)) {
                        rows.heads[i].erase(rows.heads[i].begin() + k);
                        rows.costs[i].erase(rows.costs[i].begin() + k);
                    }
                }
            }
        }
        const Graph graph = rows.graph();
        SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n));
        AssignmentProblem onAllArcs(graph);
        onAllArcs.solveHungarian(false);
        for (const std::size_t arcsPerRow : {1, 3, 10}) {
            AssignmentProblem onCore(graph);
            std::vector<std::vector<Node>> core;
            solveOnSparseCore(onCore, graph, arcsPerRow, &core);
            ASSERT_EQ(onCore.solutionValue(), onAllArcs.solutionValue()) << arcsPerRow;
            if (onCore.solutionValue() != InfeasibleBound) {
                EXPECT_TRUE(onCore.certifiesOptimality()) << arcsPerRow;
            }
            for (std::size_t row = 0; row < core.size(); ++row) {
                ASSERT_TRUE(std::is_sorted(core[row].begin(), core[row].end()));
                ASSERT_TRUE(core[row].empty() ||
                            core[row].back() < graph.rowLength(static_cast<Node>(row)));
            }
        }
    }
}

}  // namespace

}  // namespace atsp
