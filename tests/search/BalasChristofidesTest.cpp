#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "search/balasChristofides.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeGraph;
using testing_support::constantMatrix;
using testing_support::Graph;
using testing_support::heldKarpOptimum;
using testing_support::isSingleCycle;
using testing_support::Matrix;
using testing_support::randomMatrix;
using testing_support::randomTour;

struct SearchRun {
    TourResult result;
    SearchStatistics statistics;
};

// The search as first built, unless other options are given.
SearchRun search(const Matrix& matrix, const std::vector<Node>* startTour = nullptr,
                 const SearchOptions& options = SearchOptions::described()) {
    const Graph graph = completeGraph(matrix);
    SearchRun run;
    run.result =
        balasChristofides(graph.successors, graph.costs, startTour, &run.statistics, &options);
    return run;
}

// The search's own starting tour 0, 1, ..., n-1, 0.
std::vector<Node> defaultTour(int n) {
    std::vector<Node> tour(n);
    for (int i = 0; i < n; ++i) {
        tour[i] = static_cast<Node>((i + 1) % n);
    }
    return tour;
}

// ---- Edge cases ----

TEST(BalasChristofides, ZeroCitiesGiveAnEmptyTourOfCostZeroWithoutANode) {
    const SearchRun run = search({});
    EXPECT_TRUE(run.result.tour.empty());
    EXPECT_EQ(run.result.cost, 0);
    EXPECT_EQ(run.statistics.nodesCreated, 0);
}

TEST(BalasChristofides, OneCityGivesTheLoneCityAsTourOfCostZero) {
    const SearchRun run = search({{-1}});
    EXPECT_EQ(run.result.tour, std::vector<Node>{0});
    EXPECT_EQ(run.result.cost, 0);
    // The root has no arc at all: infeasible, pruned at once.
    EXPECT_EQ(run.statistics.nodesCreated, 1);
    EXPECT_EQ(run.statistics.nodesExpanded, 0);
}

TEST(BalasChristofides, TwoCitiesGiveTheOnlyTourWithBothArcsCost) {
    const SearchRun run = search({{-1, 4}, {9, -1}});
    EXPECT_EQ(run.result.tour, (std::vector<Node>{1, 0}));
    EXPECT_EQ(run.result.cost, 13);
}

TEST(BalasChristofides, ThreeCitiesFindTheCheaperReverseTour) {
    // 0 -> 1 -> 2 -> 0 costs 30; 0 -> 2 -> 1 -> 0 costs 3.
    const SearchRun run = search({{-1, 10, 1}, {1, -1, 10}, {10, 1, -1}});
    EXPECT_EQ(run.result.tour, (std::vector<Node>{2, 0, 1}));
    EXPECT_EQ(run.result.cost, 3);
}

TEST(BalasChristofides, ARootAssignmentThatIsATourEndsTheSearchWithoutBranching) {
    // The cheap arcs form the tour 0 -> 2 -> 4 -> 1 -> 3 -> 0.
    Matrix matrix = constantMatrix(5, 100);
    matrix[0][2] = matrix[2][4] = matrix[4][1] = matrix[1][3] = matrix[3][0] = 1;
    const SearchRun run = search(matrix);
    EXPECT_EQ(run.result.tour, (std::vector<Node>{2, 3, 4, 0, 1}));
    EXPECT_EQ(run.result.cost, 5);
    EXPECT_EQ(run.statistics.nodesCreated, 1);
    EXPECT_EQ(run.statistics.nodesExpanded, 0);
    EXPECT_EQ(run.statistics.mostOpenNodes, 0);
}

TEST(BalasChristofides, AnOptimalStartingTourIsKeptAgainstEquallyCheapTours) {
    // Every tour costs 42, so nothing may replace the given one.
    const std::vector<Node> givenTour = {3, 5, 4, 1, 0, 2};
    const SearchRun run = search(constantMatrix(6, 7), &givenTour);
    EXPECT_EQ(run.result.tour, givenTour);
    EXPECT_EQ(run.result.cost, 42);
}

