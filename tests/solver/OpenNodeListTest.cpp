#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "solver/OpenNodeList.h"

namespace {

// Open nodes told apart by identity; only their bounds matter to the list.
class OpenNodeListOrder : public ::testing::Test {
  protected:
    Subproblem* add(std::int64_t bound) { return remember(list.insert(nodeWithBound(bound))); }

    Subproblem* addChildBehind(OpenNodeList::Position parent, std::int64_t bound) {
        std::unique_ptr<Subproblem> child = nodeWithBound(bound);
        Subproblem* identity = child.get();
        list.insertBehind(parent, std::move(child));
        return identity;
    }

    std::unique_ptr<Subproblem> nodeWithBound(std::int64_t bound) {
        auto node = std::make_unique<Subproblem>(emptySuccessors, emptyCosts);
        node->lowerBound = bound;
        return node;
    }

    Subproblem* remember(OpenNodeList::Position position) {
        lastPosition = position;
        return position->get();
    }

    std::vector<Subproblem*> takeAll() {
        std::vector<Subproblem*> order;
        while (!list.empty()) {
            taken.push_back(list.takeFront());
            order.push_back(taken.back().get());
        }
        return order;
    }

    SuccessorLists emptySuccessors;
    ArcCosts emptyCosts;
    OpenNodeList list;
    OpenNodeList::Position lastPosition;
    std::vector<std::unique_ptr<Subproblem>> taken;
};

TEST_F(OpenNodeListOrder, TheLeastBoundComesFirst) {
    Subproblem* seven = add(7);
    Subproblem* three = add(3);
    Subproblem* five = add(5);
    EXPECT_EQ(takeAll(), (std::vector<Subproblem*>{three, five, seven}));
}

TEST_F(OpenNodeListOrder, ANewNodeGoesAheadOfOlderNodesOfEqualBound) {
    Subproblem* older = add(5);
    Subproblem* newer = add(5);
    Subproblem* newest = add(5);
    EXPECT_EQ(takeAll(), (std::vector<Subproblem*>{newest, newer, older}));
}

TEST_F(OpenNodeListOrder, AChildOfEqualBoundLandsRightBehindItsParent) {
    Subproblem* low = add(3);
    Subproblem* olderEqual = add(5);
    Subproblem* high = add(7);
    Subproblem* parent = add(5);
    Subproblem* child = addChildBehind(lastPosition, 5);
    EXPECT_EQ(takeAll(), (std::vector<Subproblem*>{low, parent, child, olderEqual, high}));
}

TEST_F(OpenNodeListOrder, AChildOfGreaterBoundGoesAheadOfOlderNodesOfItsOwnBound) {
    Subproblem* parent = add(5);
    const OpenNodeList::Position parentPosition = lastPosition;
    Subproblem* olderSix = add(6);
    Subproblem* eight = add(8);
    Subproblem* child = addChildBehind(parentPosition, 6);
    EXPECT_EQ(takeAll(), (std::vector<Subproblem*>{parent, child, olderSix, eight}));
}

TEST_F(OpenNodeListOrder, AChildBehindTheLastEntryGoesToTheBack) {
    Subproblem* low = add(1);
    Subproblem* parent = add(9);
    Subproblem* child = addChildBehind(lastPosition, 9);
    EXPECT_EQ(takeAll(), (std::vector<Subproblem*>{low, parent, child}));
}

TEST_F(OpenNodeListOrder, DroppingFromABoundKeepsOnlyTheNodesBelowItInTheirOrder) {
    Subproblem* low = add(2);
    add(9);
    Subproblem* olderFour = add(4);
    Subproblem* newerFour = add(4);
    add(5);
    list.dropFrom(5);
    EXPECT_EQ(takeAll(), (std::vector<Subproblem*>{low, newerFour, olderFour}));
}

TEST_F(OpenNodeListOrder, DroppingBelowEveryBoundEmptiesTheList) {
    add(3);
    add(1);
    list.dropFrom(1);
    EXPECT_TRUE(list.empty());
}

TEST_F(OpenNodeListOrder, ManyInsertionsStaySortedAndLoseNoNode) {
    std::mt19937_64 random(7);
    std::uniform_int_distribution<std::int64_t> bound(0, 9);
    for (int count = 0; count < 200; ++count) {
        if (count % 3 == 2) {
            addChildBehind(lastPosition, lastPosition->get()->lowerBound + bound(random));
        } else {
            add(bound(random));
        }
    }
    EXPECT_EQ(list.size(), 200u);
    const std::vector<Subproblem*> order = takeAll();
    ASSERT_EQ(order.size(), 200u);
    for (std::size_t k = 1; k < order.size(); ++k) {
        EXPECT_LE(order[k - 1]->lowerBound, order[k]->lowerBound) << "at " << k;
    }
}

}  // namespace
