#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <list>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "parallel/BestFirstList.h"

namespace atsp {

namespace {

// Only its bound matters to the list; nodes are told apart by identity.
struct BoundedNode {
    std::int64_t lowerBound = 0;
};
using List = BestFirstList<BoundedNode>;

// Open nodes told apart by identity; only their bounds matter to the list.
class BestFirstListOrder : public ::testing::Test {
  protected:
    BoundedNode* add(std::int64_t bound) { return remember(list.insert(nodeWithBound(bound))); }

    BoundedNode* addChildBehind(List::Position parent, std::int64_t bound) {
        std::unique_ptr<BoundedNode> child = nodeWithBound(bound);
        BoundedNode* identity = child.get();
        list.insertBehind(parent, std::move(child));
        return identity;
    }

    std::unique_ptr<BoundedNode> nodeWithBound(std::int64_t bound) {
        auto node = std::make_unique<BoundedNode>();
        node->lowerBound = bound;
        return node;
    }

    BoundedNode* remember(List::Position position) {
        lastPosition = position;
        return position->get();
    }

    std::vector<BoundedNode*> takeAll() {
        std::vector<BoundedNode*> order;
        while (!list.empty()) {
            taken.push_back(list.takeFront());
            order.push_back(taken.back().get());
        }
        return order;
    }

    List list;
    List::Position lastPosition;
    std::vector<std::unique_ptr<BoundedNode>> taken;
};

TEST_F(BestFirstListOrder, TheLeastBoundComesFirst) {
    BoundedNode* seven = add(7);
    BoundedNode* three = add(3);
    BoundedNode* five = add(5);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{three, five, seven}));
}

TEST_F(BestFirstListOrder, ANewNodeGoesAheadOfOlderNodesOfEqualBound) {
    BoundedNode* older = add(5);
    BoundedNode* newer = add(5);
    BoundedNode* newest = add(5);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{newest, newer, older}));
}

TEST_F(BestFirstListOrder, AChildOfEqualBoundLandsRightBehindItsParent) {
    BoundedNode* low = add(3);
    BoundedNode* olderEqual = add(5);
    BoundedNode* high = add(7);
    BoundedNode* parent = add(5);
    BoundedNode* child = addChildBehind(lastPosition, 5);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{low, parent, child, olderEqual, high}));
}

TEST_F(BestFirstListOrder, AChildOfGreaterBoundGoesAheadOfOlderNodesOfItsOwnBound) {
    BoundedNode* parent = add(5);
    const List::Position parentPosition = lastPosition;
    BoundedNode* olderSix = add(6);
    BoundedNode* eight = add(8);
    BoundedNode* child = addChildBehind(parentPosition, 6);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{parent, child, olderSix, eight}));
}

TEST_F(BestFirstListOrder, AChildBehindTheLastEntryGoesToTheBack) {
    BoundedNode* low = add(1);
    BoundedNode* parent = add(9);
    BoundedNode* child = addChildBehind(lastPosition, 9);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{low, parent, child}));
}

TEST_F(BestFirstListOrder, DroppingFromABoundKeepsOnlyTheNodesBelowItInTheirOrder) {
    BoundedNode* low = add(2);
    add(9);
    BoundedNode* olderFour = add(4);
    BoundedNode* newerFour = add(4);
    add(5);
    list.dropFrom(5);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{low, newerFour, olderFour}));
}

TEST_F(BestFirstListOrder, DroppingBelowEveryBoundEmptiesTheList) {
    add(3);
    add(1);
    list.dropFrom(1);
    EXPECT_TRUE(list.empty());
}

TEST_F(BestFirstListOrder, ManyInsertionsStaySortedAndLoseNoNode) {
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
    const std::vector<BoundedNode*> order = takeAll();
    ASSERT_EQ(order.size(), 200u);
    for (std::size_t k = 1; k < order.size(); ++k) {
        EXPECT_LE(order[k - 1]->lowerBound, order[k]->lowerBound) << "at " << k;
    }
}

// ---- The index against the list's own order, at the smallest sizes ----

TEST_F(BestFirstListOrder, TakingTheOnlyNodeLeavesAListThatFilesTheNextNodeCorrectly) {
    add(4);
    taken.push_back(list.takeFront());
    EXPECT_TRUE(list.empty());
    BoundedNode* five = add(5);
    BoundedNode* four = add(4);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{four, five}));
}

TEST_F(BestFirstListOrder, TakingTheFirstOfTwoEqualBoundsKeepsNewerNodesAheadOfTheSecond) {
    BoundedNode* older = add(4);
    add(4);
    taken.push_back(list.takeFront());
    BoundedNode* newer = add(4);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{newer, older}));
}

