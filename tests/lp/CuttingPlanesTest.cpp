// The cutting-plane loop against certificates: the LP with every subtour cut
// written out (n <= 9), Held-Karp optima and enumerated tours under masks, and
// the TSPLIB instances' published optima.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "assignment/ArcMask.h"
#include "assignment/AssignmentProblem.h"
#include "graph/Tour.h"
#include "io/MatrixReader.h"
#include "io/TextFile.h"
#include "lp/CombSeparation.h"
#include "lp/CutPool.h"
#include "lp/CuttingPlanes.h"
#include "lp/ExactBlossomSeparation.h"
#include "lp/LpRelaxation.h"
#include "tests/lp/LpTestSupport.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using lp_testing::applyConstraints;
using lp_testing::Constraints;
using lp_testing::costFamilies;
using lp_testing::CostFamily;
using lp_testing::maskedRows;
using lp_testing::randomConstraints;
using lp_testing::randomRows;
using testing_support::heldKarpOptimum;
using testing_support::Rows;

// The safe bound of the LP with every subtour cut over all arcs of the
// mask: what a loop that runs to the end must give.
std::int64_t allCutsBound(const Graph& graph, const ArcMask* mask) {
    const std::size_t n = graph.cityCount();
    LpRelaxation lp(graph);
    std::vector<LpArc> arcs;
    for (Node tail = 0; tail < n; ++tail) {
        for (std::size_t position = 0; position < graph.rowLength(tail); ++position) {
            arcs.push_back({tail, static_cast<Node>(position)});
        }
    }
    lp.addArcs(arcs);
    std::vector<SubtourCut> cuts;
    for (std::uint32_t subset = 1; subset + 1 < (1u << n); ++subset) {
        SubtourCut cut{{}, 0};
        for (std::uint32_t city = 0; city < n; ++city) {
            if ((subset >> city & 1u) != 0) {
                cut.cities.push_back(city);
            }
        }
        cuts.push_back(cut);
    }
    lp.addCuts(cuts);
    if (mask != nullptr) {
        lp.setAllowedArcs(*mask);
    }
    lp.solve();
    return lp.safeBound();
}

// The loop with subtour cuts alone, whose end allCutsBound certifies.
CuttingPlaneOptions subtourCutsOnly() {
    CuttingPlaneOptions options;
    options.blossoms = false;
    options.liftedCycles = false;
    return options;
}

std::int64_t successorCost(const Rows& rows, const std::vector<Node>& tour) {
    std::int64_t cost = 0;
    for (Node tail = 0; tail < tour.size(); ++tail) {
        cost += rows.costs[tail][lp_testing::positionIn(rows, tail, tour[tail])];
    }
    return cost;
}

TEST(CuttingPlanes, TinyGraphsAreSolvedOrProvenEmpty) {
    for (const int n : {0, 1}) {
        const Graph graph = testing_support::completeGraph(
            testing_support::Matrix(n, std::vector<std::int32_t>(n, -1)));
        LpRelaxation lp(graph);
        CuttingPlanes loop(lp, nullptr);
        const CuttingPlaneResult result = loop.bound(nullptr);
        EXPECT_EQ(result.status, CuttingPlaneStatus::Solved);
        EXPECT_EQ(result.bound, 0);
    }
    const Graph two = testing_support::completeGraph({{-1, 4}, {-9, -1}});
    LpRelaxation lp(two);
    CuttingPlanes loop(lp, nullptr);
    const CuttingPlaneResult result = loop.bound(nullptr);
    EXPECT_EQ(result.status, CuttingPlaneStatus::Solved);
    EXPECT_EQ(result.bound, -5);
    EXPECT_EQ(result.tour, (std::vector<Node>{1, 0}));

    const Graph none = Graph::fromRows({{1}, {2}, {}}, {{1}, {1}, {}});
    LpRelaxation empty(none);
    CuttingPlanes emptyLoop(empty, nullptr);
    EXPECT_EQ(emptyLoop.bound(nullptr).status, CuttingPlaneStatus::Infeasible);
}

