// Exact blossom separation against certificates: every blossom reported is
// measured again and checked against every tour of the cities, and on small
// supports the most violated one is compared with a search over every
// handle and every odd set of teeth: exactness is the point of the class.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include "lp/BlossomSeparation.h"
#include "lp/ExactBlossomSeparation.h"
#include "tests/lp/LpTestSupport.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using lp_testing::allTours;
using lp_testing::blossomLhs;
using lp_testing::costFamilies;
using lp_testing::CostFamily;
using lp_testing::leastOutflow;
using lp_testing::oddCyclesJoinedByPaths;
using lp_testing::randomRows;
using lp_testing::subtourLpSupport;
using lp_testing::Tour;
using lp_testing::tourArcs;
using lp_testing::twoTrianglesJoinedByThreeEdges;
using testing_support::Rows;

// Odd, at least three distinct teeth, each with exactly its first city in
// the handle; the handle the smaller side.
void expectWellFormed(const Blossom& blossom, std::size_t n) {
    EXPECT_TRUE(std::is_sorted(blossom.handle.begin(), blossom.handle.end()));
    EXPECT_LE(2 * blossom.handle.size(), n);
    EXPECT_GE(blossom.teeth.size(), 3u);
    EXPECT_EQ(blossom.teeth.size() % 2, 1u);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
    for (const auto& [inside, outside] : blossom.teeth) {
        EXPECT_TRUE(std::binary_search(blossom.handle.begin(), blossom.handle.end(), inside));
        EXPECT_FALSE(std::binary_search(blossom.handle.begin(), blossom.handle.end(), outside));
        edges.emplace_back(std::min(inside, outside), std::max(inside, outside));
    }
    std::sort(edges.begin(), edges.end());
    EXPECT_EQ(std::adjacent_find(edges.begin(), edges.end()), edges.end());
}

// The least of sum over delta(H) \ F of y + sum over F of (1 - y), over
// every handle H and every odd F of at least three edges of delta(H): by
// enumeration, the sets being small.
double leastBlossomValue(const std::vector<SupportArc>& arcs, std::size_t n) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, double> y;
    for (const SupportArc& arc : arcs) {
        y[{std::min(arc.tail, arc.head), std::max(arc.tail, arc.head)}] += arc.value;
    }
    double least = std::numeric_limits<double>::infinity();
    for (std::uint32_t handle = 1; handle + 1 < (1u << n); ++handle) {
        std::vector<double> crossing;
        for (const auto& [edge, value] : y) {
            if ((handle >> edge.first & 1u) != (handle >> edge.second & 1u)) {
                crossing.push_back(value);
            }
        }
        for (std::uint32_t teeth = 0; teeth < (1u << crossing.size()); ++teeth) {
            const int count = __builtin_popcount(teeth);
            if (count < 3 || count % 2 == 0) {
                continue;
            }
            double value = 0;
            for (std::size_t k = 0; k < crossing.size(); ++k) {
                value += (teeth >> k & 1u) != 0 ? 1 - crossing[k] : crossing[k];
            }
            least = std::min(least, value);
        }
    }
    return least;
}