TEST_F(BestFirstListOrder, TakingTheLastNodeOfABoundLetsTheNextBoundLeadAfterwards) {
    add(2);
    BoundedNode* three = add(3);
    taken.push_back(list.takeFront());
    BoundedNode* newerThree = add(3);
    BoundedNode* two = add(2);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{two, newerThree, three}));
}

TEST_F(BestFirstListOrder, DroppingFromAnEmptyListOrAboveEveryBoundChangesNothing) {
    list.dropFrom(0);
    EXPECT_TRUE(list.empty());
    BoundedNode* one = add(1);
    BoundedNode* two = add(2);
    list.dropFrom(3);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{one, two}));
}

TEST_F(BestFirstListOrder, NodesFiledAfterADropLandAmongTheSurvivorsByTheSameRule) {
    BoundedNode* olderTwo = add(2);
    add(6);
    add(8);
    list.dropFrom(6);
    BoundedNode* seven = add(7);
    BoundedNode* newerTwo = add(2);
    BoundedNode* child = addChildBehind(lastPosition, 2);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{newerTwo, child, olderTwo, seven}));
}

TEST_F(BestFirstListOrder, AChildOfEqualBoundBehindAParentWithOlderEqualsStaysAheadOfThem) {
    BoundedNode* oldest = add(5);
    BoundedNode* older = add(5);
    BoundedNode* parent = add(5);
    BoundedNode* child = addChildBehind(lastPosition, 5);
    BoundedNode* newest = add(5);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{newest, parent, child, older, oldest}));
}

TEST_F(BestFirstListOrder, ClearingEmptiesTheListAndLeavesItReadyForNewNodes) {
    add(1);
    add(1);
    list.clear();
    EXPECT_TRUE(list.empty());
    BoundedNode* three = add(3);
    BoundedNode* one = add(1);
    EXPECT_EQ(takeAll(), (std::vector<BoundedNode*>{one, three}));
}

// ---- The same order as a plain walk from the front, under search-shaped traffic ----

// The list's order, placed by a walk over the entries: the meaning of the
// indexed list's rules, kept plain so that it is evidently right.
class WalkedOpenList {
  public:
    struct Entry {
        std::int64_t bound;
        int identity;
    };
    using Position = std::list<Entry>::iterator;

    Position insert(Entry entry) { return insertFrom(entries.begin(), entry); }

    void insertBehind(Position parent, Entry child) { insertFrom(std::next(parent), child); }

    Entry takeFront() {
        const Entry front = entries.front();
        entries.pop_front();
        return front;
    }

    void dropFrom(std::int64_t bound) {
        while (!entries.empty() && entries.back().bound >= bound) {
            entries.pop_back();
        }
    }

    // Every other entry from the second on, up to `count`, at most half.
    std::vector<int> giveAlternate(std::size_t count) {
        count = std::min(count, entries.size() / 2);
        std::vector<int> given;
        Position entry = entries.begin();
        for (std::size_t k = 0; k < count; ++k) {
            ++entry;
            given.push_back(entry->identity);
            entry = entries.erase(entry);
        }
        return given;
    }
    std::size_t size() const { return entries.size(); }

    bool empty() const { return entries.empty(); }
    std::vector<int> identities() const {
        std::vector<int> order;
        for (const Entry& entry : entries) {
            order.push_back(entry.identity);
        }
        return order;
    }

  private:
    Position insertFrom(Position searchStart, Entry entry) {
        const Position place = std::find_if(searchStart, entries.end(), [&](const Entry& open) {
            return open.bound >= entry.bound;
        });
        return entries.insert(place, entry);
    }

    std::list<Entry> entries;
};

// How one random run draws its bounds: a narrow range makes ties the rule.
struct TrafficShape {
    const char* name;
    std::int64_t rootBoundRange;
    std::int64_t childIncreaseRange;
};

std::ostream& operator<<(std::ostream& out, const TrafficShape& shape) {
    return out << shape.name << " traffic";
}

// Drives the indexed list and the walked list through the same operations, in
// the proportions of a search (take the front; file it back with a child of
// equal or greater bound, or a child alone, or nothing; now and then a tour
// drops the back; now and then a hand-off takes the second node), and checks
// that both give up the same nodes in the same order, and hold the same nodes
// in the same order at the end.
class IndexedAgainstWalkedList : public ::testing::TestWithParam<TrafficShape> {
  protected:
    std::unique_ptr<BoundedNode> nodeWithBound(std::int64_t bound, int identity) {
        auto node = std::make_unique<BoundedNode>();
        node->lowerBound = bound;
        identityOf[node.get()] = identity;
        return node;
    }

