// Tours on a graph: the default tour, the single-cycle test and the cost sum,
// and the graph's own look-ups that the cost relies on.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "graph/Graph.h"
#include "graph/Tour.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeGraph;

TEST(Tour, DefaultIsZeroOneToNMinusOneAndBack) {
    EXPECT_EQ(defaultTour(0), std::vector<Node>{});
    EXPECT_EQ(defaultTour(1), std::vector<Node>{0});
    EXPECT_EQ(defaultTour(2), (std::vector<Node>{1, 0}));
    EXPECT_EQ(defaultTour(5), (std::vector<Node>{1, 2, 3, 4, 0}));
}

TEST(Tour, ASingleCycleVisitsEveryCityOnce) {
    EXPECT_TRUE(isSingleCycle({0}));
    EXPECT_TRUE(isSingleCycle({2, 0, 1}));
    EXPECT_FALSE(isSingleCycle({}));
    EXPECT_FALSE(isSingleCycle({1, 0, 2}));     // a loop at 2
    EXPECT_FALSE(isSingleCycle({1, 0, 3, 2}));  // two 2-cycles
    EXPECT_FALSE(isSingleCycle({1, 2, 1}));     // not a permutation
    EXPECT_FALSE(isSingleCycle({1, 5, 0}));     // a city out of range
}

TEST(Tour, CostSumsTheTourArcsIn64Bits) {
    const Graph graph =
        completeGraph({{-1, 2000000000, 5}, {7, -1, 2000000000}, {2000000000, 11, -1}});
    EXPECT_EQ(tourCost(graph, {1, 2, 0}), 6000000000);
    EXPECT_EQ(tourCost(graph, {2, 0, 1}), 5 + 7 + 11);
}

TEST(Tour, ATourWithoutArcsCostsNothingAndAMissingArcGivesNoCost) {
    EXPECT_EQ(tourCost(Graph(), {}), 0);
    // One city has no arc at all: its tour 0 -> 0 costs 0.
    EXPECT_EQ(tourCost(completeGraph({{-1}}), {0}), 0);
    // Row 0 lacks the arc to 2.
    const Graph sparse = Graph::fromRows({{1}, {0, 2}, {0}}, {{4}, {6, 9}, {3}});
    EXPECT_EQ(tourCost(sparse, {2, 0, 1}), std::nullopt);
    EXPECT_EQ(tourCost(sparse, {1, 2, 0}), 4 + 9 + 3);
    // A tour of another size, or naming a city the graph has not.
    EXPECT_EQ(tourCost(sparse, {1, 0}), std::nullopt);
    EXPECT_EQ(tourCost(completeGraph({{-1, 1}, {1, -1}}), {1, 7}), std::nullopt);
}

TEST(Graph, FullRowsAreToldApartAndArcsFoundInEveryRow) {
    const Graph graph = Graph::fromRows({{1, 2, 3}, {0, 2}, {3, 1, 0}, {0, 1, 2}},
                                        {{1, 2, 3}, {4, 5}, {6, 7, 8}, {9, 10, 11}});
    EXPECT_TRUE(graph.isFullRow(0));
    EXPECT_FALSE(graph.isFullRow(1));  // lacks the arc to 3
    EXPECT_FALSE(graph.isFullRow(2));  // all arcs, but not ascending
    EXPECT_TRUE(graph.isFullRow(3));
    EXPECT_EQ(graph.arcCount(), 11u);
    EXPECT_EQ(graph.arcPosition(0, 3), 2);
    EXPECT_EQ(graph.arcPosition(2, 1), 1);
    EXPECT_EQ(graph.arcPosition(1, 3), NoNode);
    EXPECT_EQ(graph.arcPosition(3, 3), NoNode);  // no loops
    EXPECT_EQ(graph.arcPosition(0, 9), NoNode);  // no such city
    EXPECT_EQ(graph.costs(2)[graph.arcPosition(2, 0)], 8);
    EXPECT_EQ(Graph().cityCount(), 0u);
}

// Every tour leaves every city by one of its arcs.
TEST(Graph, TheCheapestArcsBoundSumsEachRowsLeastCost) {
    EXPECT_EQ(completeGraph({{-1, 5, -3}, {7, -1, 2}, {4, 9, -1}}).cheapestArcsBound(), -3 + 2 + 4);
    EXPECT_EQ(Graph::fromRows({{1}, {}}, {{5}, {}}).cheapestArcsBound(), InfeasibleBound);
    EXPECT_EQ(completeGraph({{-1}}).cheapestArcsBound(), 0);
    EXPECT_EQ(Graph().cheapestArcsBound(), 0);
}

}  // namespace

}  // namespace atsp
