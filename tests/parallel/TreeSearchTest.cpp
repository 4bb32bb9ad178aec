// The tree search loop on synthetic trees whose node set is known in advance:
// nodes must be neither lost nor expanded twice, whatever the thread count,
// the list, the depth-first limit or the team the runtime really starts; a
// stopped search must report a bound no dropped node undercuts; and the live
// bound read for progress reports must never claim more than is proven.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "parallel/BackgroundRelease.h"
#include "parallel/BestFirstList.h"
#include "parallel/ForwardPassList.h"
#include "parallel/TreeSearch.h"

namespace atsp {

namespace {

// Live instances, to see that every path releases its nodes.
std::atomic<int> liveTreeNodes{0};

struct TreeNode {
    TreeNode(std::uint64_t id, int depth, std::int64_t lowerBound)
        : id(id), depth(depth), lowerBound(lowerBound) {
        ++liveTreeNodes;
    }
    ~TreeNode() { --liveTreeNodes; }
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;

    std::uint64_t id;
    int depth;
    std::int64_t lowerBound;
    int childrenMade = 0;  // lazy trees: how many children this node has produced
};
using NodePointer = std::unique_ptr<TreeNode>;

// A tree defined by a rule, so that its node set can be enumerated serially.
struct TreeShape {
    int depthLimit;   // nodes at this depth are leaves
    int maxChildren;  // every inner node has this many children...
    bool irregular;   // ...or, if set, a number between 0 and maxChildren fixed by its id
    bool lazy;        // expand makes one child per call and returns the node too
};

std::uint64_t scrambled(std::uint64_t id) {
    return (id + 1) * 0x9E3779B97F4A7C15ull >> 32;
}

int childCount(const TreeShape& shape, const TreeNode& node) {
    if (node.depth >= shape.depthLimit) {
        return 0;
    }
    if (!shape.irregular || node.depth == 0) {
        return shape.maxChildren;
    }
    return static_cast<int>(scrambled(node.id) % (shape.maxChildren + 1));
}

// Bounds that never fall from parent to child, with many ties, so that
// equal-bound filing is exercised.
NodePointer makeChild(const TreeNode& parent, int index) {
    const std::uint64_t id = parent.id * 4 + index + 1;
    return std::make_unique<TreeNode>(
        id, parent.depth + 1, parent.lowerBound + static_cast<std::int64_t>(scrambled(id) % 3));
}

NodePointer makeRoot() {
    return std::make_unique<TreeNode>(0, 0, 0);
}

// One expansion: which node, at which of its steps (lazy nodes are expanded
// once per child).
struct Expansion {
    std::uint64_t id;
    int step;
    std::int64_t bound;
    bool operator<(const Expansion& other) const {
        return std::pair(id, step) < std::pair(other.id, other.step);
    }
    bool operator==(const Expansion& other) const = default;
};

// Every expansion the tree needs, enumerated on one thread.
std::vector<Expansion> expectedExpansions(const TreeShape& shape) {
    std::vector<Expansion> expected;
    std::vector<NodePointer> pending;
    pending.push_back(makeRoot());
    while (!pending.empty()) {
        NodePointer node = std::move(pending.back());
        pending.pop_back();
        const int count = childCount(shape, *node);
        const int steps = shape.lazy ? std::max(1, count) : 1;
        for (int step = 0; step < steps; ++step) {
            expected.push_back({node->id, step, node->lowerBound});
        }
        for (int index = 0; index < count; ++index) {
            pending.push_back(makeChild(*node, index));
        }
    }
    std::sort(expected.begin(), expected.end());
    return expected;
}

// What all expanders of one search share: the order of expansions, the live
// bound seen at each, and when to ask for a stop.
struct SharedLog {
    std::atomic<std::uint64_t> sequence{0};
    std::uint64_t stopAfter = ~std::uint64_t{0};
    std::uint64_t throwAt = ~std::uint64_t{0};
    std::function<LiveNodes()> liveNodes;
};

// An expansion as seen in order: its place in the sequence, the live bound
// read just before it took its place, and its node's bound.
struct Observation {
    std::uint64_t sequence;
    std::int64_t liveBound;
    std::int64_t nodeBound;
};

class TreeExpander {
  public:
    TreeExpander(const TreeShape& shape, SharedLog& shared) : shape(shape), shared(shared) {}

    void expand(NodePointer node, std::vector<NodePointer>& open) {
        const std::int64_t liveBound =
            shared.liveNodes ? shared.liveNodes().leastBound : node->lowerBound;
        const std::uint64_t sequence = shared.sequence.fetch_add(1);
        if (sequence == shared.throwAt) {
            throw std::bad_alloc();
        }
        expansions.push_back({node->id, node->childrenMade, node->lowerBound});
        observations.push_back({sequence, liveBound, node->lowerBound});
        const int count = childCount(shape, *node);
        if (!shape.lazy) {
            for (int index = 0; index < count; ++index) {
                open.push_back(makeChild(*node, index));
            }
            return;
        }
        if (node->childrenMade < count) {
            NodePointer child = makeChild(*node, node->childrenMade++);
            if (node->childrenMade < count) {
                open.push_back(std::move(node));
            }
            open.push_back(std::move(child));
        }
    }
    std::int64_t pruneBound() const { return std::numeric_limits<std::int64_t>::max(); }
    bool stopNow() { return shared.sequence.load() >= shared.stopAfter; }

