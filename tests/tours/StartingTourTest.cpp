// The tour both searches start from and the way its cost is summed.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "assignment/AssignmentProblem.h"
#include "assignment/solveOnSparseCore.h"
#include "tests/support/TestGraphs.h"
#include "tours/StartingTour.h"

namespace atsp {

namespace {

using testing_support::completeGraph;
using testing_support::Graph;
using testing_support::isSingleCycle;

TEST(StartingTour, DefaultIsZeroOneToNMinusOneAndBack) {
    EXPECT_EQ(startingTour(SuccessorLists{}, nullptr), std::vector<Node>{});
    EXPECT_EQ(startingTour(SuccessorLists(1), nullptr), std::vector<Node>{0});
    EXPECT_EQ(startingTour(SuccessorLists(2), nullptr), (std::vector<Node>{1, 0}));
    EXPECT_EQ(startingTour(SuccessorLists(5), nullptr), (std::vector<Node>{1, 2, 3, 4, 0}));
}

TEST(StartingTour, AGivenTourIsUsedUnchanged) {
    const std::vector<Node> given{2, 0, 1};
    EXPECT_EQ(startingTour(SuccessorLists(3), &given), given);
}

TEST(StartingTour, CostSumsTheTourArcsIn64Bits) {
    const auto graph =
        completeGraph({{-1, 2000000000, 5}, {7, -1, 2000000000}, {2000000000, 11, -1}});
    EXPECT_EQ(tourCost(graph.successors, graph.costs, {1, 2, 0}), 6000000000);
    EXPECT_EQ(tourCost(graph.successors, graph.costs, {2, 0, 1}), 5 + 7 + 11);
}

TEST(StartingTour, ArcsMissingFromTheGraphAddNothing) {
    // One city has no arc at all: its tour 0 -> 0 costs 0.
    EXPECT_EQ(tourCost(SuccessorLists{{}}, ArcCosts{{}}, {0}), 0);
    // Row 0 lacks the arc to 2; the first match of a head counts.
    const SuccessorLists successors{{1}, {0, 2}, {0}};
    const ArcCosts costs{{4}, {6, 9}, {3}};
    EXPECT_EQ(tourCost(successors, costs, {2, 0, 0}), 0 + 6 + 3);
}

// Two free 2-cycles, 0 <-> 1 and 2 <-> 3; of the exchanges that join them,
// only 0 -> 3 with 2 -> 1 uses two cheap arcs.
TEST(StartingTour, PatchingJoinsCyclesByTheCheapestExchange) {
    testing_support::Matrix matrix = testing_support::constantMatrix(4, 10);
    matrix[0][1] = matrix[1][0] = matrix[2][3] = matrix[3][2] = 0;
    matrix[0][3] = matrix[2][1] = 1;
    const Graph graph = completeGraph(matrix);
    AssignmentProblem root(graph.successors, graph.costs);
    root.solveHungarian(false);
    ASSERT_EQ(root.solution(), (std::vector<Node>{1, 0, 3, 2}));
    const std::vector<Node> patched = patchCycles(graph.successors, graph.costs, root.solution(),
                                                  root.rowDuals(), root.columnDuals(), {});
    EXPECT_EQ(patched, (std::vector<Node>{3, 0, 1, 2}));
}

TEST(StartingTour, PatchingGivesUpWhenNoExchangeHasBothArcs) {
    // Two 2-cycles and no arc between them.
    const SuccessorLists successors{{1}, {0}, {3}, {2}};
    const ArcCosts costs{{1}, {1}, {1}, {1}};
    AssignmentProblem root(successors, costs);
    root.solveHungarian(false);
    EXPECT_TRUE(
        patchCycles(successors, costs, root.solution(), root.rowDuals(), root.columnDuals(), {})
            .empty());
}

// On the root of random instances, with the sparse core as candidates or none:
// patching gives one cycle through every city, and the exchanges of three
// arcs only ever make it cheaper and keep it one cycle.
TEST(StartingTour, PatchedAndImprovedToursAreToursAndImprovingNeverCostsMore) {
    for (std::uint64_t seed = 0; seed < 60; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 2 + static_cast<int>(seed % 60);
        const std::int32_t highest = seed % 2 == 0 ? 1000000 : 5;
        const Graph graph = completeGraph(testing_support::randomMatrix(random, n, 0, highest));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n));
        AssignmentProblem root(graph.successors, graph.costs);
        std::vector<std::vector<Node>> core;
        solveOnSparseCore(root, graph.successors, graph.costs, 4, &core);
        for (const bool withCandidates : {false, true}) {
            const std::vector<std::vector<Node>> candidates =
                withCandidates ? core : std::vector<std::vector<Node>>{};
            std::vector<Node> tour = patchCycles(graph.successors, graph.costs, root.solution(),
                                                 root.rowDuals(), root.columnDuals(), candidates);
            ASSERT_TRUE(isSingleCycle(tour));
            const std::int64_t patchedCost = tourCost(graph.successors, graph.costs, tour);
            EXPECT_GE(patchedCost, root.solutionValue());
            improveTour(graph.successors, graph.costs, root.rowDuals(), root.columnDuals(), core,
                        tour);
            ASSERT_TRUE(isSingleCycle(tour));
            EXPECT_LE(tourCost(graph.successors, graph.costs, tour), patchedCost);
        }
    }
}

}  // namespace

}  // namespace atsp