    // Files a node in both lists, and with it, when asked, a child behind it.
    void fileNode(std::unique_ptr<BoundedNode> node, int identity, bool withChild,
                  std::int64_t childBound, int childIdentity) {
        const std::int64_t bound = node->lowerBound;
        const List::Position indexedParent = indexed.insert(std::move(node));
        const WalkedOpenList::Position walkedParent = walked.insert({bound, identity});
        if (withChild) {
            indexed.insertBehind(indexedParent, nodeWithBound(childBound, childIdentity));
            walked.insertBehind(walkedParent, {childBound, childIdentity});
        }
    }

    // The indexed list's remaining order, read by taking every node.
    std::vector<int> drainIndexed() {
        std::vector<int> order;
        while (!indexed.empty()) {
            order.push_back(identityOf.at(indexed.takeFront().get()));
        }
        return order;
    }

    List indexed;
    WalkedOpenList walked;
    std::unordered_map<const BoundedNode*, int> identityOf;
};

TEST_P(IndexedAgainstWalkedList, TakesTheSameNodesInTheSameOrderAsAWalkFromTheFront) {
    const TrafficShape shape = GetParam();
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        std::mt19937_64 random(seed);
        std::uniform_int_distribution<std::int64_t> rootBound(0, shape.rootBoundRange);
        std::uniform_int_distribution<std::int64_t> increase(0, shape.childIncreaseRange);
        std::uniform_int_distribution<int> percent(0, 99);
        const int operations = 300 + static_cast<int>(seed % 7) * 100;
        indexed.clear();
        walked = WalkedOpenList();
        identityOf.clear();
        int nextIdentity = 0;
        std::int64_t bestTour = std::numeric_limits<std::int64_t>::max();
        std::vector<int> takenIndexed;
        std::vector<int> takenWalked;

        for (int step = 0; step < operations; ++step) {
            ASSERT_EQ(indexed.empty(), walked.empty())
                << shape.name << " traffic, seed " << seed << ", step " << step;
            if (indexed.empty()) {
                const int identity = nextIdentity++;
                fileNode(nodeWithBound(rootBound(random), identity), identity, false, 0, 0);
                continue;
            }
            std::unique_ptr<BoundedNode> front = indexed.takeFront();
            const WalkedOpenList::Entry walkedFront = walked.takeFront();
            takenIndexed.push_back(identityOf.at(front.get()));
            takenWalked.push_back(walkedFront.identity);
            const std::int64_t childBound = front->lowerBound + increase(random);
            const int draw = percent(random);
            if (draw < 55) {
                // The node goes back with a surviving child.
                fileNode(std::move(front), walkedFront.identity, true, childBound, nextIdentity++);
            } else if (draw < 70) {
                // The cycle is exhausted: the last child goes in alone.
                const int identity = nextIdentity++;
                fileNode(nodeWithBound(childBound, identity), identity, false, 0, 0);
            } else if (draw < 80) {
                // A child was a tour: the back goes, and the node goes back if it
                // still beats the tour.
                bestTour = std::min(bestTour, childBound);
                indexed.dropFrom(bestTour);
                walked.dropFrom(bestTour);
                if (front->lowerBound < bestTour) {
                    fileNode(std::move(front), walkedFront.identity, false, 0, 0);
                }
            } else if (draw < 90) {
                // The node goes back alone (its child was pruned): as a fresh
                // insertion it goes ahead of older nodes of its bound.
                fileNode(std::move(front), walkedFront.identity, false, 0, 0);
            }
            // Otherwise the node is dropped: pruned or exhausted.
            if (takenIndexed.back() != takenWalked.back()) {
                break;
            }
            if (percent(random) < 10 && walked.size() >= 2) {
                // A hand-off takes every other node from the second on, up
                // to a count, and at most half the list.
                const std::size_t count = 1 + static_cast<std::size_t>(percent(random) % 6);
                std::vector<std::unique_ptr<BoundedNode>> given;
                indexed.give(given, count);
                for (const std::unique_ptr<BoundedNode>& node : given) {
                    takenIndexed.push_back(identityOf.at(node.get()));
                }
                for (const int identity : walked.giveAlternate(count)) {
                    takenWalked.push_back(identity);
                }
            }
        }
        ASSERT_EQ(takenIndexed, takenWalked)
            << shape.name << " traffic, seed " << seed << ", " << operations << " operations";
        const std::vector<int> restWalked = walked.identities();
        ASSERT_EQ(drainIndexed(), restWalked)
            << shape.name << " traffic, seed " << seed << ", " << operations << " operations";
    }
}

INSTANTIATE_TEST_SUITE_P(BoundSpreads, IndexedAgainstWalkedList,
                         ::testing::Values(TrafficShape{"tie-heavy", 3, 1},
                                           TrafficShape{"few-bounds", 10, 3},
                                           TrafficShape{"spread", 1000000, 100000},
                                           TrafficShape{"equal-children", 5, 0}),
                         [](const ::testing::TestParamInfo<TrafficShape>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace

}  // namespace atsp
