// solve() against the search it wraps and an independent Held-Karp reference:
// the tour it hands back is a permutation from city 0 that costs what it
// says, forbidden arcs stay unused, a problem without a tour says so, and the
// options' wrong values and bad starting tours are errors, not searches.
#include <atsp/atsp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include "search/SearchEngine.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeGraph;
using testing_support::heldKarpOptimum;
using testing_support::Matrix;
using testing_support::randomMatrix;
using testing_support::Rows;

std::vector<std::int32_t> cellsOf(const Matrix& matrix) {
    std::vector<std::int32_t> cells;
    for (const std::vector<std::int32_t>& row : matrix) {
        cells.insert(cells.end(), row.begin(), row.end());
    }
    return cells;
}

// The cost of a tour in visiting order, through the matrix; none when it
// leaves a city out, names one twice or uses a forbidden arc.
std::optional<std::int64_t> orderCost(const Matrix& matrix, const std::vector<int>& order,
                                      const std::vector<std::uint8_t>& forbidden = {}) {
    const std::size_t n = matrix.size();
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> all(n);
    std::iota(all.begin(), all.end(), 0);
    if (sorted != all) {
        return std::nullopt;
    }
    std::int64_t cost = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const auto from = static_cast<std::size_t>(order[k]);
        const auto to = static_cast<std::size_t>(order[(k + 1) % n]);
        if (n > 1 && !forbidden.empty() && forbidden[from * n + to] != 0) {
            return std::nullopt;
        }
        cost += n > 1 ? matrix[from][to] : 0;
    }
    return cost;
}

// The matrix's arcs less the forbidden ones, for the reference.
Rows allowedRows(const Matrix& matrix, const std::vector<std::uint8_t>& forbidden) {
    const std::size_t n = matrix.size();
    Rows rows;
    rows.heads.resize(n);
    rows.costs.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            if (i != j && forbidden[i * n + j] == 0) {
                rows.heads[i].push_back(static_cast<Node>(j));
                rows.costs[i].push_back(matrix[i][j]);
            }
        }
    }
    return rows;
}

