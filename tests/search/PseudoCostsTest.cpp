// Pseudocosts: averages per arc and per direction, what counts as seen often
// enough to stand in for strong branching, and that a team of threads sharing
// one table loses no observation.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "search/PseudoCosts.h"

namespace atsp {

namespace {

TEST(PseudoCosts, AveragesEachArcAndDirectionApart) {
    PseudoCosts costs;
    EXPECT_FALSE(costs.reliableRates(0, 1, 1));  // nothing seen yet

    costs.record(0, 1, false, 0.5, 2.0);   // 4 per unit
    costs.record(0, 1, false, 0.25, 2.0);  // 8 per unit
    costs.record(0, 1, true, 0.5, 1.0);    // 2 per unit
    costs.record(1, 0, true, 0.5, 10.0);   // the reverse arc: 20 per unit
    costs.record(1, 0, false, 1.0, 3.0);   // 3 per unit
    const std::optional<PseudoCosts::Rates> forward = costs.reliableRates(0, 1, 1);
    const std::optional<PseudoCosts::Rates> reverse = costs.reliableRates(1, 0, 1);
    ASSERT_TRUE(forward && reverse);
    EXPECT_DOUBLE_EQ(forward->forbidden, 6.0);
    EXPECT_DOUBLE_EQ(forward->forced, 2.0);
    EXPECT_DOUBLE_EQ(reverse->forbidden, 3.0);
    EXPECT_DOUBLE_EQ(reverse->forced, 20.0);
    // The largest city numbers keep their arcs apart too.
    costs.record(65535, 0, false, 1.0, 30.0);
    costs.record(65535, 0, true, 1.0, 40.0);
    ASSERT_TRUE(costs.reliableRates(65535, 0, 1));
    EXPECT_DOUBLE_EQ(costs.reliableRates(65535, 0, 1)->forbidden, 30.0);
    EXPECT_FALSE(costs.reliableRates(0, 65535, 1));
}

TEST(PseudoCosts, ReliableOnlyOnceBothDirectionsWereSeenOftenEnough) {
    PseudoCosts costs;
    costs.record(2, 3, false, 0.5, 1.0);
    costs.record(2, 3, false, 0.5, 1.0);
    EXPECT_FALSE(costs.reliableRates(2, 3, 1));  // one direction only
    // Even when asked for none, an average needs one observation.
    EXPECT_FALSE(costs.reliableRates(2, 3, 0));
    costs.record(2, 3, true, 0.5, 1.0);
    EXPECT_FALSE(costs.reliableRates(2, 3, 2));
    EXPECT_TRUE(costs.reliableRates(2, 3, 1));
    EXPECT_FALSE(costs.reliableRates(3, 2, 1));
    costs.record(2, 3, true, 0.5, 1.0);
    EXPECT_TRUE(costs.reliableRates(2, 3, 2));
}

TEST(PseudoCosts, FallsAndEmptyMovesCountAsNoRise) {
    PseudoCosts costs;
    // A child's LP within the solver's tolerance below its parent's: no rise.
    costs.record(0, 1, true, 0.5, -1e-7);
    costs.record(0, 1, true, 0.5, std::numeric_limits<double>::quiet_NaN());
    costs.record(0, 1, true, 0.5, 4.5);
    // A branch that did not move the arc's value says nothing per unit, and
    // neither does a value that is not a number.
    costs.record(0, 1, false, 0.0, 5.0);
    costs.record(0, 1, false, -0.5, 5.0);
    costs.record(0, 1, false, std::numeric_limits<double>::quiet_NaN(), 5.0);
    EXPECT_FALSE(costs.reliableRates(0, 1, 1));
    costs.record(0, 1, false, 1.0, 7.0);
    const std::optional<PseudoCosts::Rates> rates = costs.reliableRates(0, 1, 1);
    ASSERT_TRUE(rates);
    EXPECT_DOUBLE_EQ(rates->forced, 3.0);
    EXPECT_DOUBLE_EQ(rates->forbidden, 7.0);
    EXPECT_FALSE(costs.reliableRates(0, 1, 2));
}

TEST(PseudoCosts, ThreadsRecordingAtOnceLoseNothing) {
    PseudoCosts costs;
    constexpr int Threads = 4;
    constexpr int Records = 2000;
    std::vector<std::thread> team;
    for (int thread = 0; thread < Threads; ++thread) {
        team.emplace_back([&costs, thread] {
            for (int k = 0; k < Records; ++k) {
                // Every thread writes the arc all share, and an arc of its own
                // (new map entries while others read).
                costs.record(0, 1, k % 2 == 0, 0.5, k % 4 < 2 ? 1.0 : 3.0);
                costs.record(static_cast<Node>(2 + thread), static_cast<Node>(k), true, 1.0, 2.0);
                (void)costs.reliableRates(0, 1, Records);
                (void)costs.reliableRates(static_cast<Node>(2 + (thread + 1) % Threads), 0, 1);
            }
        });
    }
    for (std::thread& thread : team) {
        thread.join();
    }
    EXPECT_TRUE(costs.reliableRates(0, 1, Threads * Records / 2));
    EXPECT_FALSE(costs.reliableRates(0, 1, Threads * Records / 2 + 1));
    // Rises of 1 and 3 by turns on each side, over 0.5: averages of exactly 4.
    const std::optional<PseudoCosts::Rates> rates = costs.reliableRates(0, 1, 1);
    ASSERT_TRUE(rates);
    EXPECT_DOUBLE_EQ(rates->forbidden, 4.0);
    EXPECT_DOUBLE_EQ(rates->forced, 4.0);
}

}  // namespace

}  // namespace atsp
