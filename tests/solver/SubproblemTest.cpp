#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "solver/Subproblem.h"
#include "tests/support/TestGraphs.h"

namespace {

using testing_support::completeGraph;
using testing_support::Graph;
using testing_support::Matrix;

// Four cities whose arc i -> j costs 10 i + j, so every list entry names its
// arc: row i of the costs must always read 10 i + (the row's heads).
Matrix namedCostMatrix() {
    Matrix matrix(4, std::vector<std::int32_t>(4, -1));
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            if (i != j) {
                matrix[i][j] = 10 * i + j;
            }
        }
    }
    return matrix;
}

std::vector<std::int32_t> namedCostsOf(Node tail, const std::vector<Node>& heads) {
    std::vector<std::int32_t> rowCosts;
    for (Node head : heads) {
        rowCosts.push_back(10 * tail + head);
    }
    return rowCosts;
}

// Checks the lists against the expected heads per row, costs following them.
void expectRows(const Subproblem& node, const std::vector<std::vector<Node>>& expectedHeads) {
    ASSERT_EQ(node.successors.size(), expectedHeads.size());
    for (Node i = 0; i < expectedHeads.size(); ++i) {
        EXPECT_EQ(node.successors[i], expectedHeads[i]) << "row " << i;
        EXPECT_EQ(node.costs[i], namedCostsOf(i, expectedHeads[i])) << "costs of row " << i;
    }
}

std::unique_ptr<Subproblem> solvedRoot(const Graph& graph) {
    auto root = std::make_unique<Subproblem>(graph.successors, graph.costs);
    root->assignmentProblem.solveHungarian(false);
    root->lowerBound = root->assignmentProblem.solutionValue();
    return root;
}

std::unique_ptr<Subproblem> childOf(const Subproblem& parent) {
    return std::make_unique<Subproblem>(parent.successors, parent.costs, parent.assignmentProblem,
                                        parent.lowerBound);
}

class SubproblemListSurgery : public ::testing::Test {
  protected:
    Graph graph = completeGraph(namedCostMatrix());
    Subproblem node{graph.successors, graph.costs};
};

TEST_F(SubproblemListSurgery, RootBeforeItsFirstSolveCopiesTheGraphAndHasZeroState) {
    EXPECT_EQ(node.successors, graph.successors);
    EXPECT_EQ(node.costs, graph.costs);
    EXPECT_EQ(node.lowerBound, 0);
    EXPECT_EQ(node.minCycle, (std::pair<Node, Node>{0, 0}));
    EXPECT_EQ(node.currentNode, 0);
}

TEST_F(SubproblemListSurgery, ForcingAnArcKeepsOnlyItInItsRowAndRemovesItsHeadElsewhere) {
    node.setToOne(0, 2);
    // The reverse arc 2 -> 0 stays: nothing but the head's other entries goes.
    expectRows(node, {{2}, {0, 3}, {0, 1, 3}, {0, 1}});
    node.setToZero(1, 3);
    expectRows(node, {{2}, {0}, {0, 1, 3}, {0, 1}});
}

TEST_F(SubproblemListSurgery, ForcingAnArcMissingFromItsRowStillRemovesTheHeadFromOtherRows) {
    node.setToZero(0, 2);
    node.setToOne(0, 2);
    expectRows(node, {{1, 3}, {0, 3}, {0, 1, 3}, {0, 1}});
}

TEST_F(SubproblemListSurgery, ForbiddingAnArcErasesOnlyThatEntryKeepingTheOrder) {
    node.setToZero(2, 1);
    expectRows(node, {{1, 2, 3}, {0, 2, 3}, {0, 3}, {0, 1, 2}});
    node.setToZero(2, 1);  // no longer there: nothing changes
    expectRows(node, {{1, 2, 3}, {0, 2, 3}, {0, 3}, {0, 1, 2}});
}

TEST_F(SubproblemListSurgery, ForbiddingAMissingArcClearsTheAssignedRowOnlyIfItNamedThatHead) {
    node.assignmentProblem.solveHungarian(false);
    const std::vector<Node> assignment = node.assignmentProblem.solution();
    const Node head = assignment[0];
    // Forcing another row onto `head` takes it out of row 0's list while the
    // assignment still names it.
    const Node otherTail = head == 1 ? 2 : 1;
    node.setToOne(otherTail, head);
    const std::vector<std::vector<Node>> listsBefore = node.successors;

    node.setToZero(1, 1);  // never a list entry, never assigned
    EXPECT_EQ(node.successors, listsBefore);
    EXPECT_EQ(node.assignmentProblem.solution(), assignment);

    node.setToZero(0, head);
    EXPECT_EQ(node.successors, listsBefore);
    std::vector<Node> expectedAssignment = assignment;
    expectedAssignment[0] = NoNode;
    EXPECT_EQ(node.assignmentProblem.solution(), expectedAssignment);
}

