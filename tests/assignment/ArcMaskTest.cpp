// The arc mask: which arcs a node's constraints take out, and a solver that
// skips them behaving exactly as one working on lists with those arcs erased.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "assignment/ArcMask.h"
#include "assignment/AssignmentProblem.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeRows;
using testing_support::randomMatrix;
using testing_support::Rows;
using Lists = std::vector<std::vector<Node>>;

// The heads each row allows, in list order.
Lists allowedHeads(const ArcMask& mask, const Lists& successors) {
    Lists allowed(successors.size());
    for (Node row = 0; row < successors.size(); ++row) {
        const ArcMask::RowScan arcs = mask.scan(row, successors[row].size());
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (!mask.blocked(successors[row][k], arcs.stamp)) {
                allowed[row].push_back(successors[row][k]);
            }
        }
    }
    return allowed;
}

Node positionOf(const std::vector<Node>& row, Node head) {
    const auto found = std::find(row.begin(), row.end(), head);
    return found == row.end() ? NoNode : static_cast<Node>(found - row.begin());
}

class ArcMaskOnFourCities : public testing::Test {
  protected:
    Rows graph = completeRows(testing_support::constantMatrix(4, 1));
    ArcMask mask{4};
    void force(Node tail, Node head) {
        mask.force(tail, head, positionOf(graph.heads[tail], head));
    }
    Lists allowed() const { return allowedHeads(mask, graph.heads); }
};

TEST_F(ArcMaskOnFourCities, ForcingKeepsOnlyItsArcAndTakesItsHeadOutOfEveryOtherRow) {
    force(0, 2);
    // The reverse arc 2 -> 0 stays: nothing but the head's other entries goes.
    EXPECT_EQ(allowed(), (Lists{{2}, {0, 3}, {0, 1, 3}, {0, 1}}));
    mask.forbid(1, 3);
    EXPECT_EQ(allowed(), (Lists{{2}, {0}, {0, 1, 3}, {0, 1}}));
    EXPECT_EQ(mask.allowedArcs(1, graph.heads[1], 2), 1u);
    EXPECT_EQ(mask.allowedArcs(2, graph.heads[2], 2), 2u);
}

TEST_F(ArcMaskOnFourCities, ForcingAnArcItsRowLacksStillTakesItsHeadOutOfOtherRows) {
    mask.force(0, 2, NoNode);
    EXPECT_EQ(allowed(), (Lists{{1, 3}, {0, 3}, {0, 1, 3}, {0, 1}}));
}

TEST_F(ArcMaskOnFourCities, AForbiddenArcCanBeTakenBackAndClearingLiftsEverything) {
    mask.forbid(2, 1);
    mask.forbid(2, 1);
    EXPECT_EQ(allowed(), (Lists{{1, 2, 3}, {0, 2, 3}, {0, 3}, {0, 1, 2}}));
    mask.allowAgain(2, 1);  // one of the two forbids: still out
    EXPECT_EQ(allowed()[2], (std::vector<Node>{0, 3}));
    mask.allowAgain(2, 1);
    EXPECT_EQ(allowed()[2], (std::vector<Node>{0, 1, 3}));
    force(3, 0);
    mask.forbid(1, 2);
    mask.clear();
    EXPECT_EQ(allowed(), graph.heads);
}

// The lists a copy of the node's arcs would hold: forcing i -> j leaves row i
// only j and erases j from every other row; forbidding erases one entry.
struct Constraints {
    std::vector<std::pair<Node, Node>> forced;
    std::vector<std::pair<Node, Node>> forbidden;
};

Rows erasedLists(const Rows& graph, const Constraints& constraints) {
    Rows lists = graph;
    const auto erase = [&lists](Node row, Node head) {
        const Node position = positionOf(lists.heads[row], head);
        if (position != NoNode) {
            lists.heads[row].erase(lists.heads[row].begin() + position);
            lists.costs[row].erase(lists.costs[row].begin() + position);
        }
    };
    for (const auto& [tail, head] : constraints.forbidden) {
        erase(tail, head);
    }
    for (const auto& [tail, head] : constraints.forced) {
        for (Node row = 0; row < lists.heads.size(); ++row) {
            if (row != tail) {
                erase(row, head);
            }
        }
        const Node position = positionOf(lists.heads[tail], head);
        if (position != NoNode) {
            lists.heads[tail] = {head};
            lists.costs[tail] = {lists.costs[tail][position]};
        }
    }
    return lists;
}

