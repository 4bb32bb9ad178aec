// The local search: every tour it returns is one cycle of existing arcs whose
// cost it states exactly, never above the tour it was given; with every arc
// a neighbour its descent ends where no exchange of two adjacent stretches
// gains (checked by brute force), nor, where reversals keep tour costs and
// are allowed, any 2-opt move; and it keeps to its limits.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "graph/Reversal.h"
#include "graph/Tour.h"
#include "tests/support/TestGraphs.h"
#include "tours/LocalSearch.h"

namespace atsp {

namespace {

using testing_support::Matrix;
using testing_support::searchOnAllArcs;

// The cities of a tour in visiting order from city 0, and back.
std::vector<Node> visitingOrder(const std::vector<Node>& successors) {
    std::vector<Node> order;
    for (Node city = 0; order.size() < successors.size(); city = successors[city]) {
        order.push_back(city);
    }
    return order;
}

std::vector<Node> successorsOf(const std::vector<Node>& order) {
    std::vector<Node> next(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        next[order[k]] = order[(k + 1) % order.size()];
    }
    return next;
}

// The cheapest tour that one exchange of two adjacent stretches makes of
// `tour` (visiting order), by trying them all; the exchanges include every
// move of a segment elsewhere.
std::int64_t bestSwapOf(const Matrix& matrix, const std::vector<Node>& successors) {
    const std::size_t n = successors.size();
    const std::vector<Node> order = visitingOrder(successors);
    std::int64_t best = testing_support::tourCost(matrix, successors);
    for (std::size_t start = 0; start < n; ++start) {
        std::vector<Node> rotated(order.begin() + static_cast<std::ptrdiff_t>(start), order.end());
        rotated.insert(rotated.end(), order.begin(),
                       order.begin() + static_cast<std::ptrdiff_t>(start));
        // rotated = A B C with A = [0, i), B = [i, j), C = [j, n): B A C.
        for (std::size_t i = 1; i < n; ++i) {
            for (std::size_t j = i + 1; j < n; ++j) {
                std::vector<Node> swapped(rotated.begin() + static_cast<std::ptrdiff_t>(i),
                                          rotated.begin() + static_cast<std::ptrdiff_t>(j));
                swapped.insert(swapped.end(), rotated.begin(),
                               rotated.begin() + static_cast<std::ptrdiff_t>(i));
                swapped.insert(swapped.end(), rotated.begin() + static_cast<std::ptrdiff_t>(j),
                               rotated.end());
                best = std::min(best, testing_support::tourCost(matrix, successorsOf(swapped)));
            }
        }
    }
    return best;
}

TEST(LocalSearch, ReturnsAValidTourAtItsStatedCostNeverDearer) {
    std::mt19937_64 random(7);
    // Small and large cost ranges (ties everywhere, or almost none),
    // negative costs, and sizes from the least a kick needs around it.
    const std::pair<std::int32_t, std::int32_t> ranges[] = {{0, 3}, {-50, 50}, {0, 1000000}};
    for (const int n : {1, 2, 3, 4, 5, 8, 9, 13, 40, 150}) {
        for (const auto& [lowest, highest] : ranges) {
            const Matrix matrix = testing_support::randomMatrix(random, n, lowest, highest);
            const Graph graph = testing_support::completeGraph(matrix);
            const LocalSearch search = searchOnAllArcs(graph);
            for (const std::size_t kicks : {std::size_t{0}, std::size_t{300}}) {
                std::vector<Node> tour = testing_support::randomTour(random, n);
                const std::int64_t start = *tourCost(graph, tour);
                LocalSearchLimits limits;
                limits.kicksWithoutGain = kicks;
                const std::int64_t cost = search.improve(tour, start, limits);
                ASSERT_TRUE(isSingleCycle(tour)) << n;
                ASSERT_EQ(tourCost(graph, tour), cost) << n;
                ASSERT_LE(cost, start) << n;
                if (n <= 40 && kicks == 0) {
                    EXPECT_EQ(bestSwapOf(matrix, tour), cost) << "not a local optimum, n = " << n;
                }
                if (n >= 5 && n <= 13 && kicks > 0) {
                    EXPECT_EQ(cost, testing_support::heldKarpOptimum(matrix)) << n;
                }
            }
        }
    }
}

// The cheapest tour one 2-opt move makes of `tour`: a -> b and c -> d give
// way to a -> c and b -> d, b..c driven backwards; by trying them all.
std::int64_t bestTwoOptOf(const Matrix& matrix, const std::vector<Node>& successors) {
    const std::size_t n = successors.size();
    const std::vector<Node> order = visitingOrder(successors);
    std::int64_t best = testing_support::tourCost(matrix, successors);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 2; j < n; ++j) {
            std::vector<Node> turned = order;  // reverse places i + 1 .. j
            std::reverse(turned.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                         turned.begin() + static_cast<std::ptrdiff_t>(j) + 1);
            best = std::min(best, testing_support::tourCost(matrix, successorsOf(turned)));
        }
    }
    return best;
}