// Run to the end from a sparse start, the loop gives the bound of the LP
// with every subtour cut, at most the optimum, and the optimum itself when
// its solution is a tour.
TEST(CuttingPlanes, RunToTheEndItGivesTheBoundOfAllSubtourCutsOrMore) {
    std::mt19937_64 random(21);
    int tours = 0;
    int raised = 0;
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 40; ++trial) {
            const int n = 3 + trial % 7;
            const Rows rows = randomRows(random, n, family, trial % 4 == 0 ? 0.3 : 0.0);
            const Graph graph = rows.graph();
            const std::int64_t optimum = heldKarpOptimum(rows);
            const std::int64_t subtourBound = allCutsBound(graph, nullptr);
            // With subtour cuts alone the loop's end is the bound of all of
            // them; blossoms and lifted cycles may only raise it, never past
            // the optimum. Separated exactly too, none is left violated, and
            // no comb whose teeth are paths either.
            CuttingPlaneOptions exactly;
            exactly.exactBlossoms = true;
            exactly.combs = true;
            for (const int variant : {0, 1, 2}) {
                const bool blossoms = variant > 0;
                SCOPED_TRACE(variant == 0   ? "subtour cuts alone"
                             : variant == 1 ? "with blossoms and lifted cycles"
                                            : "with exact blossoms and combs too");
                LpRelaxation lp(graph);
                lp.addCheapestArcs(1);
                CutPool pool(n);
                CuttingPlanes loop(lp, &pool,
                                   variant == 0   ? subtourCutsOnly()
                                   : variant == 1 ? CuttingPlaneOptions{}
                                                  : exactly);
                const CuttingPlaneResult result = loop.bound(nullptr);
                ASSERT_LE(result.bound, optimum) << "n " << n << " trial " << trial;
                if (result.status == CuttingPlaneStatus::Infeasible) {
                    EXPECT_EQ(optimum, InfeasibleBound);
                    continue;
                }
                ASSERT_EQ(result.status, CuttingPlaneStatus::Solved);
                if (variant == 2) {
                    EXPECT_TRUE(ExactBlossomSeparation(n).separate(result.support, 1e-6).empty());
                    EXPECT_TRUE(CombSeparation(n).separate(result.support, 1e-6).empty());
                }
                if (blossoms) {
                    EXPECT_GE(result.bound, subtourBound) << "n " << n << " trial " << trial;
                    raised += result.bound > subtourBound ? 1 : 0;
                } else {
                    EXPECT_EQ(result.bound, subtourBound) << "n " << n << " trial " << trial;
                }
                if (!result.tour.empty()) {
                    ++tours;
                    EXPECT_TRUE(testing_support::isSingleCycle(result.tour));
                    EXPECT_EQ(successorCost(rows, result.tour), optimum);
                    EXPECT_EQ(result.bound, optimum);
                }
            }
        }
    }
    EXPECT_GT(tours, 0);
    std::cout << raised << " bounds raised by blossoms and lifted cycles\n";
}