template <typename Call>
ErrorKind errorKindOf(Call call) {
    try {
        call();
    } catch (const Error& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no atsp::Error was thrown";
    return ErrorKind::FileNotWritable;
}

TEST(Solve, MatchesTheSearchAndHeldKarpOnRandomInstances) {
    std::mt19937_64 random(11);
    for (int n = 2; n <= 11; ++n) {
        for (int round = 0; round < 4; ++round) {
            const Matrix matrix = randomMatrix(random, n, -50, 1000);
            const std::int64_t optimum = heldKarpOptimum(matrix);
            const TourResult reference = searchTour(completeGraph(matrix), SearchOptions{});
            for (const int threads : {1, 2}) {
                SolveOptions options;
                options.threads = threads;
                const Solution solution = solve(
                    Problem::fromMatrix(static_cast<std::size_t>(n), cellsOf(matrix)), options);
                if (reference.negativeStart) {
                    EXPECT_TRUE(solution.negativeStart);
                    EXPECT_EQ(solution.cost, orderCost(matrix, solution.tour));
                    continue;
                }
                ASSERT_TRUE(solution.foundTour) << n;
                EXPECT_TRUE(solution.optimal);
                EXPECT_FALSE(solution.stopped);
                EXPECT_EQ(solution.tour.front(), 0);
                EXPECT_EQ(orderCost(matrix, solution.tour), solution.cost);
                EXPECT_EQ(solution.cost, optimum) << "n " << n << ", threads " << threads;
                EXPECT_EQ(solution.cost, reference.cost);
                EXPECT_EQ(solution.lowerBound, solution.cost);
                EXPECT_EQ(solution.statistics.arcsGiven, n * (n - 1));
                EXPECT_GE(solution.statistics.nodesCreated, 1);
            }
        }
    }
}

TEST(Solve, ForbiddenArcsByMaskOrSentinelAreNeverUsed) {
    std::mt19937_64 random(12);
    std::bernoulli_distribution forbid(0.35);
    int withTour = 0;
    int without = 0;
    for (int n = 3; n <= 10; ++n) {
        for (int round = 0; round < 6; ++round) {
            const auto size = static_cast<std::size_t>(n);
            const Matrix matrix = randomMatrix(random, n, 0, 1000);
            std::vector<std::uint8_t> mask(size * size);
            for (std::uint8_t& cell : mask) {
                cell = forbid(random) ? 1 : 0;
            }
            const std::int64_t optimum = heldKarpOptimum(allowedRows(matrix, mask));
            // The sentinel -1 lies outside the costs drawn.
            std::vector<std::int32_t> sentinelled = cellsOf(matrix);
            for (std::size_t cell = 0; cell < mask.size(); ++cell) {
                sentinelled[cell] = mask[cell] != 0 ? -1 : sentinelled[cell];
            }
            const Solution byMask =
                solve(Problem::fromMatrix(size, cellsOf(matrix), {mask, std::nullopt}));
            const Solution bySentinel = solve(Problem::fromMatrix(size, sentinelled, {{}, -1}));
            for (const Solution* solution : {&byMask, &bySentinel}) {
                EXPECT_FALSE(solution->stopped);
                if (optimum == std::numeric_limits<std::int64_t>::max()) {
                    EXPECT_FALSE(solution->foundTour);
                    EXPECT_TRUE(solution->noTourExists);
                    EXPECT_FALSE(solution->optimal);
                    EXPECT_TRUE(solution->tour.empty());
                    EXPECT_EQ(solution->cost, NoTourCost);
                } else {
                    ASSERT_TRUE(solution->foundTour);
                    EXPECT_FALSE(solution->noTourExists);
                    EXPECT_TRUE(solution->optimal);
                    EXPECT_EQ(orderCost(matrix, solution->tour, mask), solution->cost);
                    EXPECT_EQ(solution->cost, optimum);
                }
            }
            ++(optimum == std::numeric_limits<std::int64_t>::max() ? without : withTour);
        }
    }
    // Both cases were met, or the test tested less than it says.
    EXPECT_GT(withTour, 5);
    EXPECT_GT(without, 5);
}

TEST(Solve, ACityNoArcEntersHasNoTour) {
    const std::size_t n = 5;
    std::vector<std::int32_t> cells(n * n, 1);
    std::vector<std::uint8_t> mask(n * n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        mask[i * n + 3] = 1;
    }
    const Solution solution = solve(Problem::fromMatrix(n, cells, {mask, std::nullopt}));
    EXPECT_TRUE(solution.noTourExists);
    EXPECT_FALSE(solution.foundTour);
    EXPECT_FALSE(solution.optimal);
}

TEST(Solve, ZeroAndOneCities) {
    const Solution none = solve(Problem());
    EXPECT_TRUE(none.foundTour);
    EXPECT_TRUE(none.optimal);
    EXPECT_TRUE(none.tour.empty());
    EXPECT_EQ(none.cost, 0);

    const Solution one = solve(Problem::fromMatrix(1, std::vector<std::int32_t>{42}));
    EXPECT_TRUE(one.optimal);
    EXPECT_EQ(one.tour, std::vector<int>{0});
    EXPECT_EQ(one.cost, 0);
}

TEST(Solve, ANegativeStartingTourIsReturnedWithItsTrueSum) {
    // 0 -> 1 -> 2 -> 0 costs -30; the search does not run on it.
    const std::vector<std::int32_t> cells = {0, -10, 5, 5, 0, -10, -10, 5, 0};
    const Solution solution = solve(Problem::fromMatrix(3, cells));
    EXPECT_TRUE(solution.negativeStart);
    EXPECT_TRUE(solution.foundTour);
    EXPECT_FALSE(solution.optimal);
    EXPECT_EQ(solution.tour, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(solution.cost, -30);
    EXPECT_LE(solution.lowerBound, solution.cost);
}

TEST(Solve, BadStartingToursAreRejected) {
    std::mt19937_64 random(13);
    const Matrix matrix = randomMatrix(random, 5, 0, 100);
    const Problem problem = Problem::fromMatrix(5, cellsOf(matrix));
    for (const std::vector<int>& tour : std::vector<std::vector<int>>{{0, 1, 2, 3},
                                                                      {0, 1, 2, 3, 4, 0},
                                                                      {0, 1, 2, 3, 3},
                                                                      {0, 1, 2, 3, 5},
                                                                      {0, -1, 2, 3, 4}}) {
        SolveOptions options;
        options.startTour = tour;
        EXPECT_EQ(errorKindOf([&] { solve(problem, options); }), ErrorKind::BadInput);
    }
    // A permutation over an arc the problem lacks.
    std::vector<std::uint8_t> mask(25, 0);
    mask[2 * 5 + 4] = 1;
    SolveOptions options;
    options.startTour = {1, 2, 4, 3, 0};
    EXPECT_EQ(errorKindOf([&] {
                  solve(Problem::fromMatrix(5, cellsOf(matrix), {mask, std::nullopt}), options);
              }),
              ErrorKind::BadInput);
}

TEST(Solve, AStartingTourIsKeptUnlessBeaten) {
    std::mt19937_64 random(14);
    const Matrix matrix = randomMatrix(random, 9, 0, 1000);
    const std::int64_t optimum = heldKarpOptimum(matrix);
    const Problem problem = Problem::fromMatrix(9, cellsOf(matrix));
    SolveOptions options;
    // Visiting order from any city: the same tour rotated.
    options.startTour = {4, 2, 7, 0, 1, 8, 3, 6, 5};
    const Solution solution = solve(problem, options);
    EXPECT_EQ(solution.cost, optimum);
    EXPECT_EQ(orderCost(matrix, solution.tour), optimum);
}

TEST(Solve, AStopFlagSetBeforehandStopsWithAValidBound) {
    // Symmetric costs: assignments of 2-cycles, so the root is no tour.
    std::mt19937_64 random(15);
    Matrix matrix = randomMatrix(random, 12, 0, 1000);
    for (std::size_t i = 0; i < 12; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            matrix[i][j] = matrix[j][i];
        }
    }
    const std::int64_t optimum = heldKarpOptimum(matrix);
    const std::atomic<bool> stop{true};
    SolveOptions options;
    options.stop = &stop;
    options.startTour = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const Solution solution = solve(Problem::fromMatrix(12, cellsOf(matrix)), options);
    ASSERT_TRUE(solution.foundTour);
    EXPECT_EQ(orderCost(matrix, solution.tour), solution.cost);
    EXPECT_LE(solution.cost, *orderCost(matrix, options.startTour));
    EXPECT_LE(solution.lowerBound, optimum);
    EXPECT_GE(solution.cost, optimum);
    EXPECT_EQ(solution.optimal, !solution.stopped);
    if (solution.optimal) {
        EXPECT_EQ(solution.cost, optimum);
    }
}

TEST(Solve, WrongOptionsAreBadInput) {
    const Problem problem = Problem::fromMatrix(2, std::vector<std::int32_t>{0, 1, 1, 0});
    SolveOptions threads;
    threads.threads = -1;
    EXPECT_EQ(errorKindOf([&] { solve(problem, threads); }), ErrorKind::BadInput);
    EXPECT_EQ(errorKindOf([&] { threadsFor(-1); }), ErrorKind::BadInput);
    for (const double limit : {-1.0, std::nan("")}) {
        SolveOptions options;
        options.timeLimitSeconds = limit;
        EXPECT_EQ(errorKindOf([&] { solve(problem, options); }), ErrorKind::BadInput);
    }
    SolveOptions interval;
    interval.progress = [](const SolveProgress&) {};
    interval.progressIntervalSeconds = 0;
    EXPECT_EQ(errorKindOf([&] { solve(problem, interval); }), ErrorKind::BadInput);
}

TEST(Solve, ProgressEndsWithTheAnswerAndItsExceptionsLeaveSolve) {
    std::mt19937_64 random(16);
    const Matrix matrix = randomMatrix(random, 10, 0, 1000);
    const Problem problem = Problem::fromMatrix(10, cellsOf(matrix));
    std::vector<SolveProgress> reports;
    SolveOptions options;
    options.progress = [&reports](const SolveProgress& progress) { reports.push_back(progress); };
    const Solution solution = solve(problem, options);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().bestCost, solution.cost);
    EXPECT_EQ(reports.back().lowerBound, solution.cost);

    options.progress = [](const SolveProgress&) { throw std::logic_error("from progress"); };
    EXPECT_THROW(solve(problem, options), std::logic_error);
}

}  // namespace

}  // namespace atsp
