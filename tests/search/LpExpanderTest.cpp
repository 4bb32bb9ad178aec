// The LP bound's node protocol on its own, without local search or a
// starting tour: the children of every node split its cheaper tours among
// them, each exactly once (of a mirrored node, each tour or its reverse), and
// a whole tree of such nodes ends at the optimum, under either branching
// rule. The searches around it find good
// tours by other means and would hide a lost subtree.
// Then with dives and the local search, over a tree's first expansions: the
// incumbent's cost stays what its tour's arcs sum to. A proving search would
// hide a tour offered at the wrong cost, for a cheaper-recorded one replaces
// it before the end; a search stopped at its time limit would report it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "assignment/ArcMask.h"
#include "graph/CostLattice.h"
#include "lp/CutPool.h"
#include "search/Incumbent.h"
#include "search/LpExpander.h"
#include "search/PseudoCosts.h"
#include "search/Round.h"
#include "tests/support/TestGraphs.h"
#include "tours/LocalSearch.h"

namespace atsp {

namespace {

using testing_support::Matrix;

using testing_support::Tour;

Tour reversed(const Tour& tour) {
    Tour back{tour.cost, std::vector<Node>(tour.successors.size())};
    for (Node city = 0; city < tour.successors.size(); ++city) {
        back.successors[tour.successors[city]] = city;
    }
    return back;
}

bool allows(const Graph& graph, const ConstraintChain& constraints, const Tour& tour) {
    ArcMask mask(graph.cityCount());
    constraints.applyTo(mask);
    for (Node tail = 0; tail < graph.cityCount(); ++tail) {
        const Node head = tour.successors[tail];
        const Node position = graph.arcPosition(tail, head);
        const ArcMask::RowScan arcs = mask.scan(tail, graph.rowLength(tail));
        if (position < arcs.begin || position >= arcs.end || mask.blocked(head, arcs.stamp)) {
            return false;
        }
    }
    return true;
}

// Every arc of the graph as an LP column.
std::vector<LpArc> allColumns(const Graph& graph) {
    std::vector<LpArc> columns;
    for (Node tail = 0; tail < graph.cityCount(); ++tail) {
        for (Node position = 0; position < graph.rowLength(tail); ++position) {
            columns.push_back({tail, position});
        }
    }
    return columns;
}

// The LP of every arc in a short cut loop, with subtour cuts alone: on so
// few cities the full loop often ends at a tour, and nothing would branch.
struct ExpanderOnAllArcs {
    ExpanderOnAllArcs(const Graph& graph, Round& round, bool edges)
        : pool(graph.cityCount()),
          expander(graph, CostLattice(graph), allColumns(graph), {}, pool, pseudoCosts,
                   shortCutLoop(), round, edges) {}

    static CuttingPlaneOptions shortCutLoop() {
        CuttingPlaneOptions cuts;
        cuts.blossoms = false;
        cuts.liftedCycles = false;
        cuts.maxRounds = 2;
        return cuts;
    }