TEST(BalasChristofides, AnOptimalDefaultStartingTourIsKept) {
    Matrix matrix = constantMatrix(6, 20);
    for (int i = 0; i < 6; ++i) {
        matrix[i][(i + 1) % 6] = 3;
    }
    matrix[0][2] = matrix[2][1] = 3;  // cheap arcs that form no cheaper tour
    const SearchRun run = search(matrix);
    EXPECT_EQ(run.result.tour, (std::vector<Node>{1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(run.result.cost, 18);
}

TEST(BalasChristofides, AGivenStartingTourIsImprovedOnlyByACheaperTour) {
    std::mt19937_64 random(11);
    const Matrix matrix = randomMatrix(random, 8, 0, 100);
    const std::vector<Node> givenTour = {7, 0, 1, 2, 3, 4, 5, 6};
    const SearchRun run = search(matrix, &givenTour);
    EXPECT_EQ(run.result.cost, heldKarpOptimum(matrix));
    EXPECT_TRUE(isSingleCycle(run.result.tour));
}

TEST(BalasChristofides, ANegativeStartingTourStopsWithCostMinusOneBeforeAnyNode) {
    const SearchRun run = search(constantMatrix(4, -1));
    EXPECT_EQ(run.result.cost, -1);
    EXPECT_EQ(run.result.tour, (std::vector<Node>{1, 2, 3, 0}));
    EXPECT_EQ(run.statistics.nodesCreated, 0);
    EXPECT_EQ(run.statistics.nodesExpanded, 0);
}

TEST(BalasChristofides, ANegativeRootBoundStopsWithCostMinusOneAndTheStartingTour) {
    // The starting tour costs 0, but the assignment 0 <-> 1, 2 <-> 3 costs -10.
    Matrix matrix = constantMatrix(4, 0);
    matrix[1][0] = -10;
    const SearchRun run = search(matrix);
    EXPECT_EQ(run.result.cost, -1);
    EXPECT_EQ(run.result.tour, (std::vector<Node>{1, 2, 3, 0}));
    EXPECT_EQ(run.statistics.nodesCreated, 1);
    EXPECT_EQ(run.statistics.nodesExpanded, 0);
}

TEST(BalasChristofides, StatisticsAreOptional) {
    const Graph graph = completeGraph({{-1, 10, 1}, {1, -1, 10}, {10, 1, -1}});
    EXPECT_EQ(balasChristofides(graph.successors, graph.costs, nullptr).cost, 3);
}

// ---- The returned tour is a cheapest one ----

struct CostRange {
    std::string name;
    std::int32_t lowest;
    std::int32_t highest;
    bool randomStartingTour;
    bool mostNeedASearch;  // most instances' optimum beats the starting tour
};

void PrintTo(const CostRange& range, std::ostream* out) {
    *out << range.name;
}

class BalasChristofidesOptimum
    : public ::testing::TestWithParam<std::tuple<CostRange, testing_support::SearchVariant>> {};

TEST_P(BalasChristofidesOptimum, ReturnsACheapestSingleCycleWhoseArcsSumToItsCost) {
    const auto& [range, variant] = GetParam();
    const int seedsPerSize = 12;
    int improvedOnStart = 0;
    for (int n = 1; n <= 11; ++n) {
        for (int seed = 0; seed < seedsPerSize; ++seed) {
            std::mt19937_64 random(static_cast<std::uint64_t>(n * 1000 + seed));
            const Matrix matrix = randomMatrix(random, n, range.lowest, range.highest);
            std::vector<Node> givenTour;
            if (range.randomStartingTour) {
                givenTour = randomTour(random, n);
            }
            const SearchRun run =
                search(matrix, range.randomStartingTour ? &givenTour : nullptr, variant.options);
            const TourResult& result = run.result;
            const std::int64_t optimum = heldKarpOptimum(matrix);

            SCOPED_TRACE("n " + std::to_string(n) + ", seed " + std::to_string(seed));
            ASSERT_EQ(result.tour.size(), static_cast<std::size_t>(n));
            ASSERT_TRUE(isSingleCycle(result.tour));
            ASSERT_EQ(testing_support::tourCost(matrix, result.tour), result.cost);
            ASSERT_EQ(result.cost, optimum);
            const std::vector<Node> startTour =
                range.randomStartingTour ? givenTour : defaultTour(n);
            if (optimum < testing_support::tourCost(matrix, startTour)) {
                ++improvedOnStart;
            }
        }
    }
    // Most instances must need the search to beat the starting tour, or the
    // check above proves little.
    if (range.mostNeedASearch) {
        EXPECT_GE(improvedOnStart, 11 * seedsPerSize / 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CostRanges, BalasChristofidesOptimum,
    ::testing::Combine(::testing::Values(CostRange{"Wide", 0, 1000000, false, true},
                                         CostRange{"TieHeavy", 0, 3, false, true},
                                         CostRange{"ZeroOne", 0, 1, false, false},
                                         CostRange{"AllEqual", 5, 5, false, false},
                                         CostRange{"Narrow", 0, 20, false, true},
                                         CostRange{"WideFromRandomTour", 0, 1000000, true, true},
                                         CostRange{"TieHeavyFromRandomTour", 0, 3, true, true}),
                       ::testing::ValuesIn(testing_support::searchVariants())),
    [](const auto& info) { return std::get<0>(info.param).name + std::get<1>(info.param).name; });

// Negative costs (where the serial search may stop with -1 on a negative
// bound) and graphs with missing arcs (where there may be no tour at all, and
// the starting tour's missing arcs add nothing) must give every variant the
// same answer, and where a tour exists and nothing is negative, the optimum.
TEST(BalasChristofides, EveryVariantGivesTheSameAnswerOnNegativeCostsAndMissingArcs) {
    const auto& variants = testing_support::searchVariants();
    for (std::uint64_t seed = 0; seed < 300; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 2 + static_cast<int>(seed % 8);
        const bool negative = seed % 2 == 0;
        Matrix matrix = randomMatrix(random, n, negative ? -40 : 0, 100);
        Graph graph = completeGraph(matrix);
        if (!negative) {
            // Drop about half the arcs, but keep 0 -> 1 -> ... -> 0 in every
            // third graph, so that some graphs have a tour and some none.
            std::bernoulli_distribution drop(0.5);
            for (Node i = 0; i < n; ++i) {
                for (std::size_t k = graph.successors[i].size(); k-- > 0;) {
                    const bool onKeptTour = seed % 3 == 0 && graph.successors[i][k] == (i + 1) % n;
                    if (!onKeptTour && drop(random)) {
                        graph.successors[i].erase(graph.successors[i].begin() + k);
                        graph.costs[i].erase(graph.costs[i].begin() + k);
                    }
                }
            }
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n));
        const TourResult described = balasChristofides(graph.successors, graph.costs, nullptr,
                                                       nullptr, &variants[0].options);
        for (const auto& variant : variants) {
            const TourResult result = balasChristofides(graph.successors, graph.costs, nullptr,
                                                        nullptr, &variant.options);
            EXPECT_EQ(result.cost, described.cost) << variant.name;
        }
        if (negative && described.cost >= 0) {
            EXPECT_EQ(described.cost, heldKarpOptimum(matrix));
        }
    }
}

// ---- The same tree, node for node ----

// Searches recorded on fixed instances: the cost, the node counts and a hash of
// the tour returned. A change in cost, tour or created or expanded nodes means
// that a bound, a tie-break or the order of the open nodes changed, not just
// the speed: a faster search must make exactly the same tree. (The assignment
// solver's tie-breaks take part.) The most open nodes may only go down, when
// hopeless nodes are released sooner.
struct RecordedSearch {
    int n;
    std::int32_t highestCost;
    std::uint64_t seed;
    std::int64_t cost;
    std::int64_t nodesCreated;
    std::int64_t nodesExpanded;
    std::int64_t mostOpenNodes;
    std::uint64_t tourHash;
};

const RecordedSearch recordedSearches[] = {
    {40, 1000000, 1, 2212386, 119, 48, 13, 0xdd97a05788973725ull},
    {40, 1000000, 2, 1506728, 41, 25, 10, 0x1de0f32d894fa425ull},
    {40, 1000000, 3, 1656680, 7, 2, 1, 0x5f865b312470e535ull},
    {70, 1000000, 1, 1747372, 9, 6, 4, 0x0ba368e7f235c3daull},
    {70, 1000000, 2, 1742052, 28, 16, 10, 0xdfa64e9ec31a9682ull},
    {70, 1000000, 3, 1590657, 36, 23, 14, 0x10f8310c274f9c24ull},
    {100, 1000000, 1, 1829588, 155, 64, 32, 0x787a4a4519b15771ull},
    {100, 1000000, 2, 1445641, 33, 14, 6, 0xc2dc0ea15c7fc8abull},
    {100, 1000000, 3, 1653460, 214, 39, 11, 0x2722284ff9dbef6bull},
    {130, 1000000, 1, 1781533, 16, 10, 4, 0xe62bd0077723aa54ull},
    {130, 1000000, 2, 1647796, 293, 57, 20, 0xdb648a17f7d1f82eull},
    {130, 1000000, 3, 1623880, 1, 0, 0, 0x6f432ef5b4433ea8ull},
    {14, 3, 1, 0, 6, 5, 2, 0x415709e37a9de45eull},
    {14, 3, 2, 1, 4, 3, 3, 0x4704ee21ddcf746aull},
    {14, 3, 3, 1, 5, 4, 3, 0x54360e4114886c6cull},
    {20, 3, 1, 0, 2, 1, 1, 0x18351a230d016811ull},
    {20, 3, 2, 0, 1, 0, 0, 0x58dce5c2dd540143ull},
    {20, 3, 3, 0, 4, 3, 2, 0xd2b8fd58bbfd803bull},
    {30, 3, 1, 0, 4, 3, 3, 0x0bd3a77c659ad52aull},
    {30, 3, 2, 0, 9, 8, 6, 0x6c13c305e95ef4daull},
    {30, 3, 3, 0, 3, 2, 2, 0x270a6161fce7b11eull},
    {25, 20, 1, 31, 9, 3, 2, 0x7ddbf1e85ad96cebull},
    {25, 20, 2, 23, 5, 4, 3, 0xfa286f177f31e8c7ull},
    {25, 20, 3, 18, 1, 0, 0, 0xbe1c0eafb3c0093dull},
};

std::uint64_t tourHash(const std::vector<Node>& tour) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a over the successor entries
    for (Node successor : tour) {
        hash ^= successor;
        hash *= 1099511628211ull;
    }
    return hash;
}

TEST(BalasChristofides, TheSearchAsFirstBuiltKeepsItsRecordedTreeOnFixedInstances) {
    for (const RecordedSearch& recorded : recordedSearches) {
        std::mt19937_64 random(recorded.seed);
        const Matrix matrix = randomMatrix(random, recorded.n, 0, recorded.highestCost);
        const SearchRun run = search(matrix);
        SCOPED_TRACE("n " + std::to_string(recorded.n) + ", costs 0.." +
                     std::to_string(recorded.highestCost) + ", seed " +
                     std::to_string(recorded.seed));
        EXPECT_EQ(run.result.cost, recorded.cost);
        EXPECT_EQ(run.statistics.nodesCreated, recorded.nodesCreated);
        EXPECT_EQ(run.statistics.nodesExpanded, recorded.nodesExpanded);
        EXPECT_EQ(run.statistics.mostOpenNodes, recorded.mostOpenNodes);
        EXPECT_EQ(tourHash(run.result.tour), recorded.tourHash);
        EXPECT_TRUE(isSingleCycle(run.result.tour));
    }
}

}  // namespace

}  // namespace atsp
