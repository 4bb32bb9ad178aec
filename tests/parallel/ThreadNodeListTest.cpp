// A thread's open-node list finds each child's place through an index of
// records; these tests hold it to the plain forward walk from the front,
// operation by operation, on random sequences rich in equal ranks and
// reversed tails.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <list>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "parallel/ThreadNodeList.h"

namespace atsp {

namespace {

struct RankedNode {
    int rank;
    int id;
};

using NodePointer = std::unique_ptr<RankedNode>;

bool rankFirst(const NodePointer& first, const NodePointer& second) {
    return first->rank < second->rank;
}

// The insertion rule as a walk from the front over (rank, id) pairs: each
// child goes before the first entry, from the previous child's place on, of
// greater rank; children that reach the end go there in reverse order.
class WalkedList {
  public:
    void insert(const std::vector<RankedNode>& children) {
        auto place = entries.begin();
        std::size_t child = 0;
        while (child < children.size()) {
            if (place == entries.end()) {
                auto tailFront = entries.end();
                for (; child < children.size(); ++child) {
                    tailFront = entries.insert(tailFront, children[child]);
                }
                return;
            }
            if (children[child].rank < place->rank) {
                entries.insert(place, children[child]);
                ++child;
            } else {
                ++place;
            }
        }
    }

    std::vector<int> ids() const {
        std::vector<int> result;
        for (const RankedNode& node : entries) {
            result.push_back(node.id);
        }
        return result;
    }

    std::list<RankedNode> entries;
};

std::vector<int> idsOf(const ThreadNodeList<RankedNode>& list) {
    std::vector<int> result;
    for (const NodePointer& node : list) {
        result.push_back(node->id);
    }
    return result;
}

NodeVector<RankedNode> pointersTo(const std::vector<RankedNode>& nodes) {
    NodeVector<RankedNode> pointers;
    for (const RankedNode& node : nodes) {
        pointers.push_back(std::make_unique<RankedNode>(node));
    }
    return pointers;
}

// Replays random operations on both lists and compares them after each.
// `searchLike`: children come as the branch and bound returns them (the
// expanded node's rank, then possibly a child of no smaller rank);
// otherwise any number of children of any rank.
void replayRandomOperations(std::uint32_t seed, bool searchLike) {
    std::mt19937 random(seed);
    const int rankRange = 1 + static_cast<int>(random() % 12);
    auto randomRank = [&] { return static_cast<int>(random() % rankRange); };
    ThreadNodeList<RankedNode> indexed(rankFirst);
    WalkedList walked;
    int nextId = 0;
    for (int step = 0; step < 400; ++step) {
        const unsigned operation = random() % 10;
        if (operation < 6 || walked.entries.empty()) {
            int expandedRank = randomRank();
            if (!walked.entries.empty() && searchLike) {
                expandedRank = walked.entries.front().rank;
                indexed.takeFront();
                walked.entries.pop_front();
            }
            std::vector<RankedNode> children;
            const unsigned count = searchLike ? random() % 3 : random() % 5;
            for (unsigned k = 0; k < count; ++k) {
                const int rank =
                    searchLike ? expandedRank + (k == 0 ? 0 : randomRank() % 3) : randomRank();
                children.push_back({rank, nextId++});
            }
            NodeVector<RankedNode> pointers = pointersTo(children);
            indexed.insert(pointers);
            walked.insert(children);
        } else if (operation == 6 || walked.entries.size() < 2) {
            // A hand-off moves the front node out before the entry is removed.
            NodePointer given = std::move(indexed.front());
            indexed.popFront();
            ASSERT_EQ(given->id, walked.entries.front().id);
            walked.entries.pop_front();
        } else if (operation == 7) {
            // Or the second node, which may be a record or hide one.
            NodePointer given = std::move(indexed.second());
            indexed.popSecond();
            ASSERT_EQ(given->id, std::next(walked.entries.begin())->id);
            walked.entries.erase(std::next(walked.entries.begin()));
        } else if (operation == 8) {
            ASSERT_EQ(indexed.takeBack()->id, walked.entries.back().id);
            walked.entries.pop_back();
        } else {
            const RankedNode node{randomRank(), nextId++};
            if (random() % 2 == 0) {
                indexed.pushFront(std::make_unique<RankedNode>(node));
                walked.entries.push_front(node);
            } else {
                indexed.pushBack(std::make_unique<RankedNode>(node));
                walked.entries.push_back(node);
            }
        }
        ASSERT_EQ(idsOf(indexed), walked.ids()) << "seed " << seed << ", step " << step;
        ASSERT_EQ(indexed.size(), walked.entries.size());
    }
}

TEST(ThreadNodeList, PlacesEveryChildAsTheWalkFromTheFrontDoes) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        replayRandomOperations(seed, false);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

TEST(ThreadNodeList, PlacesTheSearchsNodeAndChildAsTheWalkFromTheFrontDoes) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        replayRandomOperations(seed, true);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

// A reversed tail leaves a lower rank behind a higher one; once the higher
// one is taken, the lower one must be found as the place for a child that
// ranks before it.
TEST(ThreadNodeList, AnEntryHiddenBehindAReversedTailIsFoundOnceTheTailsHeadIsTaken) {
    ThreadNodeList<RankedNode> list(rankFirst);
    NodeVector<RankedNode> nodeAndChild = pointersTo({{5, 1}, {7, 2}});
    list.insert(nodeAndChild);  // tail reversed: 7, 5
    ASSERT_EQ(idsOf(list), (std::vector<int>{2, 1}));
    list.popFront();
    NodeVector<RankedNode> lower = pointersTo({{4, 3}});
    list.insert(lower);
    EXPECT_EQ(idsOf(list), (std::vector<int>{3, 1}));
}

TEST(ThreadNodeList, WithoutAComparatorChildrenGoToTheFrontInTheirOrder) {
    ThreadNodeList<RankedNode> list(nullptr);
    list.pushBack(std::make_unique<RankedNode>(RankedNode{0, 1}));
    NodeVector<RankedNode> children = pointersTo({{9, 2}, {0, 3}});
    list.insert(children);
    EXPECT_EQ(idsOf(list), (std::vector<int>{2, 3, 1}));
    EXPECT_EQ(list.takeBack()->id, 1);
    EXPECT_EQ(list.takeFront()->id, 2);
}

}  // namespace

}  // namespace atsp
