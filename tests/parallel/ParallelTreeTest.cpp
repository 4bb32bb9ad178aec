// The generic parallel tree search on synthetic trees whose node set is known
// in advance: nodes must be neither lost nor expanded twice, whatever the
// thread count, the order of the lists or the team the runtime really starts.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "parallel/parallelTree.h"

namespace atsp {

namespace {

// Live instances, to see that every path releases its nodes.
std::atomic<int> liveTreeNodes{0};

struct TreeNode {
    TreeNode(std::uint64_t id, int depth) : id(id), depth(depth) { ++liveTreeNodes; }
    ~TreeNode() { --liveTreeNodes; }
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;

    std::uint64_t id;
    int depth;
    int childrenMade = 0;  // lazy trees: how many children this node has produced
};
using NodePointer = std::unique_ptr<TreeNode>;

// A tree defined by a rule, so that its node set can be enumerated serially.
struct TreeShape {
    int depthLimit;   // nodes at this depth are leaves
    int maxChildren;  // every inner node has this many children...
    bool irregular;   // ...or, if set, a number between 0 and maxChildren fixed by its id
    bool lazy;        // expand makes one child per call and returns the node too
    int throwOnCall;  // 0, or the expansion (counted from 1) that throws
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

NodePointer makeChild(const TreeNode& parent, int index) {
    return std::make_unique<TreeNode>(parent.id * 4 + index + 1, parent.depth + 1);
}

// Bounds with many ties, so that equal-rank insertion is exercised.
int boundOf(const TreeNode& node) {
    return static_cast<int>(scrambled(node.id) % 5);
}

bool smallerBoundFirst(const NodePointer& first, const NodePointer& second) {
    return boundOf(*first) < boundOf(*second);
}

// One expansion: which node, at which of its steps (lazy nodes are expanded
// once per child), on which thread, inside a team or not.
struct Expansion {
    std::uint64_t id;
    int step;
    bool operator<(const Expansion& other) const {
        return std::pair(id, step) < std::pair(other.id, other.step);
    }
    bool operator==(const Expansion& other) const = default;
};

constexpr int maxThreadNumber = 64;

// The shared result: each thread appends only to its own log.
struct ExpansionLog {
    std::vector<std::vector<Expansion>> byThread =
        std::vector<std::vector<Expansion>>(maxThreadNumber);
    std::vector<std::vector<Expansion>> inTeamByThread =
        std::vector<std::vector<Expansion>>(maxThreadNumber);
    int callsBeforeTeam = 0;  // written only before a team exists

    std::vector<Expansion> all() const {
        std::vector<Expansion> merged;
        for (const auto& log : byThread) {
            merged.insert(merged.end(), log.begin(), log.end());
        }
        std::sort(merged.begin(), merged.end());
        return merged;
    }
};

void expandSynthetic(NodePointer node, ExpansionLog& log, const TreeShape* shape,
                     NodeVector<TreeNode>& children) {
    const int thread = omp_get_thread_num();
    const Expansion expansion{node->id, node->childrenMade};
    log.byThread[thread].push_back(expansion);
    if (omp_get_level() == 0) {
        ++log.callsBeforeTeam;
        if (log.callsBeforeTeam == shape->throwOnCall) {
            throw std::runtime_error("expansion failed");
        }
    } else {
        log.inTeamByThread[thread].push_back(expansion);
    }

    const int count = childCount(*shape, *node);
    if (!shape->lazy) {
        for (int index = 0; index < count; ++index) {
            children.push_back(makeChild(*node, index));
        }
        return;
    }
    if (node->childrenMade < count) {
        NodePointer child = makeChild(*node, node->childrenMade++);
        if (node->childrenMade < count) {
            children.push_back(std::move(node));
        }
        children.push_back(std::move(child));
    }
}

// Every expansion the tree needs, enumerated on one thread.
std::vector<Expansion> expectedExpansions(const TreeShape& shape) {
    std::vector<Expansion> expected;
    std::vector<NodePointer> pending;
    pending.push_back(std::make_unique<TreeNode>(0, 0));
    while (!pending.empty()) {
        NodePointer node = std::move(pending.back());
        pending.pop_back();
        const int count = childCount(shape, *node);
        const int steps = shape.lazy ? std::max(1, count) : 1;
        for (int step = 0; step < steps; ++step) {
            expected.push_back({node->id, step});
        }
        for (int index = 0; index < count; ++index) {
            pending.push_back(makeChild(*node, index));
        }
    }
    std::sort(expected.begin(), expected.end());
    return expected;
}

// Ids of a list, front to back.
std::vector<std::uint64_t> idsOf(const ThreadNodeList<TreeNode>& list) {
    std::vector<std::uint64_t> ids;
    for (const NodePointer& node : list) {
        ids.push_back(node->id);
    }
    return ids;
}

// OpenMP settings that a test changes, restored afterwards.
class ParallelTreeTest : public testing::Test {
  protected:
    void SetUp() override {
        savedMaxThreads = omp_get_max_threads();
        savedDynamic = omp_get_dynamic();
        savedMaxActiveLevels = omp_get_max_active_levels();
    }
    void TearDown() override {
        omp_set_num_threads(savedMaxThreads);
        omp_set_dynamic(savedDynamic);
        omp_set_max_active_levels(savedMaxActiveLevels);
        EXPECT_EQ(liveTreeNodes.load(), 0);
    }

