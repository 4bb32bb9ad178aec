// Lifted cycle inequalities against certificates: every tour of small graphs
// (each inequality holds for all of them and some tour meets it), a
// hand-made fractional point, and the LP solutions of random graphs, where
// every reported inequality is measured again here and checked against every
// tour of the cities (one that no tour meets would cut off the optimum).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "lp/LiftedCycleSeparation.h"
#include "tests/lp/LpTestSupport.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using lp_testing::allTours;
using lp_testing::costFamilies;
using lp_testing::CostFamily;
using lp_testing::randomRows;
using lp_testing::subtourLpSupport;
using lp_testing::Tour;
using lp_testing::tourArcs;
using testing_support::Rows;

// The inequality's left-hand side over the arcs.
double lhsOver(const std::vector<SupportArc>& arcs, const LiftedCycle& cycle) {
    const std::vector<WeightedArc> weighted = liftedCycleArcs(cycle);
    double sum = 0;
    for (const SupportArc& arc : arcs) {
        for (const WeightedArc& term : weighted) {
            if (term.tail == arc.tail && term.head == arc.head) {
                sum += term.coefficient * arc.value;
            }
        }
    }
    return sum;
}

// The largest left-hand side over the tours.
double mostOverTours(const std::vector<Tour>& tours, const LiftedCycle& cycle) {
    double most = 0;
    for (const Tour& tour : tours) {
        most = std::max(most, lhsOver(tourArcs(tour), cycle));
    }
    return most;
}

// Every tour of n cities.
std::vector<Tour> toursOf(std::size_t n) {
    return allTours(testing_support::completeRows(
        testing_support::Matrix(n, std::vector<std::int32_t>(n, 0))));
}

TEST(LiftedCycleSeparation, EveryTourMeetsEachInequalityAndSomeTourReachesIt) {
    std::mt19937_64 random(41);
    for (std::size_t n = 4; n <= 8; ++n) {
        const std::vector<Tour> tours = toursOf(n);
        for (std::size_t k = 3; k < n && k <= 6; ++k) {
            for (const bool reversed : {false, true}) {
                // In order, and in a random order of random cities.
                std::vector<std::uint32_t> cities(n);
                std::iota(cities.begin(), cities.end(), 0u);
                for (int shuffled = 0; shuffled < 2; ++shuffled) {
                    if (shuffled != 0) {
                        std::shuffle(cities.begin(), cities.end(), random);
                    }
                    const LiftedCycle cycle{{cities.begin(), cities.begin() + k}, reversed, 0};
                    SCOPED_TRACE(testing::Message() << "n " << n << " k " << k << " reversed "
                                                    << reversed << " shuffled " << shuffled);
                    const std::vector<WeightedArc> arcs = liftedCycleArcs(cycle);
                    // The cycle, the k - 2 chords out of the first city, and
                    // the backward chords among the cities from the third on.
                    EXPECT_EQ(arcs.size(), k + (k - 2) + (k - 2) * (k - 3) / 2);
                    EXPECT_TRUE(std::is_sorted(arcs.begin(), arcs.end(),
                                               [](const WeightedArc& a, const WeightedArc& b) {
                                                   return std::tie(a.tail, a.head) <
                                                          std::tie(b.tail, b.head);
                                               }));
                    EXPECT_TRUE(std::adjacent_find(arcs.begin(), arcs.end(),
                                                   [](const WeightedArc& a, const WeightedArc& b) {
                                                       return a.tail == b.tail && a.head == b.head;
                                                   }) == arcs.end());
                    EXPECT_EQ(mostOverTours(tours, cycle), static_cast<double>(cycle.rhs()));
                }
            }
        }
    }
}

