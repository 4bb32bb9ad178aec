// The search on every variant (the search as first built and the fast one, on
// one thread and on teams): a cheapest tour, certified against an independent
// Held-Karp reference, on ties, negative costs, missing arcs and costs by
// which every tour costs what its reverse does (or all but one); the rules
// for the starting tour; and, for the search as first built on one thread,
// the very trees it always made.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "graph/Tour.h"
#include "search/SearchEngine.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeGraph;
using testing_support::constantMatrix;
using testing_support::heldKarpOptimum;
using testing_support::isSingleCycle;
using testing_support::Matrix;
using testing_support::randomMatrix;
using testing_support::randomTour;
using testing_support::SearchVariant;

struct SearchRun {
    TourResult result;
    SearchStatistics statistics;
};

SearchRun search(const Matrix& matrix, const SearchOptions& options,
                 const std::vector<Node>* startTour = nullptr) {
    SearchRun run;
    run.result = searchTour(completeGraph(matrix), options, startTour, &run.statistics);
    return run;
}

// Symmetric costs make assignments full of 2-cycles, so the trees grow deep
// and wide: work to share between threads.
Matrix symmetricMatrix(std::mt19937_64& random, int n, std::int32_t lowest, std::int32_t highest) {
    Matrix matrix = randomMatrix(random, n, lowest, highest);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < i; ++j) {
            matrix[i][j] = matrix[j][i];
        }
    }
    return matrix;
}

// ---- The rules of the search, on every variant ----

class SearchRules : public testing::TestWithParam<SearchVariant> {
  protected:
    SearchRun run(const Matrix& matrix, const std::vector<Node>* startTour = nullptr) {
        return search(matrix, GetParam().options, startTour);
    }
};

TEST_P(SearchRules, ZeroOneAndTwoCitiesGiveTheOnlyTour) {
    const SearchRun none = run({});
    EXPECT_TRUE(none.result.tour.empty());
    EXPECT_EQ(none.result.cost, 0);
    EXPECT_EQ(none.statistics.nodesCreated, 0);

    // One city has no arc: its root is infeasible and pruned at once.
    const SearchRun one = run({{-1}});
    EXPECT_EQ(one.result.tour, std::vector<Node>{0});
    EXPECT_EQ(one.result.cost, 0);
    EXPECT_EQ(one.statistics.nodesCreated, 1);
    EXPECT_EQ(one.statistics.nodesExpanded, 0);

    const SearchRun two = run({{-1, 4}, {9, -1}});
    EXPECT_EQ(two.result.tour, (std::vector<Node>{1, 0}));
    EXPECT_EQ(two.result.cost, 13);
}

TEST_P(SearchRules, ThreeCitiesFindTheCheaperReverseTour) {
    // 0 -> 1 -> 2 -> 0 costs 30; 0 -> 2 -> 1 -> 0 costs 3.
    const SearchRun three = run({{-1, 10, 1}, {1, -1, 10}, {10, 1, -1}});
    EXPECT_EQ(three.result.tour, (std::vector<Node>{2, 0, 1}));
    EXPECT_EQ(three.result.cost, 3);
}

TEST_P(SearchRules, ARootAssignmentThatIsATourEndsTheSearchWithoutBranching) {
    // The cheap arcs form the tour 0 -> 2 -> 4 -> 1 -> 3 -> 0.
    Matrix matrix = constantMatrix(5, 100);
    matrix[0][2] = matrix[2][4] = matrix[4][1] = matrix[1][3] = matrix[3][0] = 1;
    const SearchRun root = run(matrix);
    EXPECT_EQ(root.result.tour, (std::vector<Node>{2, 3, 4, 0, 1}));
    EXPECT_EQ(root.result.cost, 5);
    EXPECT_EQ(root.statistics.nodesCreated, 1);
    EXPECT_EQ(root.statistics.nodesExpanded, 0);
    EXPECT_EQ(root.statistics.mostOpenNodes, 0);
}

