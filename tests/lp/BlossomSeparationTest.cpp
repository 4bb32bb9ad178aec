// Blossom separation against certificates: the textbook fractional point of
// two triangles joined by three edges, and the LP solutions of random small
// graphs, where every reported blossom is measured again here and checked
// against every tour of the cities (a blossom no tour meets would cut off
// the optimum).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "lp/BlossomSeparation.h"
#include "lp/CutPool.h"
#include "lp/CuttingPlanes.h"
#include "lp/LpRelaxation.h"
#include "tests/lp/LpTestSupport.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using lp_testing::allTours;
using lp_testing::blossomLhs;
using lp_testing::costFamilies;
using lp_testing::CostFamily;
using lp_testing::randomRows;
using lp_testing::subtourLpSupport;
using lp_testing::Tour;
using lp_testing::tourArcs;
using lp_testing::twoTrianglesJoinedByThreeEdges;
using testing_support::Rows;

// The shape every reported blossom must have: an odd number of at least
// three disjoint teeth, each with exactly its first city in the handle.
void expectWellFormed(const Blossom& blossom, std::size_t n) {
    EXPECT_TRUE(std::is_sorted(blossom.handle.begin(), blossom.handle.end()));
    EXPECT_GE(blossom.teeth.size(), 3u);
    EXPECT_EQ(blossom.teeth.size() % 2, 1u);
    EXPECT_LT(blossom.handle.size(), n);
    std::vector<int> uses(n, 0);
    const auto inHandle = [&](std::uint32_t city) {
        return std::binary_search(blossom.handle.begin(), blossom.handle.end(), city);
    };
    for (const auto& [inside, outside] : blossom.teeth) {
        EXPECT_TRUE(inHandle(inside));
        EXPECT_FALSE(inHandle(outside));
        EXPECT_EQ(++uses[inside], 1);
        EXPECT_EQ(++uses[outside], 1);
    }
}

TEST(BlossomSeparation, TwoTrianglesJoinedByThreeEdgesGiveBothHandles) {
    const std::vector<SupportArc> arcs = twoTrianglesJoinedByThreeEdges();
    const std::vector<Blossom> found = BlossomSeparation(6).separate(arcs, 1e-9);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].handle, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(found[1].handle, (std::vector<std::uint32_t>{3, 4, 5}));
    for (const Blossom& blossom : found) {
        expectWellFormed(blossom, 6);
        EXPECT_EQ(blossom.rhs(), 5);
        EXPECT_DOUBLE_EQ(blossom.lhs, 4.5);
        EXPECT_DOUBLE_EQ(blossomLhs(arcs, blossom, 6), 4.5);
    }
    // Violated by 1/2: a tolerance above that reports nothing.
    EXPECT_TRUE(BlossomSeparation(6).separate(arcs, 0.6).empty());
}

// The LP solutions the search meets: every blossom reported on them is
// violated as measured and holds for every tour of the cities.
TEST(BlossomSeparation, EveryBlossomFoundOnAnLpSolutionIsViolatedAndValid) {
    std::mt19937_64 random(31);
    std::size_t checked = 0;
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 40; ++trial) {
            const int n = 6 + trial % 3;
            const Rows rows = randomRows(random, n, family);
            const std::vector<SupportArc> support = subtourLpSupport(rows.graph());
            if (support.empty()) {
                continue;
            }
            const std::vector<Blossom> found = BlossomSeparation(n).separate(support, 1e-6);
            const std::vector<Tour> tours = allTours(rows);
            for (const Blossom& blossom : found) {
                expectWellFormed(blossom, n);
                EXPECT_NEAR(blossom.lhs, blossomLhs(support, blossom, n), 1e-9);
                EXPECT_LT(blossom.lhs, static_cast<double>(blossom.rhs()) - 1e-6);
                for (const Tour& tour : tours) {
                    ASSERT_GE(blossomLhs(tourArcs(tour), blossom, n),
                              static_cast<double>(blossom.rhs()));
                }
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 0u);
}

}  // namespace

}  // namespace atsp