    CutPool pool;
    PseudoCosts pseudoCosts;
    LpExpander expander;
};

TEST(LpExpander, ChildrenSplitTheCheaperToursAndTheTreeEndsAtTheOptimum) {
    int branched = 0;
    int splitThree = 0;
    int mirroredSplits = 0;
    for (const bool edges : {false, true}) {
        for (int seed = 0; seed < 96; ++seed) {
            std::mt19937_64 random(static_cast<std::uint64_t>(seed));
            const int n = 7 + seed % 3;
            // Symmetric costs on odd seeds: there the LP's solution and its
            // transpose tie, and branching on pairs matters.
            Matrix matrix = testing_support::randomMatrix(random, n, 0, seed % 3 == 0 ? 5 : 100);
            if (seed % 2 == 1) {
                for (int i = 0; i < n; ++i) {
                    for (int j = 0; j < i; ++j) {
                        matrix[i][j] = matrix[j][i];
                    }
                }
            }
            const Graph graph = testing_support::completeGraph(matrix);
            const std::vector<Tour> tours =
                testing_support::allTours(testing_support::completeRows(matrix));
            std::int64_t optimum = tours.front().cost;
            for (const Tour& tour : tours) {
                optimum = std::min(optimum, tour.cost);
            }
            Incumbent incumbent({}, InfeasibleBound);
            Round round{incumbent, InfeasibleBound, nullptr, 0, 0, {}, {}, {}, 0, nullptr, {}};
            ExpanderOnAllArcs tested(graph, round, edges);
            SCOPED_TRACE(testing::Message() << (edges ? "edges" : "arcs") << ", seed " << seed);

            // Depth first, checking every expansion that branches.
            std::vector<std::unique_ptr<LpSubproblem>> stack;
            stack.push_back(std::make_unique<LpSubproblem>());
            stack.back()->lowerBound = std::numeric_limits<std::int64_t>::min();
            // Symmetric costs: every tour costs what its reverse does, and
            // the root's tours are mirrored.
            stack.back()->mirrored = edges && seed % 2 == 1;
            for (int expansions = 0; !stack.empty(); ++expansions) {
                ASSERT_LT(expansions, 5000) << "the tree does not end";
                std::unique_ptr<LpSubproblem> node = std::move(stack.back());
                stack.pop_back();
                const ConstraintChain parent = node->constraints;
                const bool mirrored = node->mirrored;
                // Only reversal keeping every tour's cost lets a node be
                // mirrored.
                ASSERT_TRUE(seed % 2 == 1 || !mirrored) << "asymmetric costs taken as mirrored";
                std::vector<std::unique_ptr<LpSubproblem>> children;
                tested.expander.expand(std::move(node), children);
                if (children.empty()) {
                    continue;
                }
                ++branched;
                splitThree += children.size() == 3 ? 1 : 0;
                mirroredSplits += mirrored ? 1 : 0;
                ASSERT_TRUE(children.size() == 2 || (edges && !mirrored && children.size() == 3));
                const std::int64_t best = round.bestNow();
                for (const Tour& tour : tours) {
                    if (tour.cost >= best || !allows(graph, parent, tour)) {
                        continue;
                    }
                    int holders = 0;
                    int reverseHolders = 0;
                    for (const auto& child : children) {
                        if (allows(graph, child->constraints, tour)) {
                            ++holders;
                            ASSERT_LE(child->lowerBound, tour.cost);
                        }
                        reverseHolders += allows(graph, child->constraints, reversed(tour)) ? 1 : 0;
                    }
                    // Exactly one child holds it; of a mirrored node, at most
                    // one, and one holds it or its reverse.
                    if (mirrored) {
                        ASSERT_LE(holders, 1) << "a tour of cost " << tour.cost;
                        ASSERT_GE(holders + reverseHolders, 1) << "a tour of cost " << tour.cost;
                    } else {
                        ASSERT_EQ(holders, 1) << "a tour of cost " << tour.cost;
                    }
                }
                for (auto& child : children) {
                    stack.push_back(std::move(child));
                }
            }
            const auto [tour, cost] = incumbent.snapshot();
            ASSERT_EQ(cost, optimum);
            ASSERT_EQ(testing_support::tourCost(matrix, tour), cost);
        }
    }
    // The checks above ran on real branchings, three-way ones among them.
    EXPECT_GT(branched, 20);
    EXPECT_GT(splitThree, 5);
    EXPECT_GT(mirroredSplits, 5);
}

TEST(LpExpander, WithDivesAndLocalSearchEachIncumbentCostsWhatItsArcsSumTo) {
    int incumbents = 0;
    for (int seed = 0; seed < 120; ++seed) {
        std::mt19937_64 random(static_cast<std::uint64_t>(seed));
        const int n = 12 + seed % 16;
        const Matrix matrix = seed % 3 == 0   ? testing_support::randomMatrix(random, n, 0, 1000)
                              : seed % 3 == 1 ? testing_support::tiltedSymmetricMatrix(random, n)
                                              : testing_support::latticeMatrix(random, n, 100, 9);
        const Graph graph = testing_support::completeGraph(matrix);
        const LocalSearch localSearch = testing_support::searchOnAllArcs(graph);
        Incumbent incumbent({}, InfeasibleBound);
        Round round{incumbent, InfeasibleBound, nullptr, 0, 0, {}, {}, {}, 0, &localSearch, {}};
        round.diveTime.share = 1;  // a dive after every branching
        // The nodes' tours go unpolished, their share of time spent: the
        // dives' polished tours then often are the best.
        round.localSearchTime.spentNanoseconds = std::int64_t{3600} * 1000000000;
        ExpanderOnAllArcs tested(graph, round, false);
        SCOPED_TRACE(testing::Message() << "seed " << seed);

        std::vector<std::unique_ptr<LpSubproblem>> stack;
        stack.push_back(std::make_unique<LpSubproblem>());
        stack.back()->lowerBound = std::numeric_limits<std::int64_t>::min();
        std::int64_t lastCost = InfeasibleBound;
        for (int expansions = 0; !stack.empty() && expansions < 12; ++expansions) {
            std::unique_ptr<LpSubproblem> node = std::move(stack.back());
            stack.pop_back();
            tested.expander.expand(std::move(node), stack);
            const auto [tour, cost] = incumbent.snapshot();
            if (cost != lastCost) {
                ++incumbents;
                lastCost = cost;
                ASSERT_TRUE(testing_support::isSingleCycle(tour));
                ASSERT_EQ(testing_support::tourCost(matrix, tour), cost);
            }
        }
    }
    // Tours came in during the search, not only at its first node.
    EXPECT_GT(incumbents, 120);
}

}  // namespace

}  // namespace atsp