TEST(ExactBlossomSeparation, FindsTheTextbookBlossomAndOnesTheHeuristicMisses) {
    std::vector<SupportArc> arcs = twoTrianglesJoinedByThreeEdges();
    std::vector<Blossom> found = ExactBlossomSeparation(6).separate(arcs, 1e-9);
    ASSERT_EQ(found.size(), 1u);  // {3, 4, 5} is the same cut
    expectWellFormed(found[0], 6);
    EXPECT_EQ(found[0].handle, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_DOUBLE_EQ(found[0].lhs, 4.5);
    EXPECT_TRUE(ExactBlossomSeparation(6).separate(arcs, 0.6).empty());
    EXPECT_TRUE(
        ExactBlossomSeparation(6)
            .separate(arcs, 1e-9, ExactBlossomSeparation::Clock::now() - std::chrono::seconds(1))
            .empty());

    // The teeth at 0.9 instead of 1 (the triangles' rows make up the rest):
    // the heuristic takes only edges of value 1 for teeth and finds nothing,
    // while the blossom is still violated: by (1 - 3 x 0.1) / 2.
    for (SupportArc& arc : arcs) {
        const bool tooth = (arc.tail < 3) != (arc.head < 3);
        arc.value = tooth ? 0.45 : 0.55;
    }
    EXPECT_TRUE(BlossomSeparation(6).separate(arcs, 1e-9).empty());
    found = ExactBlossomSeparation(6).separate(arcs, 1e-9);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NEAR(found[0].lhs, blossomLhs(arcs, found[0], 6), 1e-12);
    EXPECT_NEAR(static_cast<double>(found[0].rhs()) - found[0].lhs, (1 - 3 * 0.1) / 2, 1e-9);

    // Teeth 0-3 and 1-4 at 0.9 and 2-5 at 0.4, both ways round each
    // triangle (0-1 and 3-4 at 0.3, the other triangle edges at 0.8): the
    // edges above 1/2 are two, so F must take the 0.4 edge too to be odd,
    // leaving 0.1 + 0.1 + 0.6 and a violation of 0.1.
    arcs.clear();
    const auto edge = [&](std::uint32_t a, std::uint32_t b, double y) {
        arcs.push_back({a, b, y / 2});
        arcs.push_back({b, a, y / 2});
    };
    for (const std::uint32_t base : {0u, 3u}) {
        edge(base, base + 1, 0.3);
        edge(base + 1, base + 2, 0.8);
        edge(base + 2, base, 0.8);
    }
    edge(0, 3, 0.9);
    edge(1, 4, 0.9);
    edge(2, 5, 0.4);
    found = ExactBlossomSeparation(6).separate(arcs, 1e-9);
    ASSERT_EQ(found.size(), 1u);
    expectWellFormed(found[0], 6);
    EXPECT_EQ(found[0].teeth.size(), 3u);
    EXPECT_NEAR(static_cast<double>(found[0].rhs()) - found[0].lhs, 0.1, 1e-9);
}

// Both separations on what has no blossom: too few cities for two disjoint
// triangles' worth of teeth (half each way round one cycle), one tour (no
// fractional edge), and a city out of range, which must throw rather than
// index past the end.
TEST(BlossomSeparations, SmallOrIntegralSupportsGiveNoneAndBadCitiesThrow) {
    const auto bothSeparate = [](std::size_t n, const std::vector<SupportArc>& arcs) {
        std::vector<Blossom> found = BlossomSeparation(n).separate(arcs, 1e-9);
        const std::vector<Blossom> exact = ExactBlossomSeparation(n).separate(arcs, 1e-9);
        found.insert(found.end(), exact.begin(), exact.end());
        return found;
    };
    for (std::size_t n = 0; n < 6; ++n) {
        std::vector<SupportArc> arcs;
        for (std::uint32_t city = 0; city < n; ++city) {
            arcs.push_back({city, static_cast<std::uint32_t>((city + 1) % n), 0.5});
            arcs.push_back({static_cast<std::uint32_t>((city + 1) % n), city, 0.5});
        }
        EXPECT_TRUE(bothSeparate(n, arcs).empty()) << n;
    }
    std::vector<SupportArc> tour;
    for (std::uint32_t city = 0; city < 10; ++city) {
        tour.push_back({city, (city + 1) % 10, 1.0});
    }
    EXPECT_TRUE(bothSeparate(10, tour).empty());
    const std::vector<SupportArc> outOfRange{{0, 6, 1.0}};
    EXPECT_THROW(BlossomSeparation(6).separate(outOfRange, 1e-9), std::invalid_argument);
    EXPECT_THROW(ExactBlossomSeparation(6).separate(outOfRange, 1e-9), std::invalid_argument);
}

// The LP solutions the search meets, and points built around blossoms: every
// blossom reported is violated as measured and holds for every tour, and
// the most violated one is the least over every handle and odd set of teeth.
TEST(ExactBlossomSeparation, ReportsAMostViolatedBlossomAndOnlyValidOnes) {
    std::mt19937_64 random(47);
    std::size_t violatedSupports = 0;
    // Exactness on supports that meet every subtour cut, where |F| = 1
    // cannot be violated: elsewhere a tree cut's best F may be one edge.
    const auto check = [&](const std::vector<SupportArc>& support, const Rows& rows, std::size_t n,
                           bool meetsSubtourCuts) {
        const std::vector<Blossom> found = ExactBlossomSeparation(n).separate(support, 1e-6);
        const std::vector<Tour> tours = allTours(rows);
        for (const Blossom& blossom : found) {
            expectWellFormed(blossom, n);
            EXPECT_NEAR(blossom.lhs, blossomLhs(support, blossom, n), 1e-9);
            EXPECT_LT(blossom.lhs, static_cast<double>(blossom.rhs()) - 1e-6);
            for (const Tour& tour : tours) {
                ASSERT_GE(blossomLhs(tourArcs(tour), blossom, n),
                          static_cast<double>(blossom.rhs()) - 1e-9);
            }
        }
        if (!meetsSubtourCuts) {
            return;
        }
        // In the comb form a blossom's violation is half the 2-matching
        // form's: rhs - lhs = (1 - value) / 2.
        const double least = leastBlossomValue(support, n);
        if (least < 1 - 1e-6) {
            ++violatedSupports;
            ASSERT_FALSE(found.empty());
            EXPECT_NEAR(static_cast<double>(found[0].rhs()) - found[0].lhs, (1 - least) / 2, 1e-9);
        } else {
            EXPECT_TRUE(found.empty());
        }
    };
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 30; ++trial) {
            const int n = 6 + trial % 3;
            const Rows rows = randomRows(random, n, family);
            const std::vector<SupportArc> support = subtourLpSupport(rows.graph());
            if (!support.empty()) {
                check(support, rows, n, true);
            }
        }
    }
    for (int trial = 0; trial < 200; ++trial) {
        const std::size_t n = 6 + trial % 4;
        const Rows rows = randomRows(random, static_cast<int>(n), costFamilies().front());
        const std::vector<SupportArc> support = oddCyclesJoinedByPaths(random, n, trial);
        check(support, rows, n, leastOutflow(support, n) >= 1 - 1e-9);
    }
    EXPECT_GT(violatedSupports, 30u);
}

}  // namespace

}  // namespace atsp
