// Constraint chains: what a node's chain puts in a mask, arc by arc or in a
// batch, and that extending a chain leaves the chains it extends as they were
// (siblings share their parent's records).
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "assignment/ArcMask.h"
#include "search/ConstraintChain.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

// The heads each row allows under the chain, in row order.
std::vector<std::vector<Node>> allowedHeads(const ConstraintChain& chain, const Graph& graph) {
    ArcMask mask(graph.cityCount());
    chain.applyTo(mask);
    std::vector<std::vector<Node>> allowed(graph.cityCount());
    for (Node row = 0; row < graph.cityCount(); ++row) {
        const ArcMask::RowScan arcs = mask.scan(row, graph.rowLength(row));
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (!mask.blocked(graph.successors(row)[k], arcs.stamp)) {
                allowed[row].push_back(graph.successors(row)[k]);
            }
        }
    }
    return allowed;
}

TEST(ConstraintChain, ABatchForbidsEachOfItsArcsAndSiblingsKeepTheirParents) {
    const Graph graph =
        testing_support::completeGraph(testing_support::constantMatrix(5, 1));
    const ConstraintChain root;
    const ConstraintChain parent = root.withForced(0, 1, graph.arcPosition(0, 1));
    const std::vector<std::pair<Node, Node>> batch{{2, 3}, {2, 4}, {4, 0}};
    const ConstraintChain fixed = parent.withForbidden(batch);
    const ConstraintChain forbidding = fixed.withForbidden(3, 2);
    const ConstraintChain forcing = fixed.withForced(3, 2, graph.arcPosition(3, 2));

    // Forcing 0 -> 1 leaves row 0 only that arc and takes 1 out of the others.
    const std::vector<std::vector<Node>> underParent{{1}, {0, 2, 3, 4}, {0, 3, 4}, {0, 2, 4},
                                                     {0, 2, 3}};
    EXPECT_EQ(allowedHeads(parent, graph), underParent);
    const std::vector<std::vector<Node>> underFixed{{1}, {0, 2, 3, 4}, {0}, {0, 2, 4}, {2, 3}};
    EXPECT_EQ(allowedHeads(fixed, graph), underFixed);
    std::vector<std::vector<Node>> underForbidding = underFixed;
    underForbidding[3] = {0, 4};
    EXPECT_EQ(allowedHeads(forbidding, graph), underForbidding);
    // Forcing 3 -> 2 leaves row 3 only that arc and takes 2 out of rows 1 and 4.
    const std::vector<std::vector<Node>> underForcing{{1}, {0, 3, 4}, {0}, {2}, {3}};
    EXPECT_EQ(allowedHeads(forcing, graph), underForcing);
    // The chains extended are unchanged, and an empty batch adds no record.
    EXPECT_EQ(allowedHeads(fixed, graph), underFixed);
    EXPECT_EQ(allowedHeads(parent, graph), underParent);
    EXPECT_TRUE(parent.withForbidden(std::vector<std::pair<Node, Node>>{}).sameAs(parent));
    EXPECT_FALSE(fixed.sameAs(parent));
}

}  // namespace

}  // namespace atsp
