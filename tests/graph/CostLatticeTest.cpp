// The residue class of tour costs: certified by enumerating every tour of
// small graphs, planted lattices found whole, and the rounding exact at the
// edges of the 64-bit range.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "graph/CostLattice.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::Rows;

// A planted lattice (testing_support::latticeMatrix) as rows; with
// `dropEvery`, about one arc in that many is left out.
Rows plantedLattice(std::mt19937_64& random, int n, std::int32_t step, int dropEvery = 0) {
    const testing_support::Matrix matrix = testing_support::latticeMatrix(random, n, step, 30);
    std::uniform_int_distribution<int> drop(0, std::max(dropEvery, 1) - 1);
    Rows rows;
    rows.heads.resize(static_cast<std::size_t>(n));
    rows.costs.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (i != j && !(dropEvery > 0 && drop(random) == 0)) {
                rows.heads[static_cast<std::size_t>(i)].push_back(static_cast<Node>(j));
                rows.costs[static_cast<std::size_t>(i)].push_back(
                    matrix[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)]);
            }
        }
    }
    return rows;
}

bool inClass(const CostLattice& lattice, std::int64_t value) {
    if (lattice.modulus() == 0) {
        return value == lattice.residue();
    }
    // value % m first: value - residue could overflow at the ends of the range.
    const std::int64_t m = lattice.modulus();
    return ((value % m - lattice.residue()) % m + m) % m == 0;
}

TEST(CostLattice, EveryTourCostLiesInTheClassAndPlantedStepsAreFound) {
    int sawTours = 0;
    for (const std::int32_t step : {1, 2, 7, 1000}) {
        for (int n = 2; n <= 7; ++n) {
            for (int seed = 0; seed < 6; ++seed) {
                std::mt19937_64 random(static_cast<std::uint64_t>(step * 100 + n * 10 + seed));
                // Odd seeds leave arcs out: potentials then come from a
                // sparser forest, and some graphs have no tour at all.
                const Rows rows = plantedLattice(random, n, step, seed % 2 == 1 ? 4 : 0);
                const CostLattice lattice(rows.graph());
                SCOPED_TRACE("step " + std::to_string(step) + ", n " + std::to_string(n) +
                             ", seed " + std::to_string(seed));
                const std::vector<testing_support::Tour> tours = testing_support::allTours(rows);
                for (const testing_support::Tour& tour : tours) {
                    ASSERT_TRUE(inClass(lattice, tour.cost)) << tour.cost;
                }
                sawTours += tours.empty() ? 0 : 1;
                // A complete graph's planted step divides the modulus found
                // (0 when every tour costs the same).
                if (seed % 2 == 0 && lattice.modulus() != 0) {
                    EXPECT_EQ(lattice.modulus() % step, 0);
                }
                if (lattice.modulus() > 0) {
                    EXPECT_GE(lattice.residue(), 0);
                    EXPECT_LT(lattice.residue(), lattice.modulus());
                }
            }
        }
    }
    EXPECT_GT(sawTours, 100);  // the certificate above checked real tours
}

TEST(CostLattice, RandomCostsSayNothingAndEqualCostsFixEveryTour) {
    std::mt19937_64 random(5);
    const CostLattice noisy(testing_support::completeGraph(
        testing_support::randomMatrix(random, 12, -1000000, 1000000)));
    EXPECT_EQ(noisy.modulus(), 1);
    EXPECT_EQ(noisy.roundUp(-17), -17);
    EXPECT_EQ(noisy.roundDown(42), 42);

    // Every tour of 9 cities at cost 11 a step costs 99: bounds below it rise
    // to it, and no tour costs more or less.
    const CostLattice flat(testing_support::completeGraph(testing_support::constantMatrix(9, 11)));
    EXPECT_EQ(flat.modulus(), 0);
    EXPECT_EQ(flat.residue(), 99);
    EXPECT_EQ(flat.roundUp(-5), 99);
    EXPECT_EQ(flat.roundUp(99), 99);
    EXPECT_EQ(flat.roundUp(100), 100);  // above every tour: left as it is
    EXPECT_EQ(flat.roundDown(1000), 99);
}

// A lattice not found by its deadline claims nothing; before it, the
// planted step is found whole.
TEST(CostLattice, ADeadlineThatHasPassedLeavesNothingClaimed) {
    std::mt19937_64 random(9);
    const Graph graph = plantedLattice(random, 7, 1000).graph();
    const auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(CostLattice(graph, now - std::chrono::seconds(1)).modulus(), 1);
    EXPECT_EQ(CostLattice(graph, now + std::chrono::hours(1)).modulus() % 1000, 0);
}

TEST(CostLattice, TinyAndTourlessGraphs) {
    // No city: the empty tour costs 0. Two cities: the one tour's cost.
    EXPECT_EQ(CostLattice(Graph::fromRows({}, {})).modulus(), 0);
    EXPECT_EQ(CostLattice(Graph::fromRows({}, {})).residue(), 0);
    const CostLattice pair(Graph::fromRows({{1}, {0}}, {{-4}, {9}}));
    EXPECT_EQ(pair.modulus(), 0);
    EXPECT_EQ(pair.residue(), 5);
    // One city has no arcs (a tour needs one out of every city): no tour, and
    // nothing may be claimed.
    EXPECT_EQ(CostLattice(Graph::fromRows({{}}, {{}})).modulus(), 1);
    EXPECT_EQ(CostLattice(Graph::fromRows({{1, 2}, {}, {0}}, {{2, 4}, {}, {6}})).modulus(), 1);
    // Every arc into city 2 is gone: its head has no arc, a component of one.
    EXPECT_EQ(CostLattice(Graph::fromRows({{1}, {0}, {0, 1}}, {{2}, {4}, {6, 8}})).modulus(), 1);
}

TEST(CostLattice, RoundingLandsOnTheNearestClassMemberAndNeverOverflows) {
    // A 3-city cycle each way: 0 -> 1 -> 2 -> 0 costs 3 + 5 + 7 = 15 and the
    // reverse 20 + 26 + 4 = 50; the modulus is 35 = 50 - 15 or a divisor.
    const CostLattice lattice(Graph::fromRows({{1, 2}, {0, 2}, {0, 1}}, {{3, 20}, {4, 5}, {7, 26}}));
    ASSERT_GT(lattice.modulus(), 1);
    ASSERT_EQ(35 % lattice.modulus(), 0);
    ASSERT_TRUE(inClass(lattice, 15));
    ASSERT_TRUE(inClass(lattice, 50));
    const std::int64_t m = lattice.modulus();
    constexpr std::int64_t Most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Least = std::numeric_limits<std::int64_t>::min();
    for (const std::int64_t value : {Least, Least + 1, std::int64_t{-1000}, std::int64_t{-1},
                                     std::int64_t{0}, std::int64_t{14}, std::int64_t{15},
                                     std::int64_t{16}, Most - 40, Most - 1, Most}) {
        SCOPED_TRACE(value);
        const std::int64_t up = lattice.roundUp(value);
        const std::int64_t down = lattice.roundDown(value);
        EXPECT_GE(up, value);
        EXPECT_LE(down, value);
        // Either the nearest member, or the value itself where the member lies
        // beyond the 64-bit range.
        EXPECT_TRUE((inClass(lattice, up) && up - value < m) || up == value);
        EXPECT_TRUE((inClass(lattice, down) && value - down < m) || down == value);
    }
    EXPECT_EQ(lattice.roundUp(15), 15);
    EXPECT_EQ(lattice.roundUp(16), 15 + m);
    EXPECT_EQ(lattice.roundDown(14), 15 - m);
}

}  // namespace

}  // namespace atsp