    std::vector<Expansion> expansions;
    std::vector<Observation> observations;

  private:
    const TreeShape& shape;
    SharedLog& shared;
};

struct SearchLog {
    TreeSearchOutcome outcome;
    std::vector<Expansion> expansions;      // sorted
    std::vector<Observation> observations;  // in sequence order
};

enum class ListKind { BestFirst, ForwardPass };

template <typename List>
SearchLog searchWith(const TreeShape& shape, int threads, const TreeSearchSettings& settings,
                     std::uint64_t stopAfter, bool readLiveNodes,
                     std::uint64_t throwAt = ~std::uint64_t{0}) {
    SharedLog shared;
    shared.stopAfter = stopAfter;
    shared.throwAt = throwAt;
    std::vector<std::unique_ptr<TreeExpander>> expanders;
    for (int thread = 0; thread < threads; ++thread) {
        expanders.push_back(std::make_unique<TreeExpander>(shape, shared));
    }
    TreeSearch<TreeNode, List, TreeExpander> tree(expanders, settings);
    if (readLiveNodes) {
        shared.liveNodes = [&tree] { return tree.liveNodes(); };
    }
    SearchLog log;
    log.outcome = tree.run(makeRoot());
    for (const auto& expander : expanders) {
        log.expansions.insert(log.expansions.end(), expander->expansions.begin(),
                              expander->expansions.end());
        log.observations.insert(log.observations.end(), expander->observations.begin(),
                                expander->observations.end());
    }
    std::sort(log.expansions.begin(), log.expansions.end());
    std::sort(log.observations.begin(), log.observations.end(),
              [](const Observation& a, const Observation& b) { return a.sequence < b.sequence; });
    return log;
}

SearchLog search(const TreeShape& shape, int threads, ListKind list,
                 const TreeSearchSettings& settings = {},
                 std::uint64_t stopAfter = ~std::uint64_t{0}, bool readLiveNodes = false) {
    return list == ListKind::BestFirst ? searchWith<BestFirstList<TreeNode>>(
                                             shape, threads, settings, stopAfter, readLiveNodes)
                                       : searchWith<ForwardPassList<TreeNode>>(
                                             shape, threads, settings, stopAfter, readLiveNodes);
}

// OpenMP settings that a test changes, restored afterwards.
class TreeSearchTest : public testing::Test {
  protected:
    void SetUp() override {
        savedDynamic = omp_get_dynamic();
        savedMaxActiveLevels = omp_get_max_active_levels();
    }
    void TearDown() override {
        omp_set_dynamic(savedDynamic);
        omp_set_max_active_levels(savedMaxActiveLevels);
        EXPECT_EQ(liveTreeNodes.load(), 0);
    }