TEST(LocalSearch, WithReversalsOnTiltedSymmetricCostsNoTwoOptMoveIsLeft) {
    std::mt19937_64 random(17);
    int gainedByReversals = 0;
    for (const int n : {3, 4, 5, 8, 9, 13, 40, 150}) {
        for (int trial = 0; trial < 3; ++trial) {
            const Matrix matrix = testing_support::tiltedSymmetricMatrix(random, n);
            const Graph graph = testing_support::completeGraph(matrix);
            const LocalSearch plain = searchOnAllArcs(graph);
            LocalSearch reversing = searchOnAllArcs(graph);
            reversing.allowReversals(*reversalPotentials(graph));
            for (const std::size_t kicks : {std::size_t{0}, std::size_t{300}}) {
                if (n > 40 && kicks > 0) {
                    continue;  // every arc a neighbour: kicks take seconds there
                }
                SCOPED_TRACE(testing::Message() << "n " << n << ", kicks " << kicks);
                const std::vector<Node> start = testing_support::randomTour(random, n);
                const std::int64_t startCost = *tourCost(graph, start);
                LocalSearchLimits limits;
                limits.kicksWithoutGain = kicks;
                std::vector<Node> tour = start;
                const std::int64_t cost = reversing.improve(tour, startCost, limits);
                ASSERT_TRUE(isSingleCycle(tour));
                ASSERT_EQ(tourCost(graph, tour), cost);
                ASSERT_LE(cost, startCost);
                if (n <= 40 && kicks == 0) {
                    std::vector<Node> plainTour = start;
                    gainedByReversals += cost < plain.improve(plainTour, startCost, limits) ? 1 : 0;
                    // A stretch turned round turns the moves across its ends,
                    // which only its ends look at again: descents from every
                    // city, until one gains nothing, leave no move at all.
                    std::int64_t settled = cost;
                    for (std::int64_t last = settled + 1, rounds = 0; settled < last; ++rounds) {
                        ASSERT_LT(rounds, 100) << "descents that never settle";
                        last = settled;
                        settled = reversing.improve(tour, settled, limits);
                    }
                    ASSERT_EQ(tourCost(graph, tour), settled);
                    EXPECT_EQ(bestTwoOptOf(matrix, tour), settled) << "a 2-opt move is left";
                    EXPECT_EQ(bestSwapOf(matrix, tour), settled) << "a swap is left";
                }
                if (n >= 5 && n <= 13 && kicks > 0) {
                    EXPECT_EQ(cost, testing_support::heldKarpOptimum(matrix));
                }
            }
        }
    }
    EXPECT_GT(gainedByReversals, 3);  // reversals reach tours the other moves miss
}

// On a sparse graph the moves and kicks must not use an arc that is not
// there: a ring with a few chords, from the ring's tour.
TEST(LocalSearch, UsesOnlyArcsTheGraphHas) {
    std::mt19937_64 random(11);
    const int n = 60;
    std::vector<std::vector<Node>> heads(n);
    std::vector<std::vector<std::int32_t>> costs(n);
    std::uniform_int_distribution<int> anyCity(0, n - 1);
    std::uniform_int_distribution<std::int32_t> anyCost(0, 100);
    for (int i = 0; i < n; ++i) {
        heads[i].push_back(static_cast<Node>((i + 1) % n));
        costs[i].push_back(anyCost(random) + 100);
        for (int chord = 0; chord < 3; ++chord) {
            const Node head = static_cast<Node>(anyCity(random));
            if (head != i && std::find(heads[i].begin(), heads[i].end(), head) == heads[i].end()) {
                heads[i].push_back(head);
                costs[i].push_back(anyCost(random));
            }
        }
    }
    const Graph graph = Graph::fromRows(heads, costs);
    const LocalSearch search = searchOnAllArcs(graph);
    std::vector<Node> tour = defaultTour(n);
    const std::int64_t start = *tourCost(graph, tour);
    LocalSearchLimits limits;
    limits.kicksWithoutGain = 2000;
    const std::int64_t cost = search.improve(tour, start, limits);
    ASSERT_TRUE(isSingleCycle(tour));
    EXPECT_EQ(tourCost(graph, tour), cost);
    EXPECT_LE(cost, start);
}

TEST(LocalSearch, EndsAtTheLowerBoundTheStopRequestAndTheDeadline) {
    std::mt19937_64 random(3);
    const Matrix matrix = testing_support::randomMatrix(random, 200, 0, 1000);
    const Graph graph = testing_support::completeGraph(matrix);
    const LocalSearch search = searchOnAllArcs(graph);
    const std::vector<Node> start = testing_support::randomTour(random, 200);
    const std::int64_t startCost = *tourCost(graph, start);

    // A tour at the bound is not touched.
    std::vector<Node> tour = start;
    LocalSearchLimits atBound;
    atBound.lowerBound = startCost;
    atBound.kicksWithoutGain = 1000000;
    EXPECT_EQ(search.improve(tour, startCost, atBound), startCost);
    EXPECT_EQ(tour, start);

    // Asked to stop, or past its deadline, it kicks no more after its descent,
    // although it would kick a million times.
    int asked = 0;
    LocalSearchLimits stopAtOnce;
    stopAtOnce.kicksWithoutGain = 1000000;
    stopAtOnce.stop = [&asked] { return ++asked > 0; };
    tour = start;
    const std::int64_t stopped = search.improve(tour, startCost, stopAtOnce);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(tourCost(graph, tour), stopped);

    LocalSearchLimits pastDeadline;
    pastDeadline.kicksWithoutGain = 1000000;
    pastDeadline.deadline = std::chrono::steady_clock::now();
    tour = start;
    const std::int64_t descended = search.improve(tour, startCost, pastDeadline);
    EXPECT_EQ(descended, stopped);  // the same descent, no kick
}

}  // namespace

}  // namespace atsp