    static ExpansionLog search(const TreeShape& shape, NodeComparator<TreeNode> compare,
                               std::size_t listLimit = 0) {
        ExpansionLog log;
        TreeSearchSettings settings;
        settings.listLimit = listLimit;
        parallelTree<TreeNode, ExpansionLog, const TreeShape>(
            expandSynthetic, std::make_unique<TreeNode>(0, 0), log, &shape, compare, settings);
        return log;
    }

    int savedMaxThreads = 1;
    int savedDynamic = 0;
    int savedMaxActiveLevels = 1;
};

// ---- insertion and dealing out ----

// Nodes whose bound is set by hand: id stands for the bound, and a second
// node of equal bound gets a larger id, so that equal-rank order shows.
struct ListCase {
    const char* name;
    std::vector<std::uint64_t> listBounds;
    std::vector<std::uint64_t> childBounds;
    std::vector<std::uint64_t> expected;  // as bound*10 + k for the k-th node of that bound
};

NodePointer handNode(std::uint64_t label) {
    return std::make_unique<TreeNode>(label, 0);
}

bool byLabelTens(const NodePointer& first, const NodePointer& second) {
    return first->id / 10 < second->id / 10;
}

TEST_F(ParallelTreeTest, InsertionWithAComparatorFollowsTheForwardPassRule) {
    // Labels are bound*10 + k; the comparator looks at the bound only.
    const std::vector<ListCase> cases = {
        {"parent and child into an empty list: child first", {}, {50, 70}, {70, 50}},
        {"two children merge into a sorted list", {30, 50, 80}, {40, 60}, {30, 40, 50, 60, 80}},
        {"an equal bound goes behind", {30, 50, 80}, {51}, {30, 50, 51, 80}},
        {"both behind every entry: reversed tail", {30, 50}, {90, 91}, {30, 50, 91, 90}},
        {"all equal: reversed tail behind", {50}, {51, 52}, {50, 52, 51}},
        {"first placed, second reaches the end", {30, 50}, {40, 90}, {30, 40, 50, 90}},
        {"second compares from the first's place on", {30, 50}, {60, 40}, {30, 50, 40, 60}},
    };
    for (const ListCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        ThreadNodeList<TreeNode> list(byLabelTens);
        for (std::uint64_t label : testCase.listBounds) {
            list.pushBack(handNode(label));
        }
        NodeVector<TreeNode> children;
        for (std::uint64_t label : testCase.childBounds) {
            children.push_back(handNode(label));
        }
        list.insert(children);
        EXPECT_EQ(idsOf(list), testCase.expected);
    }
}

TEST_F(ParallelTreeTest, InsertionWithoutAComparatorPutsTheChildrenFirstInTheirOrder) {
    ThreadNodeList<TreeNode> list(nullptr);
    list.pushBack(handNode(1));  // x
    list.pushBack(handNode(2));  // y
    NodeVector<TreeNode> children;
    children.push_back(handNode(3));  // a
    children.push_back(handNode(4));  // b
    list.insert(children);
    EXPECT_EQ(idsOf(list), (std::vector<std::uint64_t>{3, 4, 1, 2}));
}

// `count` empty lists ordered by label.
std::vector<ThreadNodeList<TreeNode>> emptyLists(int count) {
    std::vector<ThreadNodeList<TreeNode>> lists;
    for (int k = 0; k < count; ++k) {
        lists.emplace_back(byLabelTens);
    }
    return lists;
}

TEST_F(ParallelTreeTest, DealingOutGivesEachListOneNodeFromTheBackAndKeepsTheFront) {
    std::vector<ThreadNodeList<TreeNode>> lists = emptyLists(4);
    for (std::uint64_t label : {1, 2, 3, 4}) {
        lists[0].pushBack(handNode(label));
    }
    dealOut(lists);
    EXPECT_EQ(idsOf(lists[0]), (std::vector<std::uint64_t>{1}));
    EXPECT_EQ(idsOf(lists[1]), (std::vector<std::uint64_t>{4}));
    EXPECT_EQ(idsOf(lists[2]), (std::vector<std::uint64_t>{3}));
    EXPECT_EQ(idsOf(lists[3]), (std::vector<std::uint64_t>{2}));

    std::vector<ThreadNodeList<TreeNode>> surplus = emptyLists(3);
    for (std::uint64_t label : {1, 2, 3, 4, 5}) {
        surplus[0].pushBack(handNode(label));
    }
    dealOut(surplus);
    EXPECT_EQ(idsOf(surplus[0]), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(idsOf(surplus[1]), (std::vector<std::uint64_t>{5}));
    EXPECT_EQ(idsOf(surplus[2]), (std::vector<std::uint64_t>{4}));
}

// Each team thread starts with exactly the node dealt to it. Binary tree:
// node i has the children 4i+1 and 4i+2.
TEST_F(ParallelTreeTest, EachThreadFirstExpandsTheNodeDealtToIt) {
    omp_set_num_threads(4);
    if (plannedTeamSize() != 4) {
        GTEST_SKIP() << "needs a team of 4 threads";
    }
    const TreeShape shape{6, 2, false, false, 0};
    // Ranked by id: 0 -> (1, 2) into an empty list gives 2, 1; 2 -> (9, 10),
    // both behind 1, gives 1, 10, 9; 1 -> (5, 6) gives 5, 6, 10, 9.
    // Without a comparator (a stack): 1, 2; then 5, 6, 2; then 21, 22, 6, 2.
    struct DealCase {
        NodeComparator<TreeNode> compare;
        std::vector<std::uint64_t> firstByThread;
    };
    auto byId = [](const NodePointer& a, const NodePointer& b) { return a->id < b->id; };
    const std::vector<DealCase> cases = {{byId, {5, 9, 10, 6}}, {nullptr, {21, 2, 6, 22}}};
    for (const DealCase& testCase : cases) {
        const ExpansionLog log = search(shape, testCase.compare);
        for (int thread = 0; thread < 4; ++thread) {
            ASSERT_FALSE(log.inTeamByThread[thread].empty()) << "thread " << thread;
            EXPECT_EQ(log.inTeamByThread[thread].front().id, testCase.firstByThread[thread])
                << "thread " << thread;
        }
    }
}

// ---- the search over whole trees ----

struct TreeCase {
    std::string name;
    TreeShape shape;
};

const std::vector<TreeCase> treeCases = {
    {"completeBinary", {11, 2, false, false, 0}},
    {"irregularUpToThree", {9, 3, true, false, 0}},
    {"lazyLikeTheBranchAndBound", {8, 3, true, true, 0}},
};

TEST_F(ParallelTreeTest, EveryNodeIsExpandedExactlyOnceForAnyThreadCountAndOrder) {
    constexpr int repetitions = 6;
    for (const TreeCase& tree : treeCases) {
        const std::vector<Expansion> expected = expectedExpansions(tree.shape);
        for (int threads : {1, 2, 3, 4, 8, 16}) {
            for (NodeComparator<TreeNode> compare :
                 {NodeComparator<TreeNode>(nullptr), NodeComparator<TreeNode>(smallerBoundFirst)}) {
                // With a limit of 3 open nodes a thread soon works from its
                // depth-first stack, and gives nodes away from it.
                for (const std::size_t listLimit : {0, 3}) {
                    for (int repetition = 0; repetition < repetitions; ++repetition) {
                        omp_set_num_threads(threads);
                        const ExpansionLog log = search(tree.shape, compare, listLimit);
                        ASSERT_EQ(log.all(), expected)
                            << tree.name << ", " << threads << " threads, "
                            << (compare ? "ordered" : "depth-first") << ", limit " << listLimit
                            << ", repetition " << repetition;
                    }
                }
            }
        }
    }
}

TEST_F(ParallelTreeTest, ASingleThreadExpandsEverythingWithoutPreExpansion) {
    omp_set_num_threads(1);
    const TreeShape shape{8, 3, true, true, 0};
    const ExpansionLog log = search(shape, smallerBoundFirst);
    EXPECT_EQ(log.all(), expectedExpansions(shape));
    EXPECT_EQ(log.callsBeforeTeam, 0);
}

TEST_F(ParallelTreeTest, ATreeExhaustedDuringPreExpansionStartsNoTeam) {
    omp_set_num_threads(4);
    const TreeShape chain{6, 1, false, false, 0};  // a path of 7 nodes
    for (int dynamicSetting : {0, 1}) {
        omp_set_dynamic(dynamicSetting);
        const ExpansionLog log = search(chain, smallerBoundFirst);
        EXPECT_EQ(log.all(), expectedExpansions(chain));
        EXPECT_EQ(log.callsBeforeTeam, 7);
        EXPECT_EQ(omp_get_dynamic(), dynamicSetting);
    }
}

TEST_F(ParallelTreeTest, TheDynamicAdjustmentSettingIsRestoredAfterATeamRan) {
    omp_set_num_threads(4);
    const TreeShape shape{6, 2, false, false, 0};
    for (int dynamicSetting : {0, 1}) {
        omp_set_dynamic(dynamicSetting);
        search(shape, smallerBoundFirst);
        EXPECT_EQ(omp_get_dynamic(), dynamicSetting);
    }
}

TEST_F(ParallelTreeTest, AnExceptionFromThePreExpansionPropagatesAndRestoresEverything) {
    omp_set_num_threads(4);
    if (plannedTeamSize() < 3) {
        GTEST_SKIP() << "needs a pre-expansion of at least two steps";
    }
    const TreeShape failingSecondCall{6, 2, false, false, 2};
    omp_set_dynamic(1);
    EXPECT_THROW(search(failingSecondCall, smallerBoundFirst), std::runtime_error);
    EXPECT_EQ(omp_get_dynamic(), 1);
    EXPECT_EQ(liveTreeNodes.load(), 0);
}

// A call from a thread of an outer team must end whether or not the runtime
// grants a nested team, and whatever size it grants.
TEST_F(ParallelTreeTest, CallsFromInsideAnOuterParallelRegionEnd) {
    const TreeShape shape{8, 3, true, true, 0};
    const std::vector<Expansion> expected = expectedExpansions(shape);
    for (int maxActiveLevels : {1, 2}) {
        omp_set_max_active_levels(maxActiveLevels);
        std::vector<ExpansionLog> logs(2);
#pragma omp parallel num_threads(2)
        {
            omp_set_num_threads(4);  // for the nested team
            ExpansionLog& log = logs[omp_get_thread_num()];
            parallelTree<TreeNode, ExpansionLog, const TreeShape>(
                expandSynthetic, std::make_unique<TreeNode>(0, 0), log, &shape, smallerBoundFirst);
        }
        for (const ExpansionLog& log : logs) {
            EXPECT_EQ(log.all(), expected) << "max active levels " << maxActiveLevels;
        }
    }
}

}  // namespace

}  // namespace atsp