TEST_P(SearchRules, AnOptimalStartingTourIsKeptAgainstEquallyCheapTours) {
    // Every tour costs 42, so nothing may replace the given one.
    const std::vector<Node> givenTour = {3, 5, 4, 1, 0, 2};
    const SearchRun given = run(constantMatrix(6, 7), &givenTour);
    EXPECT_EQ(given.result.tour, givenTour);
    EXPECT_EQ(given.result.cost, 42);

    Matrix matrix = constantMatrix(6, 20);
    for (int i = 0; i < 6; ++i) {
        matrix[i][(i + 1) % 6] = 3;
    }
    matrix[0][2] = matrix[2][1] = 3;  // cheap arcs that form no cheaper tour
    const SearchRun byDefault = run(matrix);
    EXPECT_EQ(byDefault.result.tour, (std::vector<Node>{1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(byDefault.result.cost, 18);
}

TEST_P(SearchRules, ANegativeStartingTourStopsWithCostMinusOneBeforeAnyNode) {
    const SearchRun byDefault = run(constantMatrix(4, -1));
    EXPECT_EQ(byDefault.result.cost, -1);
    EXPECT_TRUE(byDefault.result.negativeStart);
    EXPECT_EQ(byDefault.result.tour, (std::vector<Node>{1, 2, 3, 0}));
    EXPECT_EQ(byDefault.statistics.nodesCreated, 0);

    Matrix matrix = constantMatrix(4, 5);
    matrix[0][2] = matrix[2][3] = matrix[3][1] = matrix[1][0] = -6;
    const std::vector<Node> givenTour = {2, 0, 3, 1};
    const SearchRun given = run(matrix, &givenTour);
    EXPECT_EQ(given.result.cost, -1);
    EXPECT_EQ(given.result.tour, givenTour);
}

// A negative bound is a bound like any other: the search goes on to the
// optimum, negative or not. (The root of this matrix is the assignment
// 0 <-> 1, 2 <-> 3 of cost -96; the optimum is 50.)
TEST_P(SearchRules, NegativeBoundsNeverStopTheSearch) {
    const Matrix matrix = {
        {-1, -100, 50, 50}, {-100, -1, 50, 50}, {50, 50, -1, 50}, {50, 50, 50, -1}};
    EXPECT_EQ(run(matrix).result.cost, 50);

    for (std::uint64_t seed = 0; seed < 40; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 3 + static_cast<int>(seed % 8);
        Matrix negative = randomMatrix(random, n, -40, 20);
        for (int i = 0; i < n; ++i) {
            negative[i][(i + 1) % n] = 50;  // the starting tour costs 50 n
        }
        const SearchRun searched = run(negative);
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_FALSE(searched.result.negativeStart);
        EXPECT_EQ(searched.result.cost, heldKarpOptimum(negative));
        EXPECT_EQ(testing_support::tourCost(negative, searched.result.tour), searched.result.cost);
    }
}

// Graphs with missing arcs: a tour only over arcs that exist, and none where
// none exists; a starting tour with a missing arc is no tour.
TEST_P(SearchRules, MissingArcsAreNeverUsedAndAGraphWithoutATourGivesNone) {
    int withoutTour = 0;
    for (std::uint64_t seed = 0; seed < 150; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 2 + static_cast<int>(seed % 8);
        testing_support::Rows rows =
            testing_support::completeRows(randomMatrix(random, n, seed % 2 == 0 ? -30 : 0, 100));
        std::bernoulli_distribution drop(seed % 3 == 0 ? 0.7 : 0.4);
        for (int i = 0; i < n; ++i) {
            for (std::size_t k = rows.heads[i].size(); k-- > 0;) {
                if (drop(random)) {
                    rows.heads[i].erase(rows.heads[i].begin() + k);
                    rows.costs[i].erase(rows.costs[i].begin() + k);
                }
            }
        }
        const Graph graph = rows.graph();
        const std::int64_t optimum = heldKarpOptimum(rows);
        const TourResult result = searchTour(graph, GetParam().options);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n));
        if (result.negativeStart) {
            continue;
        }
        ASSERT_EQ(result.cost, optimum);
        if (optimum == InfeasibleBound) {
            ++withoutTour;
            EXPECT_TRUE(result.tour.empty());
        } else {
            EXPECT_TRUE(isSingleCycle(result.tour));
            EXPECT_EQ(tourCost(graph, result.tour), optimum);
        }
    }
    EXPECT_GT(withoutTour, 10) << "the battery is meant to hold graphs without a tour";
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, SearchRules,
                         testing::ValuesIn(testing_support::searchVariants()),
                         [](const auto& info) { return info.param.name; });

// ---- The returned tour is a cheapest one ----

enum class Shape {
    Random,
    Symmetric,
    // Symmetric costs from the range plus q(j) - q(i), q drawn from [0, 1000]:
    // every tour costs what its reverse does, yet no arc costs what its
    // reverse does, so only potentials show it (graph/Reversal.h). The LP
    // tree then branches on edges and leaves out mirrored children.
    Tilted,
    // The same with one arc one dearer: a tour through it costs one more
    // than its reverse, and a search that took the costs for reversible
    // could drop the orientation that is the only optimum.
    TiltedButOneArc,
};

struct CostRange {
    std::string name;
    std::int32_t lowest;
    std::int32_t highest;
    bool randomStartingTour;
    Shape shape = Shape::Random;
    // Above 0: costs on a lattice of this step (latticeMatrix), with
    // multiples from lowest to highest.
    std::int32_t latticeStep = 0;
};

Matrix matrixOfShape(std::mt19937_64& random, int n, const CostRange& range) {
    if (range.latticeStep > 0) {
        return testing_support::latticeMatrix(random, n, range.latticeStep, range.highest);
    }
    if (range.shape == Shape::Random) {
        return randomMatrix(random, n, range.lowest, range.highest);
    }
    Matrix matrix = symmetricMatrix(random, n, range.lowest, range.highest);
    if (range.shape == Shape::Symmetric) {
        return matrix;
    }
    std::uniform_int_distribution<std::int32_t> potential(0, 1000);
    std::vector<std::int32_t> q(n);
    for (std::int32_t& value : q) {
        value = potential(random);
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (i != j) {
                matrix[i][j] += q[j] - q[i];
            }
        }
    }
    if (range.shape == Shape::TiltedButOneArc && n >= 3) {
        std::uniform_int_distribution<int> city(0, n - 1);
        const int tail = city(random);
        matrix[tail][(tail + 1 + city(random) % (n - 1)) % n] += 1;
    }
    return matrix;
}