// Blossoms and combs live on symmetric costs, here with a potential added
// (c(i, j) = d(i, j) + p(j) - p(i): every tour costs what its reverse
// does, as on the tilted-sum family), and on more cities than the batteries
// above enumerate: at 10 to 16 none was left violated by the other cuts, at
// 30 no comb.
// Separated exactly after the loop's other cuts, blossoms raise some bounds
// further, combs some more, and the loop ends with none of either violated.
// Their rows, read back, give another LP the same bound.
// (That they hold for every tour is their separations' tests'.)
TEST(CuttingPlanes, ExactBlossomsAndCombsRaiseSymmetricBoundsAndLeaveNoneViolated) {
    std::mt19937_64 random(23);
    std::uniform_int_distribution<int> coordinate(0, 1000);
    int raisedByBlossoms = 0;
    int raisedByCombs = 0;
    std::size_t combRows = 0;
    for (int trial = 0; trial < 20; ++trial) {
        const int n = 60 + trial % 3;
        std::vector<std::pair<int, int>> points(static_cast<std::size_t>(n));
        for (auto& [x, y] : points) {
            x = coordinate(random);
            y = coordinate(random);
        }
        testing_support::Matrix costs(n, std::vector<std::int32_t>(n, -1));
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                if (i != j) {
                    const auto [xi, yi] = points[i];
                    const auto [xj, yj] = points[j];
                    costs[i][j] =
                        static_cast<std::int32_t>(std::lround(std::hypot(xi - xj, yi - yj))) +
                        (yj - yi);
                }
            }
        }
        const Rows rows = testing_support::completeRows(costs);
        const Graph graph = rows.graph();
        // Without either, with exact blossoms, with both.
        std::int64_t bounds[3] = {};
        for (const int variant : {0, 1, 2}) {
            CuttingPlaneOptions options;
            options.exactBlossoms = variant >= 1;
            options.combs = variant == 2;
            LpRelaxation lp(graph);
            lp.addCheapestArcs(2);
            CuttingPlanes loop(lp, nullptr, options);
            const CuttingPlaneResult result = loop.bound(nullptr);
            ASSERT_EQ(result.status, CuttingPlaneStatus::Solved) << "trial " << trial;
            bounds[variant] = result.bound;
            if (variant >= 1) {
                EXPECT_TRUE(ExactBlossomSeparation(n).separate(result.support, 1e-6).empty());
            }
            if (variant == 2) {
                EXPECT_TRUE(CombSeparation(n).separate(result.support, 1e-6).empty());
                // Another LP from the rows read back, sparse and priced out,
                // reaches the same bound: the comb rows' duals count in
                // pricing and in the safe bound as CLP counts them.
                const CutRows cutRows = lp.cutRows();
                combRows += cutRows.combs.size();
                LpRelaxation sparse(graph);
                sparse.addCheapestArcs(1);
                ASSERT_EQ(sparse.addCutRows(cutRows), lp.cutCount());
                // Infeasible columns get the arcs that break the certificate.
                do {
                    sparse.solve();
                } while (sparse.priceArcs(n) > 0);
                EXPECT_EQ(sparse.safeBound(), result.bound) << "trial " << trial;
            }
        }
        EXPECT_GE(bounds[1], bounds[0]) << "trial " << trial;
        EXPECT_GE(bounds[2], bounds[1]) << "trial " << trial;
        raisedByBlossoms += bounds[1] > bounds[0] ? 1 : 0;
        raisedByCombs += bounds[2] > bounds[1] ? 1 : 0;
    }
    EXPECT_GT(raisedByBlossoms, 0);
    EXPECT_GT(raisedByCombs, 0);
    EXPECT_GT(combRows, 0u);
}

// One LP and one pool from node to node, as a search uses them: each node's
// bound is that of all subtour cuts under its mask, and a verdict of no tour
// comes only where enumeration finds none.
TEST(CuttingPlanes, NodeAfterNodeTheBoundIsThatOfTheMaskedGraph) {
    std::mt19937_64 random(22);
    int infeasible = 0;
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 10; ++trial) {
            const int n = 4 + trial % 6;
            const Rows rows = randomRows(random, n, family, trial % 3 == 0 ? 0.2 : 0.0);
            const Graph graph = rows.graph();
            LpRelaxation lp(graph);
            lp.addCheapestArcs(2);
            CutPool pool(n);
            CuttingPlanes loop(lp, &pool, subtourCutsOnly());
            for (int node = 0; node < 12; ++node) {
                const Constraints constraints =
                    randomConstraints(random, rows, node % 4, node % 3 == 0 ? 2 * n : n / 2);
                ArcMask mask(n);
                applyConstraints(constraints, rows, mask);
                const std::int64_t optimum = heldKarpOptimum(maskedRows(rows, constraints));
                const CuttingPlaneResult result = loop.bound(&mask);
                ASSERT_LE(result.bound, optimum) << "n " << n << " node " << node;
                if (result.status == CuttingPlaneStatus::Infeasible) {
                    ++infeasible;
                    EXPECT_EQ(optimum, InfeasibleBound);
                    continue;
                }
                ASSERT_EQ(result.status, CuttingPlaneStatus::Solved);
                EXPECT_EQ(result.bound, allCutsBound(graph, &mask))
                    << "n " << n << " node " << node;
                if (!result.tour.empty()) {
                    EXPECT_EQ(result.bound, optimum);
                }
            }
        }
    }
    EXPECT_GT(infeasible, 0);
}

