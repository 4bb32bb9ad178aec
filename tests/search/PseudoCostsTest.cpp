// Pseudocosts: averages per arc and per direction, what counts as seen, and
// the fallbacks a strong-branching rule leans on before an arc is reliable,
// and that a team of threads sharing one table loses no observation.
#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

#include "search/PseudoCosts.h"

namespace atsp {

namespace {

TEST(PseudoCosts, AveragesEachArcAndDirectionApart) {
    PseudoCosts costs;
    // Before anything is seen, every estimate is one unit.
    EXPECT_DOUBLE_EQ(costs.perUnit(0, 1, false), 1.0);
    EXPECT_DOUBLE_EQ(costs.perUnit(0, 1, true), 1.0);

    costs.record(0, 1, false, 0.5, 2.0);   // 4 per unit
    costs.record(0, 1, false, 0.25, 2.0);  // 8 per unit
    costs.record(1, 0, true, 0.5, 10.0);   // the reverse arc: 20 per unit
    EXPECT_DOUBLE_EQ(costs.perUnit(0, 1, false), 6.0);
    EXPECT_DOUBLE_EQ(costs.perUnit(1, 0, true), 20.0);
    // A direction the arc has not seen takes the average over all arcs of
    // that direction, not the arc's other direction.
    EXPECT_DOUBLE_EQ(costs.perUnit(0, 1, true), 20.0);
    EXPECT_DOUBLE_EQ(costs.perUnit(1, 0, false), 6.0);
    // The largest city numbers keep their arcs apart too.
    costs.record(65535, 0, false, 1.0, 30.0);
    EXPECT_DOUBLE_EQ(costs.perUnit(65535, 0, false), 30.0);
    EXPECT_DOUBLE_EQ(costs.perUnit(0, 65535, false), (4.0 + 8.0 + 30.0) / 3);
}

TEST(PseudoCosts, ReliableOnlyOnceBothDirectionsWereSeenOftenEnough) {
    PseudoCosts costs;
    costs.record(2, 3, false, 0.5, 1.0);
    costs.record(2, 3, false, 0.5, 1.0);
    costs.record(2, 3, true, 0.5, 1.0);
    EXPECT_FALSE(costs.reliable(2, 3, 2));
    EXPECT_TRUE(costs.reliable(2, 3, 1));
    EXPECT_FALSE(costs.reliable(3, 2, 1));
    costs.record(2, 3, true, 0.5, 1.0);
    EXPECT_TRUE(costs.reliable(2, 3, 2));
}

TEST(PseudoCosts, FallsAndEmptyMovesCountAsNoRise) {
    PseudoCosts costs;
    // A child's LP within the solver's tolerance below its parent's: no rise.
    costs.record(0, 1, true, 0.5, -1e-7);
    costs.record(0, 1, true, 0.5, std::numeric_limits<double>::quiet_NaN());
    costs.record(0, 1, true, 0.5, 4.5);
    EXPECT_DOUBLE_EQ(costs.perUnit(0, 1, true), 3.0);
    // A branch that did not move the arc's value says nothing per unit, and
    // neither does a value that is not a number.
    costs.record(0, 1, false, 0.0, 5.0);
    costs.record(0, 1, false, -0.5, 5.0);
    costs.record(0, 1, false, std::numeric_limits<double>::quiet_NaN(), 5.0);
    EXPECT_FALSE(costs.reliable(0, 1, 1));
    EXPECT_DOUBLE_EQ(costs.perUnit(0, 1, false), 1.0);
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
                costs.record(0, 1, k % 2 == 0, 0.5, 1.0);
                costs.record(static_cast<Node>(2 + thread), static_cast<Node>(k), true, 1.0, 2.0);
                (void)costs.reliable(0, 1, Records);
                (void)costs.perUnit(static_cast<Node>(2 + (thread + 1) % Threads), 0, true);
            }
        });
    }
    for (std::thread& thread : team) {
        thread.join();
    }
    EXPECT_TRUE(costs.reliable(0, 1, Threads * Records / 2));
    EXPECT_FALSE(costs.reliable(0, 1, Threads * Records / 2 + 1));
    EXPECT_DOUBLE_EQ(costs.perUnit(0, 1, false), 2.0);
    // The forced side's overall average: half the shared arc's records at 2
    // per unit, all of the own arcs' at 2: exactly 2.
    EXPECT_DOUBLE_EQ(costs.perUnit(0, 0, true), 2.0);
}

}  // namespace

}  // namespace atsp