// Rows longer than the blocks in which a head is looked for: the arc must be
// found at every position, the block edges included.
TEST(Subproblem, ForbiddingAndForcingFindTheArcAtEveryPositionOfALongRow) {
    const int n = 70;
    Matrix matrix(n, std::vector<std::int32_t>(n, -1));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (i != j) {
                matrix[i][j] = 1000 * i + j;
            }
        }
    }
    const Graph graph = completeGraph(matrix);
    for (Node head = 1; head < n; ++head) {
        SCOPED_TRACE("head " + std::to_string(head));
        Subproblem forbidding(graph.successors, graph.costs);
        forbidding.setToZero(0, head);
        std::vector<Node> expectedRow;
        std::vector<std::int32_t> expectedCosts;
        for (Node j = 1; j < n; ++j) {
            if (j != head) {
                expectedRow.push_back(j);
                expectedCosts.push_back(j);
            }
        }
        EXPECT_EQ(forbidding.successors[0], expectedRow);
        EXPECT_EQ(forbidding.costs[0], expectedCosts);

        Subproblem forcing(graph.successors, graph.costs);
        const Node tail = head == 5 ? 6 : 5;
        forcing.setToOne(tail, head);
        EXPECT_EQ(forcing.successors[tail], std::vector<Node>{head});
        EXPECT_EQ(forcing.costs[tail], std::vector<std::int32_t>{1000 * tail + head});
        for (Node other = 0; other < n; ++other) {
            const std::vector<Node>& row = forcing.successors[other];
            if (other != tail && other != head) {
                EXPECT_EQ(row.size(), static_cast<std::size_t>(n - 2)) << "row " << other;
                EXPECT_EQ(std::count(row.begin(), row.end(), head), 0) << "row " << other;
            }
        }
        EXPECT_EQ(forcing.successors[head], graph.successors[head]);
    }
}

TEST(Subproblem, ForcingAnAssignedArcChangesNeitherAssignmentNorBoundNorCycle) {
    const Graph graph = completeGraph(namedCostMatrix());
    auto node = solvedRoot(graph);
    node->updateMinCycle();
    const std::vector<Node> assignment = node->assignmentProblem.solution();
    const std::int64_t bound = node->lowerBound;
    const auto cycle = node->minCycle;
    const Node current = node->currentNode;

    node->setToOne(current, assignment[current]);

    EXPECT_EQ(node->assignmentProblem.solution(), assignment);
    EXPECT_EQ(node->lowerBound, bound);
    EXPECT_EQ(node->assignmentProblem.solutionValue(), bound);
    EXPECT_EQ(node->minCycle, cycle);
    EXPECT_EQ(node->currentNode, current);
}

TEST(Subproblem, ParentAndChildChangeIndependentlyAfterTheChildIsMade) {
    const Graph graph = completeGraph(namedCostMatrix());
    auto parent = solvedRoot(graph);
    const std::vector<Node> parentAssignment = parent->assignmentProblem.solution();
    const std::vector<std::int64_t> parentDualX = parent->assignmentProblem.dualVariablesX();
    const std::vector<std::int64_t> parentDualY = parent->assignmentProblem.dualVariablesY();
    auto child = childOf(*parent);

    const Node tail = 0;
    const Node head = parentAssignment[tail];
    child->setToZero(tail, head);
    EXPECT_EQ(parent->successors, graph.successors);
    EXPECT_EQ(parent->costs, graph.costs);
    EXPECT_EQ(parent->assignmentProblem.solution(), parentAssignment);

    child->updateAssignmentProblem();
    EXPECT_EQ(parent->assignmentProblem.solution(), parentAssignment);
    EXPECT_EQ(parent->assignmentProblem.dualVariablesX(), parentDualX);
    EXPECT_EQ(parent->assignmentProblem.dualVariablesY(), parentDualY);

    const std::vector<std::vector<Node>> childLists = child->successors;
    parent->setToOne(tail, head);
    EXPECT_EQ(child->successors, childLists);
}