// The incumbent's cost stops the loop once the safe bound reaches it, and
// only then.
TEST(CuttingPlanes, TheCutoffPrunesOnlyNodesWithoutACheaperTour) {
    std::mt19937_64 random(23);
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 20; ++trial) {
            const int n = 4 + trial % 6;
            const Rows rows = randomRows(random, n, family);
            const Graph graph = rows.graph();
            const std::int64_t optimum = heldKarpOptimum(rows);
            AssignmentProblem assignment(graph);
            assignment.solveHungarian(false);
            {
                LpRelaxation lp(graph);
                lp.addCheapestArcs(2);
                CuttingPlanes loop(lp, nullptr);
                const CuttingPlaneResult result = loop.bound(nullptr, optimum + 1);
                EXPECT_NE(result.status, CuttingPlaneStatus::CutOff);
                EXPECT_LE(result.bound, optimum);
            }
            {
                LpRelaxation lp(graph);
                lp.addCheapestArcs(2);
                CuttingPlanes loop(lp, nullptr);
                const std::int64_t cutoff = assignment.solutionValue();
                const CuttingPlaneResult result = loop.bound(nullptr, cutoff);
                EXPECT_EQ(result.status, CuttingPlaneStatus::CutOff);
                EXPECT_GE(result.bound, cutoff);
                EXPECT_LE(result.bound, optimum);
            }
        }
    }
}

// A second LP that starts from the first one's pool ends at the same bound.
TEST(CuttingPlanes, ASharedPoolGivesTheSameBound) {
    std::mt19937_64 random(24);
    for (int trial = 0; trial < 20; ++trial) {
        const int n = 10 + trial;
        const Rows rows = randomRows(random, n, costFamilies()[trial % 4]);
        const Graph graph = rows.graph();
        CutPool pool(n);
        LpRelaxation first(graph);
        first.addCheapestArcs(3);
        const CuttingPlaneResult firstResult = CuttingPlanes(first, &pool).bound(nullptr);
        ASSERT_EQ(firstResult.status, CuttingPlaneStatus::Solved);
        LpRelaxation second(graph);
        second.addCheapestArcs(3);
        const CuttingPlaneResult secondResult = CuttingPlanes(second, &pool).bound(nullptr);
        ASSERT_EQ(secondResult.status, CuttingPlaneStatus::Solved);
        EXPECT_EQ(secondResult.bound, firstResult.bound);
    }
}

