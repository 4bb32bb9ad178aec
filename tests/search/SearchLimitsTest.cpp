// Time limits and progress reports, the same battery over both searches: what a
// stopped search or a report claims must never exceed what has been proven.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "search/balasChristofides.h"
#include "search/balasChristofidesParallel.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeGraph;
using testing_support::Graph;
using testing_support::heldKarpOptimum;
using testing_support::isSingleCycle;
using testing_support::Matrix;
using testing_support::randomMatrix;

using Search = TourResult (*)(const SuccessorLists&, const ArcCosts&, const std::vector<Node>*,
                              SearchStatistics*, const SearchOptions*);

struct NamedSearch {
    const char* name;
    Search search;
};

void PrintTo(const NamedSearch& search, std::ostream* out) {
    *out << search.name;
}

class SearchLimits : public testing::TestWithParam<NamedSearch> {};

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

TEST_P(SearchLimits, ASearchOutOfTimeAtOnceReturnsTheStartingTourAndTheRootBound) {
    const Matrix matrix = symmetricInstance(7, 11);
    const Graph graph = completeGraph(matrix);
    SearchOptions options;
    options.timeLimitSeconds = 1e-9;
    const TourResult result =
        GetParam().search(graph.successors, graph.costs, nullptr, nullptr, &options);
    const std::int64_t optimum = heldKarpOptimum(matrix);
    EXPECT_TRUE(result.stoppedAtTimeLimit);
    EXPECT_TRUE(isSingleCycle(result.tour));
    EXPECT_EQ(result.cost, testing_support::tourCost(matrix, result.tour));
    EXPECT_LE(result.lowerBound, optimum);
    EXPECT_GE(result.cost, optimum);
    EXPECT_GT(result.cost, optimum) << "the instance is meant to need a search";
}

TEST_P(SearchLimits, ProgressReportsNeverClaimMoreThanIsProvenAndTheLastOneIsFinal) {
    omp_set_num_threads(2);
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        const Matrix matrix = symmetricInstance(seed, 12);
        const Graph graph = completeGraph(matrix);
        const std::int64_t optimum = heldKarpOptimum(matrix);
        std::vector<SearchProgress> reports;
        SearchOptions options;
        options.progressIntervalSeconds = 1e-9;  // a report at every chance
        options.progress = [&reports](const SearchProgress& progress) {
            reports.push_back(progress);
        };
        const TourResult result =
            GetParam().search(graph.successors, graph.costs, nullptr, nullptr, &options);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        ASSERT_FALSE(reports.empty());
        for (const SearchProgress& progress : reports) {
            EXPECT_LE(progress.lowerBound, optimum);
            EXPECT_GE(progress.bestCost, optimum);
            EXPECT_LE(progress.lowerBound, progress.bestCost);
        }
        EXPECT_FALSE(result.stoppedAtTimeLimit);
        EXPECT_EQ(result.cost, optimum);
        EXPECT_EQ(result.lowerBound, optimum);
        EXPECT_EQ(reports.back().bestCost, optimum);
        EXPECT_EQ(reports.back().lowerBound, optimum);
    }
}

// With room for only a few open nodes the search goes depth-first almost at
// once; any order of expansion must still end at the optimum.
TEST_P(SearchLimits, ASearchWithRoomForFewOpenNodesStillEndsAtTheOptimum) {
    omp_set_num_threads(2);
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const Matrix matrix = symmetricInstance(seed, 11);
        const Graph graph = completeGraph(matrix);
        SearchOptions options;
        options.openNodeMemory = 3 * estimatedNodeBytes(11);
        SearchStatistics statistics;
        const TourResult result =
            GetParam().search(graph.successors, graph.costs, nullptr, &statistics, &options);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        EXPECT_EQ(result.cost, heldKarpOptimum(matrix));
        EXPECT_TRUE(isSingleCycle(result.tour));
    }
}

INSTANTIATE_TEST_SUITE_P(BothSearches, SearchLimits,
                         testing::Values(NamedSearch{"serial", balasChristofides},
                                         NamedSearch{"parallel", balasChristofidesParallel}),
                         [](const testing::TestParamInfo<NamedSearch>& info) {
                             return info.param.name;
                         });

}  // namespace

}  // namespace atsp