    int savedDynamic = 0;
    int savedMaxActiveLevels = 1;
};

struct TreeCase {
    std::string name;
    TreeShape shape;
};

const std::vector<TreeCase> treeCases = {
    {"completeBinary", {11, 2, false, false}},
    {"irregularUpToThree", {9, 3, true, false}},
    {"lazyLikeTheBranchAndBound", {8, 3, true, true}},
};

TEST_F(TreeSearchTest, EveryNodeIsExpandedExactlyOnceForAnyThreadCountListAndLimit) {
    constexpr int repetitions = 4;
    for (const TreeCase& tree : treeCases) {
        const std::vector<Expansion> expected = expectedExpansions(tree.shape);
        for (int threads : {1, 2, 3, 4, 8, 16}) {
            for (const ListKind list : {ListKind::BestFirst, ListKind::ForwardPass}) {
                // With a limit of 3 open nodes a thread soon works from its
                // depth-first stack, and gives nodes away from it.
                for (const std::size_t listLimit : {0, 3}) {
                    for (const bool balance : {false, true}) {
                        TreeSearchSettings settings;
                        settings.listLimit = listLimit;
                        settings.balance = balance;
                        // Balanced searches hand over batches of nodes.
                        settings.handOffBatch = balance ? 8 : 1;
                        for (int repetition = 0; repetition < repetitions; ++repetition) {
                            const SearchLog log = search(tree.shape, threads, list, settings);
                            ASSERT_EQ(log.expansions, expected)
                                << tree.name << ", " << threads << " threads, "
                                << (list == ListKind::BestFirst ? "best first" : "forward pass")
                                << ", limit " << listLimit
                                << (balance ? ", balanced, batches of 8" : "") << ", repetition "
                                << repetition;
                            EXPECT_FALSE(log.outcome.stopped);
                        }
                    }
                }
            }
        }
    }
}

// A stop drops nodes unexpanded; every node of the tree left unexpanded is a
// dropped node or a descendant of one, so none may lie below the reported
// bound. The dropped nodes stay alive in the outcome (freeing a large tree
// would overrun a time limit) until the caller releases them, in place or on
// a thread of its own; either way every one of them is freed.
TEST_F(TreeSearchTest, AStoppedSearchReportsABoundNoUnexpandedNodeUndercuts) {
    const TreeShape shape{9, 2, false, true};
    const std::vector<Expansion> expected = expectedExpansions(shape);
    ASSERT_GT(expected.size(), 400u);
    for (int threads : {1, 2, 4}) {
        for (const ListKind list : {ListKind::BestFirst, ListKind::ForwardPass}) {
            for (const std::uint64_t stopAfter : {0, 1, 50, 400}) {
                TreeSearchSettings settings;
                settings.listLimit = stopAfter % 3 == 0 ? 0 : 4;
                SearchLog log = search(shape, threads, list, settings, stopAfter);
                SCOPED_TRACE(std::to_string(threads) + " threads, stop after " +
                             std::to_string(stopAfter));
                ASSERT_TRUE(log.outcome.stopped);
                std::vector<Expansion> missing;
                std::set_difference(expected.begin(), expected.end(), log.expansions.begin(),
                                    log.expansions.end(), std::back_inserter(missing));
                ASSERT_FALSE(missing.empty());
                for (const Expansion& expansion : missing) {
                    EXPECT_GE(expansion.bound, log.outcome.leastAbandonedBound)
                        << "node " << expansion.id;
                }
                ASSERT_NE(log.outcome.droppedNodes, nullptr);
                EXPECT_GT(liveTreeNodes.load(), 0);
                if (threads == 2) {
                    releaseInBackground(std::move(log.outcome.droppedNodes));
                    for (int wait = 0; wait < 3000 && liveTreeNodes.load() != 0; ++wait) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                } else {
                    log.outcome.droppedNodes.reset();
                }
                EXPECT_EQ(liveTreeNodes.load(), 0);
            }
        }
    }
}

// A live bound read at some moment holds every node expanded after it: those
// nodes were then held by a thread, in transit, or descendants of such.
TEST_F(TreeSearchTest, TheLiveBoundNeverExceedsTheBoundOfALaterExpansion) {
    const TreeShape shape{11, 2, false, true};
    for (int threads : {1, 2, 4}) {
        for (const ListKind list : {ListKind::BestFirst, ListKind::ForwardPass}) {
            for (int repetition = 0; repetition < 3; ++repetition) {
                TreeSearchSettings settings;
                settings.publishLeastBounds = true;
                settings.listLimit = repetition == 2 ? 5 : 0;
                const SearchLog log =
                    search(shape, threads, list, settings, ~std::uint64_t{0}, true);
                std::int64_t claimed = std::numeric_limits<std::int64_t>::min();
                for (const Observation& observation : log.observations) {
                    ASSERT_LE(claimed, observation.nodeBound)
                        << threads << " threads, expansion " << observation.sequence;
                    claimed = std::max(claimed, observation.liveBound);
                }
            }
        }
    }
}

// Memory running out on any thread of a team must neither hang the team nor
// lose the failure: the search ends, every node is released, and the
// exception reaches the caller.
TEST_F(TreeSearchTest, AnExceptionOnAnyThreadEndsTheSearchAndReachesTheCaller) {
    const TreeShape shape{9, 2, false, true};
    for (int threads : {1, 2, 4, 8}) {
        for (const std::uint64_t throwAt : {0, 1, 37, 500}) {
            TreeSearchSettings settings;
            settings.handOffBatch = 4;
            settings.balance = true;
            EXPECT_THROW((searchWith<BestFirstList<TreeNode>>(shape, threads, settings,
                                                               ~std::uint64_t{0}, false, throwAt)),
                         std::bad_alloc)
                << threads << " threads, throw at " << throwAt;
            EXPECT_EQ(liveTreeNodes.load(), 0);
        }
    }
}

TEST_F(TreeSearchTest, TheDynamicAdjustmentSettingIsRestoredAfterATeamRan) {
    const TreeShape shape{6, 2, false, false};
    for (int dynamicSetting : {0, 1}) {
        omp_set_dynamic(dynamicSetting);
        search(shape, 4, ListKind::BestFirst);
        EXPECT_EQ(omp_get_dynamic(), dynamicSetting);
    }
}

// A call from a thread of an outer team must end whether or not the runtime
// grants a nested team, and whatever size it grants.
TEST_F(TreeSearchTest, CallsFromInsideAnOuterParallelRegionEnd) {
    const TreeShape shape{8, 3, true, true};
    const std::vector<Expansion> expected = expectedExpansions(shape);
    for (int maxActiveLevels : {1, 2}) {
        omp_set_max_active_levels(maxActiveLevels);
        std::vector<SearchLog> logs(2);
#pragma omp parallel num_threads(2)
        { logs[omp_get_thread_num()] = search(shape, plannedTeamSize(4), ListKind::BestFirst); }
        for (const SearchLog& log : logs) {
            EXPECT_EQ(log.expansions, expected) << "max active levels " << maxActiveLevels;
        }
    }
}

}  // namespace

}  // namespace atsp