// Threads bound the nodes of one graph, each on its own LP, all sharing one
// pool as a search's threads do: whatever cuts each finds first, every node
// ends at the bound of all subtour cuts under its mask.
TEST(CuttingPlanes, ParallelLoopsSharingAPoolGiveTheBoundsOfAllCuts) {
    std::mt19937_64 random(27);
    constexpr int n = 9;
    const Rows rows = randomRows(random, n, costFamilies()[1]);
    const Graph graph = rows.graph();
    constexpr int threadCount = 4, nodesPerThread = 6;
    std::vector<ArcMask> masks;
    for (int node = 0; node < threadCount * nodesPerThread; ++node) {
        masks.emplace_back(n);
        applyConstraints(randomConstraints(random, rows, node % 3, n / 2), rows, masks.back());
    }
    std::vector<std::int64_t> expected;
    for (const ArcMask& mask : masks) {
        expected.push_back(allCutsBound(graph, &mask));
    }
    CutPool pool(n);
    std::vector<std::int64_t> bounds(masks.size(), 0);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < threadCount; ++thread) {
        threads.emplace_back([&, thread] {
            LpRelaxation lp(graph);
            lp.addCheapestArcs(2);
            CuttingPlanes loop(lp, &pool, subtourCutsOnly());
            for (int k = 0; k < nodesPerThread; ++k) {
                const std::size_t node = static_cast<std::size_t>(thread * nodesPerThread + k);
                const CuttingPlaneResult result = loop.bound(&masks[node]);
                bounds[node] = result.status == CuttingPlaneStatus::Solved ||
                                       result.status == CuttingPlaneStatus::Infeasible
                                   ? result.bound
                                   : -1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(bounds, expected);
    EXPECT_GT(pool.size(), 0u);
}

TEST(CuttingPlanes, APassedDeadlineStopsWithABoundThatStands) {
    std::mt19937_64 random(25);
    const Rows rows = randomRows(random, 9, costFamilies()[1]);
    const Graph graph = rows.graph();
    LpRelaxation lp(graph);
    lp.addCheapestArcs(2);
    CuttingPlanes loop(lp, nullptr);
    const CuttingPlaneResult result =
        loop.bound(nullptr, InfeasibleBound, CuttingPlanes::Clock::now() - std::chrono::seconds(1));
    EXPECT_EQ(result.status, CuttingPlaneStatus::Stopped);
    EXPECT_LE(result.bound, heldKarpOptimum(rows));
}

// Too few rounds for the cuts a graph needs: the loop stops early, with a
// bound that still holds.
TEST(CuttingPlanes, ARoundLimitStopsEarlyWithABoundThatStands) {
    std::mt19937_64 random(26);
    for (int trial = 0; trial < 20; ++trial) {
        const Rows rows = randomRows(random, 9, costFamilies()[trial % 4]);
        const Graph graph = rows.graph();
        LpRelaxation lp(graph);
        lp.addCheapestArcs(1);
        CuttingPlaneOptions options;
        options.maxRounds = 1;
        const CuttingPlaneResult result = CuttingPlanes(lp, nullptr, options).bound(nullptr);
        EXPECT_LE(result.bound, heldKarpOptimum(rows));
        EXPECT_EQ(result.rounds, 1);
    }
}

// Tailing off ends the separation, not the LP: a loop told to tail off at
// its second round of cuts still solves and prices to the end, so that no
// arc prices negative and the bound is at least the assignment bound (from a
// sparse start, the duals of the columns alone can lie far below both).
TEST(CuttingPlanes, TailedOffTheLoopStillPricesEveryArcIn) {
    std::mt19937_64 random(27);
    int tailedOff = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const CostFamily& family = costFamilies()[trial % 4];
        SCOPED_TRACE(family.name);
        const int n = 8 + trial % 5;
        const Rows rows = randomRows(random, n, family);
        const Graph graph = rows.graph();
        LpRelaxation assignment(graph);
        assignment.addCheapestArcs(static_cast<std::size_t>(n));
        ASSERT_EQ(assignment.solve(), LpStatus::Optimal);
        const std::int64_t assignmentBound = assignment.safeBound();

        LpRelaxation lp(graph);
        lp.addCheapestArcs(1);
        CuttingPlaneOptions options;
        options.tailingOffRounds = 1;
        options.tailingOffGain = 1e18;  // no gain is enough
        const CuttingPlaneResult result = CuttingPlanes(lp, nullptr, options).bound(nullptr);
        ASSERT_LE(result.bound, heldKarpOptimum(rows)) << "trial " << trial;
        EXPECT_GE(result.bound, assignmentBound) << "trial " << trial;
        EXPECT_EQ(lp.priceArcs(graph.arcCount()), 0u) << "trial " << trial;
        tailedOff += result.status == CuttingPlaneStatus::TailedOff ? 1 : 0;
    }
    EXPECT_GT(tailedOff, 0);
}

// The root of every TSPLIB instance, within a minute each: a bound at most
// the published optimum, and the optimum itself when the solved LP's
// solution is a tour.
TEST(CuttingPlanes, TsplibRootBoundsStayAtOrBelowThePublishedOptima) {
    if (!std::filesystem::is_directory(TSPLIB_DIR)) {
        GTEST_SKIP() << "no TSPLIB instances at " << TSPLIB_DIR;
    }
    const std::vector<testing_support::PublishedOptimum> instances =
        testing_support::publishedOptima(TSPLIB_DIR);
    ASSERT_EQ(instances.size(), 19u);
    for (const testing_support::PublishedOptimum& instance : instances) {
        SCOPED_TRACE(instance.name);
        std::string text;
        ASSERT_TRUE(readFileText(std::string(TSPLIB_DIR) + "/" + instance.name + ".mat", text));
        const MatrixReadResult problem = parseCostMatrix(text);
        ASSERT_EQ(problem.error, "");
        LpRelaxation lp(problem.graph);
        lp.addCheapestArcs(5);
        CutPool pool(problem.graph.cityCount());
        CuttingPlaneOptions options;
        options.exactBlossoms = true;
        options.combs = true;
        const CuttingPlaneResult result =
            CuttingPlanes(lp, &pool, options)
                .bound(nullptr, InfeasibleBound,
                       CuttingPlanes::Clock::now() + std::chrono::seconds(60));
        EXPECT_NE(result.status, CuttingPlaneStatus::Infeasible);
        EXPECT_LE(result.bound, instance.optimum);
        if (result.status == CuttingPlaneStatus::Solved && !result.tour.empty()) {
            EXPECT_EQ(tourCost(problem.graph, result.tour), instance.optimum);
            EXPECT_EQ(result.bound, instance.optimum);
        }
    }
}

}  // namespace

}  // namespace atsp
