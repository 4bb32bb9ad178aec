// The walk from the incumbent that a round runs beside its tree: the tours it
// offers are cheaper and their arcs sum to their cost, it waits until its
// slice of time is saved, and a team of threads walking and offering at once
// never sees the incumbent's tour and cost apart.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "search/Round.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::isSingleCycle;
using testing_support::Matrix;
using testing_support::randomMatrix;
using testing_support::randomTour;
using testing_support::searchOnAllArcs;
using testing_support::tourCost;

// A round without monitor or stop, walking with `share` and `slice`.
struct WalkingRound {
    WalkingRound(const Matrix& matrix, std::vector<Node> start, double share, double slice)
        : graph(testing_support::completeGraph(matrix)),
          localSearch(searchOnAllArcs(graph)),
          incumbent(start, tourCost(matrix, start)),
          round{incumbent, InfeasibleBound, nullptr, 0, 0, {}, {}, {}, 0, &localSearch, {}} {
        round.walkTime.share = share;
        round.walkSlice = slice;
    }

    Graph graph;
    LocalSearch localSearch;
    Incumbent incumbent;
    Round round;
};

TEST(RoundWalk, FromAPoorIncumbentOffersACheaperTourWhoseArcsSumToItsCost) {
    std::mt19937_64 random(7);
    const Matrix matrix = randomMatrix(random, 60, 0, 1000000);
    const std::vector<Node> start = randomTour(random, 60);
    WalkingRound walking(matrix, start, 1.0, 0.0);
    walking.round.started -= std::chrono::milliseconds(50);  // 50 ms saved up

    walking.round.walkFromIncumbent();
    const auto [tour, cost] = walking.incumbent.snapshot();
    ASSERT_TRUE(isSingleCycle(tour));
    EXPECT_EQ(tourCost(matrix, tour), cost);
    EXPECT_LT(cost, tourCost(matrix, start));
}

TEST(RoundWalk, WaitsUntilItsSliceIsSavedAndNeverWalksWithoutAShare) {
    std::mt19937_64 random(8);
    const Matrix matrix = randomMatrix(random, 30, 0, 1000000);
    const std::vector<Node> start = randomTour(random, 30);
    for (const auto& [share, slice] : {std::pair{1.0, 3600.0}, std::pair{0.0, 0.0}}) {
        WalkingRound walking(matrix, start, share, slice);
        walking.round.started -= std::chrono::seconds(1);
        walking.round.walkFromIncumbent();
        EXPECT_EQ(walking.incumbent.snapshot().first, start);
    }
}

TEST(RoundWalk, ATeamWalkingAndOfferingAtOnceKeepsEachTourWithItsCost) {
    std::mt19937_64 random(9);
    const Matrix matrix = randomMatrix(random, 40, 0, 1000);
    WalkingRound walking(matrix, randomTour(random, 40), 0.5, 0.0);
    constexpr int threads = 4;
    std::vector<std::vector<std::int64_t>> torn(threads);
    std::vector<std::thread> team;
    for (int thread = 0; thread < threads; ++thread) {
        team.emplace_back([&, thread] {
            std::mt19937_64 own(static_cast<std::uint64_t>(thread));
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
            while (std::chrono::steady_clock::now() < end) {
                std::vector<Node> offered = randomTour(own, 40);
                walking.incumbent.offer(offered, tourCost(matrix, offered));
                walking.round.walkFromIncumbent();
                const auto [tour, cost] = walking.incumbent.snapshot();
                if (!isSingleCycle(tour) || tourCost(matrix, tour) != cost) {
                    torn[thread].push_back(cost);
                }
            }
        });
    }
    for (std::thread& member : team) {
        member.join();
    }
    for (const std::vector<std::int64_t>& costs : torn) {
        EXPECT_TRUE(costs.empty());
    }
    EXPECT_GT(walking.round.walkSlices, 0u);
}

}  // namespace

}  // namespace atsp
