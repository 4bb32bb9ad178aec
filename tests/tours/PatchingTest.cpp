// Tours made from an assignment: Karp's patching and the exchanges of three
// arcs that improve them.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "assignment/AssignmentProblem.h"
#include "assignment/solveOnSparseCore.h"
#include "graph/Tour.h"
#include "tests/support/TestGraphs.h"
#include "tours/Patching.h"

namespace atsp {

namespace {

using testing_support::completeGraph;
using testing_support::isSingleCycle;

// Two free 2-cycles, 0 <-> 1 and 2 <-> 3; of the exchanges that join them,
// only 0 -> 3 with 2 -> 1 uses two cheap arcs.
TEST(Patching, PatchingJoinsCyclesByTheCheapestExchange) {
    testing_support::Matrix matrix = testing_support::constantMatrix(4, 10);
    matrix[0][1] = matrix[1][0] = matrix[2][3] = matrix[3][2] = 0;
    matrix[0][3] = matrix[2][1] = 1;
    const Graph graph = completeGraph(matrix);
    AssignmentProblem root(graph);
    root.solveHungarian(false);
    ASSERT_EQ(root.solution(), (std::vector<Node>{1, 0, 3, 2}));
    const std::vector<Node> patched =
        patchCycles(graph, root.solution(), root.rowDuals(), root.columnDuals(), {});
    EXPECT_EQ(patched, (std::vector<Node>{3, 0, 1, 2}));
}

TEST(Patching, PatchingGivesUpWhenNoExchangeHasBothArcs) {
    // Two 2-cycles and no arc between them.
    const Graph graph = Graph::fromRows({{1}, {0}, {3}, {2}}, {{1}, {1}, {1}, {1}});
    AssignmentProblem root(graph);
    root.solveHungarian(false);
    EXPECT_TRUE(
        patchCycles(graph, root.solution(), root.rowDuals(), root.columnDuals(), {}).empty());
}

// On the root of random instances, with the sparse core as candidates or none:
// patching gives one cycle through every city, and the exchanges of three
// arcs only ever make it cheaper and keep it one cycle.
TEST(Patching, PatchedAndImprovedToursAreToursAndImprovingNeverCostsMore) {
    for (std::uint64_t seed = 0; seed < 60; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 2 + static_cast<int>(seed % 60);
        const std::int32_t highest = seed % 2 == 0 ? 1000000 : 5;
        const Graph graph = completeGraph(testing_support::randomMatrix(random, n, 0, highest));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n));
        AssignmentProblem root(graph);
        std::vector<std::vector<Node>> core;
        solveOnSparseCore(root, graph, 4, &core);
        for (const bool withCandidates : {false, true}) {
            const std::vector<std::vector<Node>> candidates =
                withCandidates ? core : std::vector<std::vector<Node>>{};
            std::vector<Node> tour = patchCycles(graph, root.solution(), root.rowDuals(),
                                                 root.columnDuals(), candidates);
            ASSERT_TRUE(isSingleCycle(tour));
            const std::int64_t patchedCost = *tourCost(graph, tour);
            EXPECT_GE(patchedCost, root.solutionValue());
            improveTour(graph, root.rowDuals(), root.columnDuals(), core, tour);
            ASSERT_TRUE(isSingleCycle(tour));
            EXPECT_LE(*tourCost(graph, tour), patchedCost);
        }
    }
}

}  // namespace

}  // namespace atsp