// The triangle 0 -> 1 -> 2 -> 0 at 1/2 with the chord 0 -> 2 at 1/2: every
// degree is 1 and every subtour cut holds, but D_3^+ of (0, 1, 2) reads
// 3/2 + 2 x 1/2 = 5/2 > 2.
TEST(LiftedCycleSeparation, TheTriangleWithItsChordIsFoundFirst) {
    const std::vector<SupportArc> arcs{{0, 1, 0.5}, {1, 2, 0.5}, {2, 0, 0.5}, {0, 2, 0.5},
                                       {1, 3, 0.5}, {4, 0, 0.5}, {2, 4, 0.5}, {3, 1, 0.5},
                                       {3, 4, 0.5}, {4, 3, 0.5}};
    const std::vector<LiftedCycle> found = LiftedCycleSeparation(5).separate(arcs, 1e-9, 100);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].cities, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_FALSE(found[0].reversed);
    EXPECT_DOUBLE_EQ(found[0].lhs, 2.5);
    for (const LiftedCycle& cycle : found) {
        EXPECT_NEAR(cycle.lhs, lhsOver(arcs, cycle), 1e-12);
        EXPECT_GT(cycle.lhs, static_cast<double>(cycle.rhs()) + 1e-9);
        EXPECT_LE(cycle.lhs - static_cast<double>(cycle.rhs()), 0.5 + 1e-12);
    }
    // Violated by 1/2 at most: a tolerance above that reports nothing, and
    // a count of 1 keeps the first.
    EXPECT_TRUE(LiftedCycleSeparation(5).separate(arcs, 0.6, 100).empty());
    ASSERT_EQ(LiftedCycleSeparation(5).separate(arcs, 1e-9, 1).size(), 1u);
    // A sequence must leave a city out: on three cities nothing is found.
    EXPECT_TRUE(LiftedCycleSeparation(3).separate({arcs.begin(), arcs.begin() + 4}, 1e-9, 100)
                    .empty());
    const std::vector<SupportArc> outOfRange{{0, 5, 1.0}};
    EXPECT_THROW(LiftedCycleSeparation(5).separate(outOfRange, 1e-9, 100), std::invalid_argument);
}

// Convex combinations of tours meet every valid inequality, so nothing may
// be reported on them; on the LP solutions the search meets, everything
// reported is violated as measured and holds for every tour.
TEST(LiftedCycleSeparation, NothingOnMixturesOfToursAndOnlyValidCutsOnLpSolutions) {
    std::mt19937_64 random(43);
    std::size_t checked = 0;
    for (int trial = 0; trial < 30; ++trial) {
        const std::size_t n = 5 + trial % 5;
        std::vector<SupportArc> mixture;
        for (int tour = 0; tour < 3; ++tour) {
            std::vector<std::uint32_t> order(n);
            std::iota(order.begin(), order.end(), 0u);
            std::shuffle(order.begin(), order.end(), random);
            for (std::size_t k = 0; k < n; ++k) {
                mixture.push_back({order[k], order[(k + 1) % n], 1.0 / 3});
            }
        }
        EXPECT_TRUE(LiftedCycleSeparation(n).separate(mixture, 1e-9, 1000).empty());
    }
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 40; ++trial) {
            const int n = 5 + trial % 4;
            const Rows rows = randomRows(random, n, family);
            const std::vector<SupportArc> support = subtourLpSupport(rows.graph());
            if (support.empty()) {
                continue;
            }
            const std::vector<Tour> tours = allTours(rows);
            for (const LiftedCycle& cycle : LiftedCycleSeparation(n).separate(support, 1e-6, 50)) {
                EXPECT_GE(cycle.cities.size(), 3u);
                EXPECT_LT(cycle.cities.size(), static_cast<std::size_t>(n));
                EXPECT_NEAR(cycle.lhs, lhsOver(support, cycle), 1e-9);
                EXPECT_GT(cycle.lhs, static_cast<double>(cycle.rhs()) + 1e-6);
                ASSERT_LE(mostOverTours(tours, cycle), static_cast<double>(cycle.rhs()));
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 0u);
}

}  // namespace

}  // namespace atsp
