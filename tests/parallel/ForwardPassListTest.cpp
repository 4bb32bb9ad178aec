// The forward-pass list finds each child's place through an index of
// records; these tests hold it to the plain forward walk from the front,
// operation by operation, on random sequences rich in equal ranks and
// reversed tails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <list>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "parallel/ForwardPassList.h"

namespace atsp {

namespace {

struct RankedNode {
    std::int64_t lowerBound;
    int id;
};

using NodePointer = std::unique_ptr<RankedNode>;
using NodeVector = std::vector<NodePointer>;

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
            if (children[child].lowerBound < place->lowerBound) {
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

std::vector<int> idsOf(const ForwardPassList<RankedNode>& list) {
    std::vector<int> result;
    for (const NodePointer& node : list) {
        result.push_back(node->id);
    }
    return result;
}

NodeVector pointersTo(const std::vector<RankedNode>& nodes) {
    NodeVector pointers;
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
    auto randomRank = [&] { return static_cast<std::int64_t>(random() % rankRange); };
    ForwardPassList<RankedNode> indexed;
    WalkedList walked;
    int nextId = 0;
    for (int step = 0; step < 400; ++step) {
        const unsigned operation = random() % 10;
        if (operation < 6 || walked.entries.empty()) {
            std::int64_t expandedRank = randomRank();
            if (!walked.entries.empty() && searchLike) {
                expandedRank = walked.entries.front().lowerBound;
                indexed.takeFront();
                walked.entries.pop_front();
            }
            std::vector<RankedNode> children;
            const unsigned count = searchLike ? random() % 3 : random() % 5;
            for (unsigned k = 0; k < count; ++k) {
                const std::int64_t rank =
                    searchLike ? expandedRank + (k == 0 ? 0 : randomRank() % 3) : randomRank();
                children.push_back({rank, nextId++});
            }
            NodeVector pointers = pointersTo(children);
            indexed.file(pointers);
            walked.insert(children);
        } else if (operation <= 7 || walked.entries.size() < 2) {
            ASSERT_EQ(indexed.takeFront()->id, walked.entries.front().id);
            walked.entries.pop_front();
        } else if (operation == 8) {
            // Or the second node, which may be a record or hide one.
            NodeVector given;
            indexed.give(given, 1 + random() % 3);
            ASSERT_EQ(given.size(), 1u);
            ASSERT_EQ(given[0]->id, std::next(walked.entries.begin())->id);
            walked.entries.erase(std::next(walked.entries.begin()));
        } else {
            // A node handed over from another thread is filed as a child.
            const RankedNode node{randomRank(), nextId++};
            indexed.receive(std::make_unique<RankedNode>(node));
            walked.insert({node});
        }
        ASSERT_EQ(idsOf(indexed), walked.ids()) << "seed " << seed << ", step " << step;
        ASSERT_EQ(indexed.size(), walked.entries.size());
        std::int64_t least = std::numeric_limits<std::int64_t>::max();
        for (const RankedNode& node : walked.entries) {
            least = std::min(least, node.lowerBound);
        }
        ASSERT_EQ(indexed.leastBound(), least);
    }
}

TEST(ForwardPassList, PlacesEveryChildAsTheWalkFromTheFrontDoes) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        replayRandomOperations(seed, false);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

TEST(ForwardPassList, PlacesTheSearchsNodeAndChildAsTheWalkFromTheFrontDoes) {
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
TEST(ForwardPassList, AnEntryHiddenBehindAReversedTailIsFoundOnceTheTailsHeadIsTaken) {
    ForwardPassList<RankedNode> list;
    NodeVector nodeAndChild = pointersTo({{5, 1}, {7, 2}});
    list.file(nodeAndChild);  // tail reversed: 7, 5
    ASSERT_EQ(idsOf(list), (std::vector<int>{2, 1}));
    EXPECT_EQ(list.leastBound(), 5);
    list.takeFront();
    NodeVector lower = pointersTo({{4, 3}});
    list.file(lower);
    EXPECT_EQ(idsOf(list), (std::vector<int>{3, 1}));
}

}  // namespace

}  // namespace atsp
