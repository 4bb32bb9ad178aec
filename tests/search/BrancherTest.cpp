// The node protocol: a root solved on the whole graph, and the walk along a
// node's cycle, whose children forbid their own arc and inherit every earlier
// one forced, seen through the arcs each node allows.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "presolve/Presolve.h"
#include "search/Brancher.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeGraph;
using testing_support::HeadLists;
using testing_support::Matrix;

bool holds(const std::vector<Node>& row, Node head) {
    return std::find(row.begin(), row.end(), head) != row.end();
}

// The root as the search as first built makes it.
std::unique_ptr<Subproblem> solvedRoot(const Graph& graph) {
    Presolve presolve(graph, PresolveSteps::none());
    const RootSolution root = presolve.solveRoot();
    auto node = std::make_unique<Subproblem>();
    node->lowerBound = root.bound;
    node->assignment = root.assignment;
    node->minCycle = root.minCycle;
    node->currentNode = root.minCycle.first;
    return node;
}

TEST(Brancher, TwoCitiesSolveToTheTourAsTheirShortestCycle) {
    const Graph graph = completeGraph({{-1, 5}, {7, -1}});
    Brancher brancher(graph, false);
    const std::unique_ptr<Subproblem> root = solvedRoot(graph);
    EXPECT_EQ(root->lowerBound, 12);
    EXPECT_EQ(root->minCycle, (std::pair<Node, Node>{0, 2}));
    EXPECT_EQ(root->currentNode, 0);
    EXPECT_EQ(brancher.successorsOf(*root), (std::vector<Node>{1, 0}));
    EXPECT_EQ(brancher.allowedArcs(*root), testing_support::rowsOf(graph).heads);
}

TEST(Brancher, ARootWithoutACompleteAssignmentIsInfeasible) {
    const Graph graph = completeGraph({{-1}});
    EXPECT_EQ(solvedRoot(graph)->lowerBound, InfeasibleBound);
}

// Walks a subtour one child per call: child r forbids arc r and has arcs
// 1 .. r-1 forced, and keeps exactly that while its node forces further arcs;
// the node keeps its assignment and bound throughout.
TEST(Brancher, ChildrenAlongTheCycleForceEveryEarlierArcAndForbidTheirOwn) {
    // Cheap 3-cycles 0-1-2, 3-4-5 and 6-7-8, the first also cheap backwards:
    // the shortest cycle starts at 0, and no child is a tour (merging two
    // cycles still leaves the third).
    Matrix matrix(9, std::vector<std::int32_t>(9, 50));
    for (int first = 0; first < 9; first += 3) {
        matrix[first][first + 1] = matrix[first + 1][first + 2] = matrix[first + 2][first] = 1;
    }
    matrix[0][2] = matrix[2][1] = matrix[1][0] = 2;
    const Graph graph = completeGraph(matrix);
    Brancher brancher(graph, false);
    std::unique_ptr<Subproblem> node = solvedRoot(graph);
    ASSERT_EQ(node->minCycle, (std::pair<Node, Node>{0, 3}));
    const std::vector<Node> assignment = brancher.successorsOf(*node);
    const AssignmentState state = node->assignment;
    const std::int64_t bound = node->lowerBound;

    std::vector<std::pair<Node, Node>> cycleArcs;
    std::vector<std::unique_ptr<Subproblem>> children;
    std::vector<HeadLists> childArcs;
    for (bool exhausted = false; !exhausted;) {
        const Node tail = node->currentNode;
        BranchOutcome outcome = brancher.branch(*node, InfeasibleBound);
        EXPECT_EQ(outcome.childrenMade, 1);
        ASSERT_TRUE(outcome.child);
        ASSERT_FALSE(outcome.foundTour());
        cycleArcs.emplace_back(tail, assignment[tail]);
        childArcs.push_back(brancher.allowedArcs(*outcome.child));
        children.push_back(std::move(outcome.child));
        exhausted = outcome.cycleExhausted;
        EXPECT_EQ(node->assignment.assignedArcs, state.assignedArcs);
        EXPECT_EQ(node->assignment.columnDuals, state.columnDuals);
        EXPECT_EQ(node->lowerBound, bound);
    }
    ASSERT_EQ(cycleArcs.size(), 3u);
    EXPECT_EQ(node->currentNode, node->minCycle.first);

    for (std::size_t r = 0; r < children.size(); ++r) {
        SCOPED_TRACE("child " + std::to_string(r));
        const HeadLists allowed = brancher.allowedArcs(*children[r]);
        EXPECT_EQ(allowed, childArcs[r]);
        const auto [tail, head] = cycleArcs[r];
        EXPECT_FALSE(holds(allowed[tail], head));
        for (std::size_t earlier = 0; earlier < r; ++earlier) {
            const auto [forcedTail, forcedHead] = cycleArcs[earlier];
            EXPECT_EQ(allowed[forcedTail], std::vector<Node>{forcedHead});
            for (Node other = 0; other < 9; ++other) {
                if (other != forcedTail) {
                    EXPECT_FALSE(holds(allowed[other], forcedHead)) << "row " << other;
                }
            }
        }
    }
}

TEST(Brancher, AChildThatOnlyTiesTheBestKnownCostIsPruned) {
    // Two free 2-cycles; forbidding an arc of one leaves tours of cost 20.
    Matrix matrix = testing_support::constantMatrix(4, 10);
    matrix[0][1] = matrix[1][0] = matrix[2][3] = matrix[3][2] = 0;
    const Graph graph = completeGraph(matrix);
    Brancher brancher(graph, false);

    std::unique_ptr<Subproblem> node = solvedRoot(graph);
    BranchOutcome tied = brancher.branch(*node, 20);
    EXPECT_EQ(tied.childrenMade, 2);
    EXPECT_TRUE(tied.cycleExhausted);
    EXPECT_FALSE(tied.foundTour());
    EXPECT_FALSE(tied.child);

    node = solvedRoot(graph);
    BranchOutcome cheaper = brancher.branch(*node, 21);
    EXPECT_EQ(cheaper.childrenMade, 1);
    EXPECT_FALSE(cheaper.cycleExhausted);
    ASSERT_TRUE(cheaper.foundTour());
    EXPECT_EQ(cheaper.tourCost, 20);
    EXPECT_EQ(testing_support::tourCost(matrix, cheaper.tour), 20);
    EXPECT_TRUE(testing_support::isSingleCycle(cheaper.tour));
}

}  // namespace

}  // namespace atsp