TEST(Subproblem, ChildSolvesOnItsOwnListsEvenAfterItsParentIsGone) {
    // Arc 0 -> 1 is far cheaper than any other: a child that still read its
    // parent's lists would assign it again after forbidding it.
    Matrix matrix = {{-1, 0, 100, 100}, {0, -1, 100, 100}, {100, 100, -1, 0}, {100, 100, 0, -1}};
    const Graph graph = completeGraph(matrix);
    auto parent = solvedRoot(graph);
    ASSERT_EQ(parent->assignmentProblem.solution()[0], 1);
    auto child = childOf(*parent);
    parent.reset();

    child->setToZero(0, 1);
    child->updateAssignmentProblem();

    const std::vector<Node>& assignment = child->assignmentProblem.solution();
    EXPECT_NE(assignment[0], 1);
    std::int64_t summedCost = 0;
    for (Node i = 0; i < 4; ++i) {
        summedCost += matrix[i][assignment[i]];
    }
    EXPECT_EQ(child->lowerBound, summedCost);
}

TEST(Subproblem, ChildReportsItsParentsBoundUntilItIsResolved) {
    const Graph graph = completeGraph(namedCostMatrix());
    auto parent = solvedRoot(graph);
    auto child = std::make_unique<Subproblem>(parent->successors, parent->costs,
                                              parent->assignmentProblem, 12345);
    EXPECT_EQ(child->lowerBound, 12345);
    child->setToZero(0, parent->assignmentProblem.solution()[0]);
    EXPECT_EQ(child->lowerBound, 12345);
    child->updateAssignmentProblem();
    EXPECT_EQ(child->lowerBound, child->assignmentProblem.solutionValue());
}

TEST(Subproblem, ForbiddingTheLastArcOfARowMakesTheBoundInfeasible) {
    const Graph graph = completeGraph({{-1, 5}, {7, -1}});
    auto parent = solvedRoot(graph);
    auto child = childOf(*parent);
    child->setToZero(0, 1);
    child->updateAssignmentProblem();
    EXPECT_TRUE(child->successors[0].empty());
    EXPECT_EQ(child->lowerBound, InfeasibleBound);
}

TEST(Subproblem, TwoCitiesSolveToTheTourAsTheirShortestCycle) {
    const Graph graph = completeGraph({{-1, 5}, {7, -1}});
    auto root = solvedRoot(graph);
    root->updateMinCycle();
    EXPECT_EQ(root->lowerBound, 12);
    EXPECT_EQ(root->minCycle, (std::pair<Node, Node>{0, 2}));
    EXPECT_EQ(root->currentNode, 0);
}

// Walks the protocol along a subtour: each child forbids its arc and has
// every earlier arc of the cycle forced; the node ends up forcing all of it.
TEST(Subproblem, ChildrenAlongTheCycleForceEveryEarlierArcAndForbidTheirOwn) {
    // Cheap 3-cycles 0-1-2 and 3-4-5: the shortest cycle starts at 0.
    Matrix matrix(6, std::vector<std::int32_t>(6, 50));
    for (int i = 0; i < 6; ++i) {
        matrix[i][i] = -1;
    }
    matrix[0][1] = matrix[1][2] = matrix[2][0] = 1;
    matrix[3][4] = matrix[4][5] = matrix[5][3] = 1;
    const Graph graph = completeGraph(matrix);
    auto node = solvedRoot(graph);
    node->updateMinCycle();
    ASSERT_EQ(node->minCycle, (std::pair<Node, Node>{0, 3}));
    const std::vector<Node> assignment = node->assignmentProblem.solution();

    std::vector<std::pair<Node, Node>> earlierArcs;
    for (Node step = 0; step < node->minCycle.second; ++step) {
        const Node tail = node->currentNode;
        const Node head = assignment[tail];
        ASSERT_GE(node->successors[tail].size(), 2u);
        auto child = childOf(*node);
        child->setToZero(tail, head);
        node->setToOne(tail, head);
        const std::vector<Node>& childRow = child->successors[tail];
        EXPECT_EQ(std::count(childRow.begin(), childRow.end(), head), 0);
        for (const auto& [forcedTail, forcedHead] : earlierArcs) {
            EXPECT_EQ(child->successors[forcedTail], std::vector<Node>{forcedHead});
            for (Node other = 0; other < 6; ++other) {
                const std::vector<Node>& row = child->successors[other];
                if (other != forcedTail) {
                    EXPECT_EQ(std::count(row.begin(), row.end(), forcedHead), 0);
                }
            }
        }
        earlierArcs.emplace_back(tail, head);
        node->currentNode = head;
    }
    EXPECT_EQ(node->currentNode, node->minCycle.first);
    for (const auto& [tail, head] : earlierArcs) {
        EXPECT_EQ(node->successors[tail], std::vector<Node>{head});
    }
}

}  // namespace
