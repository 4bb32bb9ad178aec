#include <gtest/gtest.h>

#include "assignment/AlternatingTree.h"

namespace atsp {

TEST(AlternatingTreeTest, HoldsOnlyTheRootUntilRowsAreAdded) {
    AlternatingTree tree(4, 2);
    EXPECT_EQ(tree.root(), 2);
    for (Node row = 0; row < 4; ++row) {
        EXPECT_EQ(tree.contains(row), row == 2) << "row " << row;
        EXPECT_EQ(tree.parentOf(row), 0) << "row " << row;
    }
}

TEST(AlternatingTreeTest, AddRecordsTheParentAndAReAddReplacesIt) {
    AlternatingTree tree(4, 2);
    tree.add(3, 2);
    tree.add(0, 3);
    EXPECT_TRUE(tree.contains(3));
    EXPECT_TRUE(tree.contains(0));
    EXPECT_FALSE(tree.contains(1));
    EXPECT_EQ(tree.parentOf(0), 3);
    tree.add(0, 1);  // the parent need not be in the tree
    EXPECT_EQ(tree.parentOf(0), 1);
    EXPECT_EQ(tree.root(), 2);
}

// The checks must stay active in Release builds and name file, function and
// condition in the standard assertion message.
TEST(AlternatingTreeDeathTest, RowsOutsideTheTreeBoundEndTheProgram) {
    AlternatingTree tree(3, 0);
    const std::string file = "assignment/AlternatingTree\\.cpp:[0-9]+: ";
    EXPECT_DEATH(tree.add(3, 0),
                 file + "void atsp::AlternatingTree::add\\(atsp::Node, atsp::Node\\): " +
                     "Assertion `node < halfNodes' failed");
    EXPECT_DEATH(tree.add(0, 3),
                 file + "void atsp::AlternatingTree::add\\(atsp::Node, atsp::Node\\): " +
                     "Assertion `parent < halfNodes' failed");
    EXPECT_DEATH(tree.add(5, 7), "Assertion `node < halfNodes' failed");
    EXPECT_DEATH(tree.parentOf(3),
                 file + "atsp::Node atsp::AlternatingTree::parentOf\\(atsp::Node\\) const: " +
                     "Assertion `node < halfNodes' failed");
    EXPECT_DEATH(tree.contains(NoNode),
                 file + "bool atsp::AlternatingTree::contains\\(atsp::Node\\) const: " +
                     "Assertion `node < halfNodes' failed");
}

}  // namespace atsp