void expectSameSolve(AssignmentProblem& masked, AssignmentProblem& listed) {
    ASSERT_EQ(masked.solutionValue(), listed.solutionValue());
    if (listed.solutionValue() == InfeasibleBound) {
        return;
    }
    EXPECT_EQ(masked.solution(), listed.solution());
    EXPECT_EQ(masked.rowDuals(), listed.rowDuals());
    EXPECT_EQ(masked.columnDuals(), listed.columnDuals());
    EXPECT_TRUE(masked.certifiesOptimality());
}

// Constraints as a search makes them (forced arcs of distinct tails and heads,
// forbidden arcs that are not forced), many of them in a few rows, with tie-
// heavy costs so that a wrongly skipped or kept arc changes a tie-break. Each
// case solves from scratch, then re-solves after forbidding assigned arcs one
// by one, as children do; every solve must match the one on erased lists to
// the last dual. One mask serves every case, so its stamps run out and start
// again many times over.
TEST(ArcMask, AMaskedProblemSolvesExactlyAsOneOnListsWithThoseArcsErased) {
    ArcMask mask(40);
    for (std::uint64_t seed = 0; seed < 300; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 2 + static_cast<int>(seed % 39);
        const std::int32_t highest = seed % 3 == 0 ? 2 : seed % 3 == 1 ? 20 : 1000000;
        const Rows rows = completeRows(randomMatrix(random, n, -3, highest));
        const Graph graph = rows.graph();
        SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n));
        std::uniform_int_distribution<int> city(0, n - 1);

        Constraints constraints;
        std::vector<bool> tailForced(n, false), headForced(n, false);
        for (int k = 0; k < n / 4; ++k) {
            const Node tail = city(random), head = city(random);
            if (tail != head && !tailForced[tail] && !headForced[head]) {
                tailForced[tail] = headForced[head] = true;
                constraints.forced.emplace_back(tail, head);
            }
        }
        const Node crowdedRow = city(random);
        for (int k = 0; k < n; ++k) {
            const Node tail = k % 2 == 0 ? crowdedRow : static_cast<Node>(city(random));
            const Node head = city(random);
            if (tail != head && !tailForced[tail]) {
                constraints.forbidden.emplace_back(tail, head);
            }
        }
        // Sized for the largest n: a mask only ever looks at cities below n.
        mask.clear();
        for (const auto& [tail, head] : constraints.forced) {
            mask.force(tail, head, positionOf(rows.heads[tail], head));
        }
        for (const auto& [tail, head] : constraints.forbidden) {
            mask.forbid(tail, head);
        }

        Graph lists = erasedLists(rows, constraints).graph();
        AssignmentProblem masked(graph);
        masked.setArcMask(&mask);
        AssignmentProblem listed(lists);
        masked.solveHungarian(false);
        listed.solveHungarian(false);
        expectSameSolve(masked, listed);

        for (int depth = 0; depth < 8 && listed.solutionValue() != InfeasibleBound; ++depth) {
            SCOPED_TRACE("depth " + std::to_string(depth));
            const Node tail = city(random);
            if (tailForced[tail]) {
                continue;
            }
            const Node head = listed.solution()[tail];
            constraints.forbidden.emplace_back(tail, head);
            mask.forbid(tail, head);
            masked.removeArc(tail, head);
            listed.removeArc(tail, head);
            lists = erasedLists(rows, constraints).graph();
            listed.setGraph(lists);
            masked.solveHungarian(true);
            listed.solveHungarian(true);
            expectSameSolve(masked, listed);

            if (listed.solutionValue() != InfeasibleBound) {
                // The compact state a node keeps rebuilds the same problem.
                AssignmentState state;
                masked.saveState(state);
                AssignmentProblem restored(graph);
                restored.setArcMask(&mask);
                restored.restoreState(state);
                expectSameSolve(restored, listed);
            }
        }
    }
}

}  // namespace

}  // namespace atsp
