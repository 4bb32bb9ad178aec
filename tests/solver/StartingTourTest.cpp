// The tour both searches start from and the way its cost is summed.

#include "solver/StartingTour.h"

#include <gtest/gtest.h>

#include "tests/support/TestGraphs.h"

namespace {

using testing_support::completeGraph;

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
    const auto graph = completeGraph({{-1, 2000000000, 5}, {7, -1, 2000000000}, {2000000000, 11, -1}});
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

}  // namespace