void PrintTo(const CostRange& range, std::ostream* out) {
    *out << range.name;
}

class SearchOptimum
    : public testing::TestWithParam<std::tuple<CostRange, testing_support::SearchVariant>> {};

TEST_P(SearchOptimum, ReturnsACheapestSingleCycleWhoseArcsSumToItsCost) {
    const auto& [range, variant] = GetParam();
    constexpr int seedsPerSize = 10;
    int improvedOnStart = 0;
    for (int n = 1; n <= 11; ++n) {
        for (int seed = 0; seed < seedsPerSize; ++seed) {
            std::mt19937_64 random(static_cast<std::uint64_t>(n * 1000 + seed));
            const Matrix matrix = matrixOfShape(random, n, range);
            std::vector<Node> startTour =
                range.randomStartingTour ? randomTour(random, n) : defaultTour(n);
            const TourResult result =
                search(matrix, variant.options, range.randomStartingTour ? &startTour : nullptr)
                    .result;
            const std::int64_t optimum = heldKarpOptimum(matrix);

            SCOPED_TRACE("n " + std::to_string(n) + ", seed " + std::to_string(seed));
            ASSERT_EQ(result.tour.size(), static_cast<std::size_t>(n));
            ASSERT_TRUE(isSingleCycle(result.tour));
            ASSERT_EQ(testing_support::tourCost(matrix, result.tour), result.cost);
            ASSERT_EQ(result.cost, optimum);
            ASSERT_FALSE(result.stopped);
            ASSERT_EQ(result.lowerBound, optimum);
            if (optimum < testing_support::tourCost(matrix, startTour)) {
                ++improvedOnStart;
            }
        }
    }
    // Most instances must need the search to beat the starting tour, or the
    // check above proves little.
    if (range.highest - range.lowest > 2) {
        EXPECT_GE(improvedOnStart, 11 * seedsPerSize / 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CostRanges, SearchOptimum,
    testing::Combine(
        testing::Values(CostRange{"Wide", 0, 1000000, false}, CostRange{"TieHeavy", 0, 3, false},
                        CostRange{"ZeroOne", 0, 1, false}, CostRange{"AllEqual", 5, 5, false},
                        CostRange{"Narrow", 0, 20, false},
                        CostRange{"WideFromRandomTour", 0, 1000000, true},
                        CostRange{"TieHeavyFromRandomTour", 0, 3, true},
                        CostRange{"SymmetricWide", 0, 1000000, false, Shape::Symmetric},
                        CostRange{"SymmetricTieHeavy", 0, 3, false, Shape::Symmetric},
                        CostRange{"TiltedTieHeavy", 0, 3, false, Shape::Tilted},
                        CostRange{"TiltedButOneArcTieHeavy", 0, 3, false, Shape::TiltedButOneArc},
                        CostRange{"Lattice", 0, 20, false, Shape::Random, 1000}),
        testing::ValuesIn(testing_support::searchVariants())),
    [](const auto& info) { return std::get<0>(info.param).name + std::get<1>(info.param).name; });

// ---- The same tree, node for node ----

// Searches recorded on fixed instances: the cost, the node counts and a hash of
// the tour returned. A change in cost, tour or created or expanded nodes means
// that a bound, a tie-break or the order of the open nodes changed, not just
// the speed: the search as first built must make exactly the same tree. (The
// assignment solver's tie-breaks take part.) The most open nodes may only go
// down, when hopeless nodes are released sooner.
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

TEST(SearchEngine, TheSearchAsFirstBuiltKeepsItsRecordedTreeOnFixedInstances) {
    for (const RecordedSearch& recorded : recordedSearches) {
        std::mt19937_64 random(recorded.seed);
        const Matrix matrix = randomMatrix(random, recorded.n, 0, recorded.highestCost);
        const SearchRun run = search(matrix, SearchOptions::described());
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

// ---- Teams ----

TEST(SearchEngine, StatisticsCountTheRootTheChildrenAndTheExpansionsOnAnyTeam) {
    std::mt19937_64 random(3);
    const Matrix matrix = randomMatrix(random, 9, 0, 100);
    for (int threads : {1, 4}) {
        SearchOptions options = SearchOptions::described();
        options.threads = threads;
        const SearchRun run = search(matrix, options);
        EXPECT_EQ(run.result.cost, heldKarpOptimum(matrix));
        EXPECT_GT(run.statistics.nodesExpanded, 0) << threads << " threads";
        // Every expansion makes a child or meets a forced arc; the root
        // comes on top.
        EXPECT_GT(run.statistics.nodesCreated, run.statistics.nodesExpanded)
            << threads << " threads";
        EXPECT_GT(run.statistics.mostOpenNodes, 0) << threads << " threads";
        EXPECT_LT(run.statistics.mostOpenNodes, run.statistics.nodesCreated);
    }
}

// Whether the runtime grants a nested team or not, and of whatever size, a
// search started from a thread of an outer team ends with the optimum.
TEST(SearchEngine, SearchesFromInsideAnOuterParallelRegionEnd) {
    const int savedMaxActiveLevels = omp_get_max_active_levels();
    std::mt19937_64 random(77);
    const Matrix matrix = randomMatrix(random, 10, 0, 3);
    const Graph graph = completeGraph(matrix);
    const std::int64_t optimum = heldKarpOptimum(matrix);
    SearchOptions options;
    options.threads = 4;
    for (int maxActiveLevels : {1, 2}) {
        omp_set_max_active_levels(maxActiveLevels);
        std::vector<std::int64_t> costs(2, -2);
#pragma omp parallel num_threads(2)
        costs[omp_get_thread_num()] = searchTour(graph, options).cost;
        for (std::int64_t cost : costs) {
            EXPECT_EQ(cost, optimum) << "max active levels " << maxActiveLevels;
        }
    }
    omp_set_max_active_levels(savedMaxActiveLevels);
}

// Many short searches on more threads than cores: a lost wake-up or a wrong
// end count shows as a hang (the CTest entry of this test has a timeout).
TEST(SearchEngine, StressManySmallSearchesOnEightThreadsAllEnd) {
    for (int seed = 0; seed < 400; ++seed) {
        std::mt19937_64 random(static_cast<std::uint64_t>(seed) + 9000);
        const int n = 12 + seed % 10;
        const Matrix matrix = symmetricMatrix(random, n, 0, seed % 2 == 0 ? 1000 : 5);
        const Graph graph = completeGraph(matrix);
        SearchOptions options = seed % 4 == 0 ? SearchOptions::described() : SearchOptions();
        const TourResult alone = searchTour(graph, options);
        options.threads = 8;
        const TourResult team = searchTour(graph, options);
        ASSERT_EQ(team.cost, alone.cost) << "seed " << seed << ", n " << n;
        ASSERT_TRUE(isSingleCycle(team.tour)) << "seed " << seed << ", n " << n;
        ASSERT_EQ(testing_support::tourCost(matrix, team.tour), team.cost)
            << "seed " << seed << ", n " << n;
    }
}

}  // namespace

}  // namespace atsp
