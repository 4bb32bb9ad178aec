// Time limits and progress reports, one battery over every variant: what a
// stopped search or a report claims must never exceed what has been proven.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "graph/Tour.h"
#include "search/SearchEngine.h"
#include "search/Subproblem.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeGraph;
using testing_support::heldKarpOptimum;
using testing_support::isSingleCycle;
using testing_support::Matrix;
using testing_support::randomMatrix;

class SearchLimits : public testing::TestWithParam<testing_support::SearchVariant> {};

// Symmetric costs: every 2-cycle is an assignment, so the trees are deep
// enough that no search ends before its first expansion.
Matrix symmetricInstance(std::uint64_t seed, int n) {
    std::mt19937_64 random(seed);
    Matrix matrix = randomMatrix(random, n, 0, 1000);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < i; ++j) {
            matrix[i][j] = matrix[j][i];
        }
    }
    return matrix;
}

// Out of time at once, or told to stop before it began: the search returns
// the tour it started from and a bound it has proven, on either side of the
// optimum.
TEST_P(SearchLimits, ASearchStoppedAtOnceReturnsItsStartingTourAndAProvenBound) {
    const Matrix matrix = symmetricInstance(7, 11);
    const Graph graph = completeGraph(matrix);
    const std::int64_t optimum = heldKarpOptimum(matrix);
    const std::atomic<bool> stop{true};
    for (const bool byRequest : {false, true}) {
        SearchOptions options = GetParam().options;
        if (byRequest) {
            options.stopRequested = &stop;
        } else {
            options.timeLimitSeconds = 1e-9;
        }
        const TourResult result = searchTour(graph, options);
        SCOPED_TRACE(byRequest ? "stop request" : "time limit");
        EXPECT_TRUE(result.stopped);
        EXPECT_TRUE(isSingleCycle(result.tour));
        EXPECT_EQ(result.cost, testing_support::tourCost(matrix, result.tour));
        EXPECT_LE(result.lowerBound, optimum);
        EXPECT_GE(result.cost, optimum);
        EXPECT_GT(result.cost, optimum) << "the instance is meant to need a search";
    }
}

// Stopped before its root is solved (the fast search solves it in passes
// that look at the stop every few hundred rows), a search still reports a
// proven bound: the sum of each city's cheapest arc.
TEST(SearchLimitsAtTheRoot, AStopBeforeTheRootIsSolvedReportsTheCheapestArcsBound) {
    std::mt19937_64 random(5);
    const Matrix matrix = randomMatrix(random, 600, 0, 1000000);
    std::int64_t cheapestArcs = 0;
    for (int i = 0; i < 600; ++i) {
        std::int32_t least = std::numeric_limits<std::int32_t>::max();
        for (int j = 0; j < 600; ++j) {
            least = i == j ? least : std::min(least, matrix[i][j]);
        }
        cheapestArcs += least;
    }
    const std::atomic<bool> stop{true};
    SearchOptions options;
    options.stopRequested = &stop;
    const TourResult result = searchTour(completeGraph(matrix), options);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.lowerBound, cheapestArcs);
    EXPECT_EQ(result.tour, defaultTour(600));
    EXPECT_EQ(result.cost, testing_support::tourCost(matrix, result.tour));
}

// A stop requested while the search runs (here by its own progress report,
// as a caller's thread would) ends it wherever it is, bound or tree, with a
// tour it can vouch for and a bound it has proven.
TEST_P(SearchLimits, AStopRequestedMidwayEndsWithAValidTourAndAProvenBound) {
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        for (const int reportsBeforeStop : {1, 3, 20}) {
            const Matrix matrix = symmetricInstance(seed, 12);
            const std::int64_t optimum = heldKarpOptimum(matrix);
            std::atomic<bool> stop{false};
            std::atomic<int> reports{0};
            SearchOptions options = GetParam().options;
            options.stopRequested = &stop;
            options.progressIntervalSeconds = 1e-9;
            options.progress = [&](const SearchProgress&) {
                if (++reports >= reportsBeforeStop) {
                    stop = true;
                }
            };
            const TourResult result = searchTour(completeGraph(matrix), options);
            SCOPED_TRACE(testing::Message()
                         << "seed " << seed << ", stop at report " << reportsBeforeStop);
            EXPECT_TRUE(isSingleCycle(result.tour));
            EXPECT_EQ(result.cost, testing_support::tourCost(matrix, result.tour));
            EXPECT_LE(result.lowerBound, optimum);
            EXPECT_GE(result.cost, optimum);
            if (!result.stopped) {
                EXPECT_EQ(result.cost, optimum);
            }
        }
    }
}

TEST_P(SearchLimits, ProgressReportsNeverClaimMoreThanIsProvenAndTheLastOneIsFinal) {
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        const Matrix matrix = symmetricInstance(seed, 12);
        const Graph graph = completeGraph(matrix);
        const std::int64_t optimum = heldKarpOptimum(matrix);
        std::vector<SearchProgress> reports;
        SearchOptions options = GetParam().options;
        options.progressIntervalSeconds = 1e-9;  // a report at every chance
        options.progress = [&reports](const SearchProgress& progress) {
            reports.push_back(progress);
        };
        const TourResult result = searchTour(graph, options);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        ASSERT_FALSE(reports.empty());
        for (const SearchProgress& progress : reports) {
            EXPECT_LE(progress.lowerBound, optimum);
            EXPECT_GE(progress.bestCost, optimum);
            EXPECT_LE(progress.lowerBound, progress.bestCost);
        }
        EXPECT_FALSE(result.stopped);
        EXPECT_EQ(result.cost, optimum);
        EXPECT_EQ(result.lowerBound, optimum);
        EXPECT_EQ(reports.back().bestCost, optimum);
        EXPECT_EQ(reports.back().lowerBound, optimum);
    }
}

// With room for only a few open nodes the search goes depth-first almost at
// once; any order of expansion must still end at the optimum.
TEST_P(SearchLimits, ASearchWithRoomForFewOpenNodesStillEndsAtTheOptimum) {
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const Matrix matrix = symmetricInstance(seed, 11);
        const Graph graph = completeGraph(matrix);
        SearchOptions options = GetParam().options;
        options.openNodeMemory = 3 * estimatedNodeBytes(11);
        const TourResult result = searchTour(graph, options);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        EXPECT_EQ(result.cost, heldKarpOptimum(matrix));
        EXPECT_TRUE(isSingleCycle(result.tour));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, SearchLimits,
                         testing::ValuesIn(testing_support::searchVariants()),
                         [](const auto& info) { return info.param.name; });

}  // namespace

}  // namespace atsp
