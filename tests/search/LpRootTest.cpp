// The LP root on its own: its bound never passes the optimum, the graph it
// leaves the tree keeps every tour cheaper than the incumbent (forced arcs
// included), and a root out of time builds nothing and claims nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "graph/Tour.h"
#include "lp/CutPool.h"
#include "search/LpRoot.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::Matrix;
using testing_support::Tour;

// Whether the tree graph holds every arc of `tour` and the root's forced
// arcs all lie on it.
bool keeps(const LpRoot& root, const Tour& tour) {
    for (Node tail = 0; tail < tour.successors.size(); ++tail) {
        if (root.treeGraph.arcPosition(tail, tour.successors[tail]) == NoNode) {
            return false;
        }
    }
    for (const auto& [tail, head] : root.forced) {
        if (tour.successors[tail] != head) {
            return false;
        }
    }
    return true;
}

TEST(LpRoot, TheTreeGraphKeepsEveryTourCheaperThanTheIncumbent) {
    int treesChecked = 0;
    for (std::uint64_t seed = 0; seed < 60; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 5 + static_cast<int>(seed % 5);
        const Matrix matrix = seed % 3 == 0 ? testing_support::tiltedSymmetricMatrix(random, n)
                                            : testing_support::randomMatrix(random, n, 0, 9);
        const testing_support::Rows rows = testing_support::completeRows(matrix);
        const Graph graph = rows.graph();
        const std::vector<Tour> tours = testing_support::allTours(rows);
        const std::int64_t optimum = testing_support::heldKarpOptimum(matrix);
        SCOPED_TRACE("seed " + std::to_string(seed));
        // Incumbents at the optimum and above it: fixing drops only arcs on
        // no tour cheaper than the incumbent. Roots cut short after a round
        // or two leave trees on graphs this small.
        for (const std::int64_t incumbent : {optimum, optimum + 1, optimum + 40}) {
            CuttingPlaneOptions options;
            options.maxRounds = 1 + static_cast<int>(seed % 3);
            CutPool pool(graph.cityCount());
            const LpRoot root = solveLpRoot(graph, {}, incumbent, pool, options,
                                            LpRelaxation::Clock::time_point::max());
            ASSERT_LE(root.bound, optimum);
            if (!root.tour.empty()) {
                EXPECT_EQ(tourCost(graph, root.tour), root.tourCost);
                EXPECT_LT(root.tourCost, incumbent);
                if (root.status == CuttingPlaneStatus::Solved) {
                    EXPECT_EQ(root.tourCost, optimum);  // an integral LP optimum is optimal
                }
            }
            if (root.treeGraph.cityCount() == 0) {
                continue;  // no tree: the root's bound reached the best tour
            }
            ++treesChecked;
            const std::int64_t upper = root.tour.empty() ? incumbent : root.tourCost;
            for (const Tour& tour : tours) {
                if (tour.cost < upper) {
                    EXPECT_TRUE(keeps(root, tour)) << "a tour of cost " << tour.cost;
                }
            }
            for (const LpArc& column : root.columns) {
                EXPECT_LT(column.position, root.treeGraph.rowLength(column.tail));
            }
        }
    }
    EXPECT_GT(treesChecked, 10);  // the certificate above looked at real trees
}

// Past the deadline, or asked to stop, before it starts: no LP is built (its
// set-up alone is passes over every arc), no cut found, and the bound claims
// nothing: the lowest value, not InfeasibleBound.
TEST(LpRoot, ARootOutOfTimeBuildsNothingAndClaimsNothing) {
    std::mt19937_64 random(4);
    const Graph graph =
        testing_support::completeGraph(testing_support::randomMatrix(random, 9, 0, 99));
    for (const bool byRequest : {false, true}) {
        SCOPED_TRACE(byRequest ? "stop request" : "deadline");
        const std::atomic<bool> stop{byRequest};
        CutPool pool(graph.cityCount());
        const LpRoot root =
            solveLpRoot(graph, {}, InfeasibleBound, pool, CuttingPlaneOptions{},
                        byRequest ? LpRelaxation::Clock::time_point::max()
                                  : LpRelaxation::Clock::now() - std::chrono::seconds(1),
                        &stop);
        EXPECT_EQ(root.status, CuttingPlaneStatus::Stopped);
        EXPECT_EQ(root.bound, std::numeric_limits<std::int64_t>::min());
        EXPECT_TRUE(root.tour.empty() && root.support.empty() && root.columns.empty());
        EXPECT_EQ(root.treeGraph.cityCount(), 0u);
        EXPECT_EQ(pool.size(), 0u);
    }
}

}  // namespace

}  // namespace atsp
