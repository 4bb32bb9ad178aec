// Tours read off LP supports: always a tour of the graph or nothing, and the
// LP's own tour when the support is one.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "graph/Tour.h"
#include "tests/support/TestGraphs.h"
#include "tours/SupportTour.h"

namespace atsp {

namespace {

using testing_support::completeGraph;
using testing_support::randomMatrix;
using testing_support::randomTour;

std::vector<SupportArc> supportOf(const std::vector<Node>& successors, double value) {
    std::vector<SupportArc> support;
    for (std::size_t city = 0; city < successors.size(); ++city) {
        support.push_back({static_cast<std::uint32_t>(city), successors[city], value});
    }
    return support;
}

TEST(SupportTour, AnIntegralTourIsReadBackAsItIs) {
    std::mt19937_64 random(3);
    for (int n : {2, 3, 7, 30}) {
        const Graph graph = completeGraph(randomMatrix(random, n, 0, 100));
        const std::vector<Node> tour = randomTour(random, n);
        EXPECT_EQ(tourFromSupport(graph, supportOf(tour, 1.0)), tour) << n;
    }
    EXPECT_EQ(tourFromSupport(Graph(), {}), std::vector<Node>{});
    EXPECT_EQ(tourFromSupport(completeGraph({{-1}}), {}), std::vector<Node>{0});
}

// Supports of several tours and assignments mixed, and of nothing: the
// result is one cycle through every city, on arcs the graph holds.
TEST(SupportTour, AnyMixOfAssignmentsGivesATourOfTheGraph) {
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 2 + static_cast<int>(seed % 40);
        const Graph graph = completeGraph(randomMatrix(random, n, 0, 1000));
        std::vector<SupportArc> support;
        for (int part = 0; part < static_cast<int>(seed % 4); ++part) {
            std::vector<Node> assignment(n);
            for (int city = 0; city < n; ++city) {
                assignment[city] = static_cast<Node>(city);
            }
            std::shuffle(assignment.begin(), assignment.end(), random);
            for (int city = 0; city < n; ++city) {
                if (assignment[city] != city) {
                    support.push_back({static_cast<std::uint32_t>(city), assignment[city],
                                       1.0 / static_cast<double>(1 + part)});
                }
            }
        }
        const std::vector<Node> tour = tourFromSupport(graph, support);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n));
        ASSERT_TRUE(isSingleCycle(tour));
        ASSERT_TRUE(tourCost(graph, tour).has_value());
    }
}

// The tour of a solve: its own tour first, then one read off its support;
// a solve with neither (stopped, cut off) gives none, not a greedy tour.
TEST(SupportTour, ASolveWithoutSupportGivesNoTour) {
    std::mt19937_64 random(11);
    const Graph graph = completeGraph(randomMatrix(random, 9, 0, 100));
    const std::vector<Node> own = randomTour(random, 9);
    const std::vector<Node> other = randomTour(random, 9);
    EXPECT_EQ(tourOfSolution(graph, own, supportOf(other, 1.0)), own);
    EXPECT_EQ(tourOfSolution(graph, {}, supportOf(other, 1.0)), other);
    EXPECT_TRUE(tourOfSolution(graph, {}, {}).empty());
}

// Where the arcs to join the paths are missing, no tour rather than one with
// an arc the graph lacks.
TEST(SupportTour, AJoinOverAMissingArcGivesNoTour) {
    // Two 2-cycles and no arc between them: the support's paths cannot meet.
    const Graph graph = Graph::fromRows({{1}, {0}, {3}, {2}}, {{1}, {1}, {1}, {1}});
    EXPECT_TRUE(tourFromSupport(graph, supportOf({1, 0, 3, 2}, 0.5)).empty());
}

}  // namespace

}  // namespace atsp
