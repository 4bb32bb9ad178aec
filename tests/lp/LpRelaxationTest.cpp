// The LP relaxation against certificates: the assignment problem's value
// (the LP without cuts is the assignment LP, whose vertices are integral),
// Held-Karp optima and every tour of small graphs, on the cost families of
// LpTestSupport.h, complete and with arcs taken out, under masks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

#include "assignment/ArcMask.h"
#include "assignment/AssignmentProblem.h"
#include "graph/CostLattice.h"
#include "lp/BlossomSeparation.h"
#include "lp/ExactBlossomSeparation.h"
#include "lp/LiftedCycleSeparation.h"
#include "lp/LpRelaxation.h"
#include "tests/lp/LpTestSupport.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using lp_testing::allTours;
using lp_testing::applyConstraints;
using lp_testing::Constraints;
using lp_testing::costFamilies;
using lp_testing::CostFamily;
using lp_testing::maskedRows;
using lp_testing::randomConstraints;
using lp_testing::randomRows;
using lp_testing::Tour;
using testing_support::heldKarpOptimum;
using testing_support::Rows;

std::vector<LpArc> allArcs(const Graph& graph) {
    std::vector<LpArc> arcs;
    for (Node tail = 0; tail < graph.cityCount(); ++tail) {
        for (std::size_t position = 0; position < graph.rowLength(tail); ++position) {
            arcs.push_back({tail, static_cast<Node>(position)});
        }
    }
    return arcs;
}

// The assignment value of the graph under the mask (null: none), or
// InfeasibleBound.
std::int64_t assignmentValue(const Graph& graph, const ArcMask* mask = nullptr) {
    AssignmentProblem problem(graph);
    problem.setArcMask(mask);
    problem.solveHungarian(false);
    return problem.solutionValue();
}

// Every set with a side of two cities or more, once as itself and once as
// its complement, so that the second is a duplicate.
std::vector<SubtourCut> allSubtourCuts(std::size_t n) {
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
    return cuts;
}

double tolerance(double value) {
    return 1e-7 * std::max(1.0, std::abs(value));
}

TEST(LpRelaxation, NoCityAndOneCityCostNothing) {
    for (const int n : {0, 1}) {
        const Graph graph = testing_support::completeGraph(
            testing_support::Matrix(n, std::vector<std::int32_t>(n, -1)));
        LpRelaxation lp(graph);
        EXPECT_EQ(lp.solve(), LpStatus::Optimal);
        EXPECT_EQ(lp.objective(), 0);
        EXPECT_EQ(lp.safeBound(), 0);
        EXPECT_TRUE(lp.support().empty());
        EXPECT_TRUE(lp.isIntegral());
        EXPECT_EQ(lp.priceArcs(10), 0u);
        EXPECT_TRUE(lp.reducedCostFixing(5).forbidden.empty());
    }
}

TEST(LpRelaxation, TwoCitiesHaveOneTourAndWithoutAnArcNone) {
    const Graph graph = testing_support::completeGraph({{-1, -7}, {2000000000, -1}});
    LpRelaxation lp(graph);
    lp.addCheapestArcs(1);
    EXPECT_EQ(lp.solve(), LpStatus::Optimal);
    EXPECT_EQ(lp.safeBound(), 2000000000 - 7);
    EXPECT_EQ(lp.support().size(), 2u);
    EXPECT_TRUE(lp.isIntegral());

    const Graph oneWay = Graph::fromRows({{1}, {}}, {{5}, {}});
    LpRelaxation broken(oneWay);
    broken.addCheapestArcs(1);
    broken.solve();
    EXPECT_EQ(broken.safeBound(), InfeasibleBound);
}

// Without cuts, over all arcs, the LP is the assignment problem: the same
// value, and the safe bound that exact integer. An infeasible assignment is
// proven so by the ray.
TEST(LpRelaxation, WithAllColumnsAndNoCutsTheBoundIsTheAssignmentValue) {
    std::mt19937_64 random(1);
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 60; ++trial) {
            const int n = 2 + trial % 40;
            const Rows rows = randomRows(random, n, family, trial % 3 == 0 ? 0.0 : 0.5);
            const Graph graph = rows.graph();
            const std::int64_t value = assignmentValue(graph);
            LpRelaxation lp(graph);
            lp.addArcs(allArcs(graph));
            const LpStatus status = lp.solve();
            ASSERT_EQ(lp.safeBound(), value) << "n " << n << " trial " << trial;
            if (value == InfeasibleBound) {
                EXPECT_EQ(status, LpStatus::Infeasible);
            } else {
                EXPECT_EQ(status, LpStatus::Optimal);
                EXPECT_NEAR(lp.objective(), static_cast<double>(value), tolerance(value));
            }
        }
    }
}

// From one cheapest arc per city (often infeasible) pricing reaches the
// assignment value; every bound on the way is already safe.
TEST(LpRelaxation, PricingFromFewColumnsReachesTheAssignmentValue) {
    std::mt19937_64 random(2);
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 40; ++trial) {
            const int n = 3 + trial;
            const Rows rows = randomRows(random, n, family, trial % 4 == 0 ? 0.6 : 0.0);
            const Graph graph = rows.graph();
            const std::int64_t value = assignmentValue(graph);
            LpRelaxation lp(graph);
            lp.addCheapestArcs(1);
            std::size_t priced = 0;
            int rounds = 0;
            do {
                lp.solve();
                const std::int64_t bound = lp.safeBound();
                if (value != InfeasibleBound) {
                    ASSERT_LE(bound, value);
                }
                priced = lp.priceArcs(1 + trial % 7);
                ASSERT_LT(++rounds, 10000);
            } while (priced > 0);
            EXPECT_EQ(lp.safeBound(), value) << "n " << n;
            if (value != InfeasibleBound) {
                EXPECT_NEAR(lp.objective(), static_cast<double>(value), tolerance(value));
                EXPECT_LT(lp.columnCount(), graph.arcCount() + 1);
            }
        }
    }
}

// With every subtour cut (all sets, n <= 9) the bound never passes the
// optimum, and meets it when the LP's solution is a tour.
TEST(LpRelaxation, AllSubtourCutsBoundTheOptimumAndMeetItOnIntegralTours) {
    std::mt19937_64 random(3);
    int integralTours = 0;
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 40; ++trial) {
            const int n = 3 + trial % 7;
            const Rows rows = randomRows(random, n, family, trial % 5 == 0 ? 0.4 : 0.0);
            const Graph graph = rows.graph();
            const std::int64_t optimum = heldKarpOptimum(rows);
            const std::int64_t assignment = assignmentValue(graph);
            LpRelaxation lp(graph);
            lp.addCheapestArcs(2);
            const std::size_t sides = (std::size_t{1} << (n - 1)) - 1 - n;
            EXPECT_EQ(lp.addCuts(allSubtourCuts(n)), sides);
            EXPECT_EQ(lp.addCuts(allSubtourCuts(n)), 0u);
            ASSERT_EQ(lp.cutCount(), sides);
            while (true) {
                lp.solve();
                if (lp.priceArcs(5) == 0) {
                    break;
                }
            }
            const std::int64_t bound = lp.safeBound();
            ASSERT_LE(bound, optimum) << "n " << n << " trial " << trial;
            if (assignment != InfeasibleBound) {
                EXPECT_GE(bound, assignment) << "n " << n << " trial " << trial;
            }
            if (lp.status() == LpStatus::Optimal && lp.isIntegral()) {
                ++integralTours;
                EXPECT_EQ(bound, optimum);
                std::int64_t cost = 0;
                for (const SupportArc& arc : lp.support()) {
                    cost += rows.costs[arc.tail][lp_testing::positionIn(
                        rows, static_cast<Node>(arc.tail), static_cast<Node>(arc.head))];
                }
                EXPECT_EQ(cost, optimum);
            }
        }
    }
    EXPECT_GT(integralTours, 0);
}

// One LP re-used from mask to mask, warm-started each time, gives each
// mask's assignment value; pricing never brings in a blocked arc.
TEST(LpRelaxation, UnderMasksTheBoundIsTheMaskedAssignmentValue) {
    std::mt19937_64 random(4);
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 12; ++trial) {
            const int n = 4 + 3 * trial;
            const Rows rows = randomRows(random, n, family, trial % 3 == 0 ? 0.3 : 0.0);
            const Graph graph = rows.graph();
            LpRelaxation full(graph);
            full.addArcs(allArcs(graph));
            LpRelaxation sparse(graph);
            sparse.addCheapestArcs(2);
            for (int node = 0; node < 15; ++node) {
                const Constraints constraints =
                    randomConstraints(random, rows, node % 4, node % 3 == 0 ? n : n / 3);
                ArcMask mask(n);
                applyConstraints(constraints, rows, mask);
                const Rows allowed = maskedRows(rows, constraints);
                const std::int64_t value = assignmentValue(graph, &mask);
                ASSERT_EQ(value, assignmentValue(allowed.graph()));

                full.setAllowedArcs(mask);
                full.solve();
                ASSERT_EQ(full.safeBound(), value) << "n " << n << " node " << node;

                sparse.setAllowedArcs(mask);
                const std::size_t before = sparse.columnCount();
                do {
                    sparse.solve();
                } while (sparse.priceArcs(n) > 0);
                EXPECT_EQ(sparse.safeBound(), value);
                for (std::size_t column = before; column < sparse.columnCount(); ++column) {
                    const LpArc arc = sparse.columns()[column];
                    const Node head = graph.successors(arc.tail)[arc.position];
                    EXPECT_NE(lp_testing::positionIn(allowed, arc.tail, head), NoNode);
                }
            }
        }
    }
}

// Any duals bound any mask: those of one node, left as they are, bound the
// next node before it is solved.
TEST(LpRelaxation, TheDualsOfAnotherMaskStillBound) {
    std::mt19937_64 random(5);
    for (const CostFamily& family : costFamilies()) {
        for (int trial = 0; trial < 30; ++trial) {
            const int n = 3 + trial % 6;
            const Rows rows = randomRows(random, n, family);
            const Graph graph = rows.graph();
            LpRelaxation lp(graph);
            lp.addArcs(allArcs(graph));
            lp.addCuts(allSubtourCuts(n));
            ArcMask first(n), second(n);
            const Constraints firstConstraints = randomConstraints(random, rows, 2, n);
            const Constraints secondConstraints = randomConstraints(random, rows, 2, n);
            applyConstraints(firstConstraints, rows, first);
            applyConstraints(secondConstraints, rows, second);
            lp.setAllowedArcs(first);
            lp.solve();
            lp.setAllowedArcs(second);
            ASSERT_LE(lp.safeBound(), heldKarpOptimum(maskedRows(rows, secondConstraints)));
        }
    }
}

// Masks that often leave no tour: a verdict of none only where enumeration
// finds none, and a bound never above the cheapest tour there is.
TEST(LpRelaxation, InfeasibleMasksAreNeverWronglyPruned) {
    std::mt19937_64 random(6);
    int provenInfeasible = 0;
    for (const CostFamily& family : costFamilies()) {
        for (int trial = 0; trial < 60; ++trial) {
            const int n = 3 + trial % 6;
            const Rows rows = randomRows(random, n, family, 0.3);
            const Graph graph = rows.graph();
            LpRelaxation lp(graph);
            lp.addArcs(allArcs(graph));
            if (trial % 2 == 0) {
                lp.addCuts(allSubtourCuts(n));
            }
            for (int node = 0; node < 5; ++node) {
                const Constraints constraints = randomConstraints(random, rows, n / 2, 2 * n);
                ArcMask mask(n);
                applyConstraints(constraints, rows, mask);
                lp.setAllowedArcs(mask);
                const LpStatus status = lp.solve();
                const std::int64_t optimum = heldKarpOptimum(maskedRows(rows, constraints));
                const std::int64_t bound = lp.safeBound();
                ASSERT_LE(bound, optimum);
                if (bound == InfeasibleBound) {
                    ++provenInfeasible;
                } else if (optimum != InfeasibleBound) {
                    EXPECT_EQ(status, LpStatus::Optimal);
                }
            }
        }
    }
    EXPECT_GT(provenInfeasible, 0);
}

// Forcing the two arcs of a subtour leaves the assignment feasible but not
// the cut of its cities: only the ray proves it.
TEST(LpRelaxation, TheRayOfAForcedSubtourProvesThatNoTourIsLeft) {
    std::mt19937_64 random(7);
    for (const CostFamily& family : costFamilies()) {
        for (int n = 4; n < 12; ++n) {
            const Rows rows = randomRows(random, n, family);
            const Graph graph = rows.graph();
            LpRelaxation lp(graph);
            lp.addArcs(allArcs(graph));
            ArcMask mask(n);
            mask.force(0, 1, lp_testing::positionIn(rows, 0, 1));
            mask.force(1, 0, lp_testing::positionIn(rows, 1, 0));
            lp.setAllowedArcs(mask);
            EXPECT_EQ(lp.solve(), LpStatus::Optimal);
            EXPECT_LT(lp.safeBound(), InfeasibleBound);
            lp.addCuts(std::vector<SubtourCut>{{{0, 1}, 0}});
            EXPECT_EQ(lp.solve(), LpStatus::Infeasible);
            EXPECT_EQ(lp.safeBound(), InfeasibleBound);
            EXPECT_TRUE(lp.reducedCostFixing(0).forced.empty());
        }
    }
}

// Each row's arcs of least reduced cost (`least`, `perRow` of them asked
// for) against `fixed`, which forbids by the same reduced costs: where it
// forbids a listed arc it forbids every allowed arc the list leaves out.
// Lists hold allowed arcs only, each once, as many as asked or allowed.
// Returns how many rows had a listed arc forbidden.
std::size_t expectRankedAsFixing(const Graph& graph, const Rows& allowed,
                                 const std::vector<std::vector<Node>>& least, std::size_t perRow,
                                 const FixedArcs& fixed) {
    std::size_t rowsChecked = 0;
    EXPECT_EQ(least.size(), graph.cityCount());
    for (Node row = 0; row < least.size(); ++row) {
        const std::vector<Node>& heads = allowed.heads[row];
        std::vector<Node> listed;
        for (const Node position : least[row]) {
            listed.push_back(graph.successors(row)[position]);
        }
        std::vector<Node> sorted = listed;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
        EXPECT_EQ(listed.size(), std::min(perRow, heads.size()));
        for (const Node head : listed) {
            EXPECT_NE(std::find(heads.begin(), heads.end(), head), heads.end());
        }
        std::vector<Node> forbidden;
        for (const LpArc arc : fixed.forbidden) {
            if (arc.tail == row) {
                forbidden.push_back(graph.successors(row)[arc.position]);
            }
        }
        const auto isForbidden = [&](Node head) {
            return std::find(forbidden.begin(), forbidden.end(), head) != forbidden.end();
        };
        if (std::none_of(listed.begin(), listed.end(), isForbidden)) {
            continue;
        }
        ++rowsChecked;
        for (const Node head : heads) {
            if (std::find(listed.begin(), listed.end(), head) == listed.end()) {
                EXPECT_TRUE(isForbidden(head)) << "row " << row << " head " << head;
            }
        }
    }
    return rowsChecked;
}

// Fixing at an upper bound U never forbids an arc of a tour cheaper than U
// nor forces one that such a tour lacks; checked against every tour. The
// arcs of least reduced cost (the local search's neighbours) are the last
// it forbids. Past a deadline, neither fixes nor ranks anything: a root that
// the deadline overtakes ends without them.
TEST(LpRelaxation, ReducedCostFixingKeepsEveryCheaperTour) {
    std::mt19937_64 random(8);
    std::size_t forbidden = 0, forced = 0, rankedRows = 0;
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 50; ++trial) {
            const int n = 3 + trial % 6;
            const Rows rows = randomRows(random, n, family, trial % 4 == 0 ? 0.3 : 0.0);
            const Graph graph = rows.graph();
            LpRelaxation lp(graph);
            lp.addCheapestArcs(3);
            if (trial % 3 != 0) {
                lp.addCuts(allSubtourCuts(n));
            }
            Constraints constraints;
            ArcMask mask(n);
            if (trial % 2 == 0) {
                constraints = randomConstraints(random, rows, 1, n / 2);
                applyConstraints(constraints, rows, mask);
                lp.setAllowedArcs(mask);
            }
            const Rows allowed = maskedRows(rows, constraints);
            const std::vector<Tour> tours = allTours(allowed);
            if (tours.empty()) {
                continue;
            }
            do {
                lp.solve();
            } while (trial % 5 != 0 && lp.priceArcs(3) > 0);
            std::vector<std::int64_t> costs;
            for (const Tour& tour : tours) {
                costs.push_back(tour.cost);
            }
            std::sort(costs.begin(), costs.end());
            const std::int64_t spread = std::max<std::int64_t>(1, (costs.back() - costs[0]) / 8);
            for (const std::int64_t upperBound :
                 {costs[0], costs[0] + 1, costs[0] + spread, costs[costs.size() / 2]}) {
                const FixedArcs fixed = lp.reducedCostFixing(upperBound);
                forbidden += fixed.forbidden.size();
                forced += fixed.forced.size();
                const LpRelaxation::Clock::time_point past =
                    LpRelaxation::Clock::now() - std::chrono::seconds(1);
                const FixedArcs late = lp.reducedCostFixing(upperBound, past);
                EXPECT_TRUE(late.forbidden.empty() && late.forced.empty());
                for (const std::vector<Node>& row : lp.leastReducedCostArcs(3, past)) {
                    EXPECT_TRUE(row.empty());
                }
                for (const std::size_t perRow : {std::size_t{1}, std::size_t{3}}) {
                    rankedRows += expectRankedAsFixing(
                        graph, allowed, lp.leastReducedCostArcs(perRow), perRow, fixed);
                }
                for (const Tour& tour : tours) {
                    if (tour.cost >= upperBound) {
                        continue;
                    }
                    for (const LpArc arc : fixed.forbidden) {
                        EXPECT_NE(tour.successors[arc.tail],
                                  graph.successors(arc.tail)[arc.position])
                            << "n " << n << " trial " << trial << " U " << upperBound;
                    }
                    for (const LpArc arc : fixed.forced) {
                        EXPECT_EQ(tour.successors[arc.tail],
                                  graph.successors(arc.tail)[arc.position])
                            << "n " << n << " trial " << trial << " U " << upperBound;
                    }
                }
            }
        }
    }
    EXPECT_GT(forbidden, 0u);
    EXPECT_GT(forced, 0u);
    EXPECT_GT(rankedRows, 0u);
}

// A cutoff at or below the value stops the solve with a bound that reaches
// it; one above the value changes nothing.
TEST(LpRelaxation, ACutoffStopsOnlyWhenTheSafeBoundReachesIt) {
    std::mt19937_64 random(9);
    for (const CostFamily& family : costFamilies()) {
        for (int trial = 0; trial < 20; ++trial) {
            const int n = 5 + 2 * trial;
            const Rows rows = randomRows(random, n, family);
            const Graph graph = rows.graph();
            const std::int64_t value = assignmentValue(graph);
            for (const std::int64_t cutoff : {value - 5, value, value + 1}) {
                LpRelaxation lp(graph);
                lp.addArcs(allArcs(graph));
                const LpStatus status = lp.solve(cutoff);
                if (cutoff > value) {
                    EXPECT_EQ(status, LpStatus::Optimal);
                    EXPECT_EQ(lp.safeBound(), value);
                } else {
                    EXPECT_TRUE(status == LpStatus::CutOff || status == LpStatus::Optimal);
                    EXPECT_GE(lp.safeBound(), cutoff);
                    EXPECT_LE(lp.safeBound(), value);
                }
            }
        }
    }
}

// Out of time, or asked to stop by another thread: a solve returns at once,
// and the duals it keeps still bound the mask it was asked about; once the
// request is withdrawn the same object solves again.
TEST(LpRelaxation, APassedDeadlineOrAStopRequestStopsAtOnceAndTheLastBoundStands) {
    std::mt19937_64 random(10);
    const Rows rows = randomRows(random, 12, costFamilies()[1]);
    const Graph graph = rows.graph();
    const std::int64_t value = assignmentValue(graph);
    const auto past = LpRelaxation::Clock::now() - std::chrono::seconds(1);
    for (const bool byRequest : {false, true}) {
        SCOPED_TRACE(byRequest ? "stop request" : "deadline");
        std::atomic<bool> stop{false};
        LpRelaxation lp(graph);
        lp.watchStopFlag(&stop);
        lp.addArcs(allArcs(graph));
        const auto stopNow = [&] {
            stop = byRequest;
            return lp.solve(InfeasibleBound,
                            byRequest ? LpRelaxation::Clock::time_point::max() : past);
        };
        EXPECT_EQ(stopNow(), LpStatus::Stopped);
        EXPECT_LE(lp.safeBound(), value);
        stop = false;
        EXPECT_EQ(lp.solve(), LpStatus::Optimal);
        ASSERT_EQ(lp.safeBound(), value);
        ArcMask mask(12);
        mask.forbid(0, graph.successors(0)[0]);
        lp.setAllowedArcs(mask);
        EXPECT_EQ(stopNow(), LpStatus::Stopped);
        EXPECT_LE(lp.safeBound(), assignmentValue(graph, &mask));
    }
}

// The passes over every arc give nothing once their deadline has passed, and
// leave nothing behind: a bound given up is not kept, the columns not
// priced in are priced in by the next pass, and the LP ends at its value.
TEST(LpRelaxation, PassesOverEveryArcGiveNothingPastTheirDeadline) {
    const auto past = LpRelaxation::Clock::now() - std::chrono::seconds(1);
    int priced = 0;
    for (std::uint64_t seed = 0; seed < 10; ++seed) {
        std::mt19937_64 random(seed);
        const Rows rows = randomRows(random, 12, costFamilies()[seed % costFamilies().size()]);
        const Graph graph = rows.graph();
        LpRelaxation lp(graph);
        EXPECT_EQ(lp.addCheapestArcs(1, past), 0u);
        EXPECT_EQ(lp.columnCount(), 0u);
        ASSERT_GT(lp.addCheapestArcs(1), 0u);
        // Optimal or infeasible over so few columns: both price arcs in.
        ASSERT_NE(lp.solve(), LpStatus::Stopped);
        EXPECT_EQ(lp.safeBound(past), std::numeric_limits<std::int64_t>::min());
        EXPECT_EQ(lp.priceArcs(1000, 1e-9, past), 0u);
        const std::size_t columns = lp.columnCount();
        EXPECT_NE(lp.safeBound(), std::numeric_limits<std::int64_t>::min());
        EXPECT_LE(lp.safeBound(), assignmentValue(graph));
        if (lp.priceArcs(1000) > 0) {
            ++priced;
            EXPECT_GT(lp.columnCount(), columns);
        }
        while (lp.solve() != LpStatus::Stopped && lp.priceArcs(1000) > 0) {
        }
        EXPECT_EQ(lp.status(), LpStatus::Optimal);
        EXPECT_EQ(lp.safeBound(), assignmentValue(graph));
    }
    EXPECT_GT(priced, 0);  // the pass given up had arcs to add
}

// Cut rows slack for long enough go, the value stays, and a dropped set may
// come back.
TEST(LpRelaxation, DroppingSlackCutsKeepsTheValue) {
    std::mt19937_64 random(11);
    for (const CostFamily& family : costFamilies()) {
        const int n = 8;
        const Rows rows = randomRows(random, n, family);
        const Graph graph = rows.graph();
        LpRelaxation lp(graph);
        lp.addArcs(allArcs(graph));
        lp.addCuts(allSubtourCuts(n));
        lp.solve();
        const double value = lp.objective();
        const std::int64_t bound = lp.safeBound();
        EXPECT_EQ(lp.dropSlackCuts(2), 0u);
        lp.solve();
        const std::size_t before = lp.cutCount();
        const std::size_t dropped = lp.dropSlackCuts(2);
        EXPECT_GT(dropped, 0u);
        EXPECT_EQ(lp.cutCount(), before - dropped);
        lp.solve();
        EXPECT_NEAR(lp.objective(), value, tolerance(value));
        EXPECT_EQ(lp.safeBound(), bound);
        EXPECT_EQ(lp.addCuts(allSubtourCuts(n)), dropped);
    }
}

// A kept basis restored after other solves: under the kept mask the LP comes
// back to the very vertex it had, its statuses back on their columns and, by
// id, on their cut rows, though rows were dropped before them and added
// after. From a basis that lost tight rows since, or from any basis, a solve
// still ends at the LP's optimum; another LP's basis is refused.
TEST(LpRelaxation, ARestoredBasisLeadsBackToItsVertexAndAnyStartToTheOptimum) {
    std::mt19937_64 random(17);
    int shortBases = 0;
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 8; ++trial) {
            const int n = 5 + trial % 4;
            const Rows rows = randomRows(random, n, family);
            const Graph graph = rows.graph();
            LpRelaxation lp(graph);
            lp.addArcs(allArcs(graph));
            std::vector<SubtourCut> cuts = allSubtourCuts(n);
            std::shuffle(cuts.begin(), cuts.end(), random);
            const std::size_t half = cuts.size() / 2;
            lp.addCuts(std::span(cuts).first(half));
            ASSERT_EQ(lp.solve(), LpStatus::Optimal);
            const LpBasis kept = lp.basis();
            const std::vector<SupportArc> vertex = lp.support();
            const std::int64_t bound = lp.safeBound();

            // Elsewhere: a node's mask, rows slack at both solves dropped (the
            // kept basis stays one), and cuts the kept vertex meets added.
            ArcMask mask(static_cast<std::size_t>(n));
            applyConstraints(randomConstraints(random, rows, 1, 2), rows, mask);
            lp.setAllowedArcs(mask);
            lp.solve();
            lp.dropSlackCuts(2);
            std::vector<SubtourCut> met;
            for (std::size_t k = half; k < cuts.size(); ++k) {
                if (lp_testing::outflow(vertex, cuts[k].cities, n) >= 1 - 1e-9) {
                    met.push_back(cuts[k]);
                }
            }
            lp.addCuts(met);
            lp.solve();

            lp.allowAllArcs();
            ASSERT_TRUE(lp.restoreBasis(kept));
            const LpBasis restored = lp.basis();
            EXPECT_EQ(restored.columns, kept.columns);
            EXPECT_EQ(restored.degreeRows, kept.degreeRows);
            EXPECT_EQ(restored.tightCuts, kept.tightCuts);
            ASSERT_EQ(lp.solve(), LpStatus::Optimal);
            const std::vector<SupportArc> again = lp.support();
            ASSERT_EQ(again.size(), vertex.size());
            for (std::size_t k = 0; k < vertex.size(); ++k) {
                EXPECT_EQ(again[k].tail, vertex[k].tail);
                EXPECT_EQ(again[k].head, vertex[k].head);
                EXPECT_NEAR(again[k].value, vertex[k].value, 1e-9);
            }
            EXPECT_EQ(lp.safeBound(), bound);

            // Rows tight at the kept vertex dropped: no longer a basis (a
            // basic variable too many per row), which the solve repairs,
            // under the mask as well.
            lp.setAllowedArcs(mask);
            lp.solve();
            lp.dropSlackCuts(1);
            ASSERT_TRUE(lp.restoreBasis(kept));
            shortBases += lp.basis().tightCuts.size() < kept.tightCuts.size() ? 1 : 0;
            const LpStatus status = lp.solve();
            LpRelaxation fresh(graph);
            fresh.addArcs(allArcs(graph));
            fresh.addCutRows(lp.cutRows());
            fresh.setAllowedArcs(mask);
            ASSERT_EQ(fresh.solve(), status);
            if (status == LpStatus::Optimal) {
                EXPECT_NEAR(lp.objective(), fresh.objective(), tolerance(fresh.objective()));
            }
            EXPECT_EQ(lp.safeBound(), fresh.safeBound());

            EXPECT_FALSE(fresh.restoreBasis(kept));
            EXPECT_FALSE(lp.restoreBasis(LpBasis{}));
        }
    }
    EXPECT_GT(shortBases, 0);
}

// Blossom rows (sums of several sets' outflows, right-hand sides above 1, an
// arc counted once per set it leaves, teeth that may overlap) and lifted cycle rows (single arcs of
// coefficient -1 and -2, right-hand sides below 0) through every exact
// computation: the bound of all columns is CLP's value rounded up, never
// above the optimum, and a sparse start priced out reaches the same bound, so
// the reduced costs pricing and the bound use are the rows CLP solves.
TEST(LpRelaxation, BlossomAndLiftedCycleRowsKeepTheBoundExactAndPricingComplete) {
    std::mt19937_64 random(13);
    int raisedByBlossoms = 0;
    int raisedByCycles = 0;
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 30; ++trial) {
            const int n = 6 + trial % 4;
            const Rows rows = randomRows(random, n, family);
            const Graph graph = rows.graph();
            const std::int64_t optimum = heldKarpOptimum(rows);
            LpRelaxation full(graph);
            full.addArcs(allArcs(graph));
            full.addCuts(allSubtourCuts(n));
            ASSERT_EQ(full.solve(), LpStatus::Optimal);
            const std::int64_t subtourBound = full.safeBound();
            std::vector<Blossom> added;
            BlossomSeparation separation(n);
            for (std::vector<Blossom> found = separation.separate(full.support(), 1e-6);
                 !found.empty(); found = separation.separate(full.support(), 1e-6)) {
                ASSERT_EQ(full.addBlossoms(found), found.size());
                EXPECT_EQ(full.addBlossoms(found), 0u) << "a known blossom is added again";
                added.insert(added.end(), found.begin(), found.end());
                ASSERT_EQ(full.solve(), LpStatus::Optimal);
            }
            // Then exactly: teeth that may share cities.
            ExactBlossomSeparation exact(n);
            for (std::vector<Blossom> found = exact.separate(full.support(), 1e-6); !found.empty();
                 found = exact.separate(full.support(), 1e-6)) {
                ASSERT_EQ(full.addBlossoms(found), found.size());
                added.insert(added.end(), found.begin(), found.end());
                ASSERT_EQ(full.solve(), LpStatus::Optimal);
            }
            const std::int64_t blossomBound = full.safeBound();
            std::vector<LiftedCycle> cycles;
            LiftedCycleSeparation cycleSeparation(n);
            for (std::vector<LiftedCycle> found = cycleSeparation.separate(full.support(), 1e-6, 20);
                 !found.empty(); found = cycleSeparation.separate(full.support(), 1e-6, 20)) {
                ASSERT_EQ(full.addLiftedCycles(found), found.size());
                EXPECT_EQ(full.addLiftedCycles(found), 0u) << "a known cycle is added again";
                cycles.insert(cycles.end(), found.begin(), found.end());
                ASSERT_EQ(full.solve(), LpStatus::Optimal);
            }
            const std::int64_t bound = full.safeBound();
            SCOPED_TRACE(testing::Message() << "n " << n << " trial " << trial);
            EXPECT_LE(bound, optimum);
            EXPECT_GE(blossomBound, subtourBound);
            EXPECT_GE(bound, blossomBound);
            // The least cost a tour can have at or above the LP's value (its
            // ceiling, on all but the lattice), up to CLP's accuracy.
            const CostLattice lattice(graph);
            const double accuracy = tolerance(full.objective());
            EXPECT_EQ(lattice.roundUp(bound), bound);
            EXPECT_GE(static_cast<double>(bound), full.objective() - accuracy);
            EXPECT_LT(static_cast<double>(lattice.roundDown(bound - 1)),
                      full.objective() + accuracy);
            raisedByBlossoms += blossomBound > subtourBound ? 1 : 0;
            raisedByCycles += bound > blossomBound ? 1 : 0;

            // Another LP started from the rows read back: the same rows,
            // since it knows each by the key of the original (none is new
            // the second time), and so the same bound once priced out.
            LpRelaxation sparse(graph);
            sparse.addCheapestArcs(1);
            const CutRows cutRows = full.cutRows();
            EXPECT_EQ(cutRows.blossoms.size(), added.size());
            EXPECT_EQ(cutRows.liftedCycles.size(), cycles.size());
            ASSERT_EQ(sparse.addCutRows(cutRows), full.cutCount());
            EXPECT_EQ(sparse.addCuts(allSubtourCuts(n)), 0u);
            EXPECT_EQ(sparse.addBlossoms(added), 0u);
            EXPECT_EQ(sparse.addLiftedCycles(cycles), 0u);
            do {
                sparse.solve();
            } while (sparse.priceArcs(n) > 0);
            EXPECT_EQ(sparse.safeBound(), bound);
        }
    }
    EXPECT_GT(raisedByBlossoms, 0);
    EXPECT_GT(raisedByCycles, 0);
}

// A lifted cycle must leave a city out and name each city once: the cycle
// through all cities is itself a tour, and one k - 1 bounds no longer holds
// for, so these are refused rather than written. So are blossoms and combs
// with a city the graph lacks or an empty set, which have no row.
TEST(LpRelaxation, CutRowsNoGraphOrTourAllowsAreRefused) {
    const Graph graph = testing_support::completeGraph(testing_support::Matrix(5, std::vector<std::int32_t>(5, 1)));
    LpRelaxation lp(graph);
    const std::vector<LiftedCycle> bad{{{0, 1, 2, 3, 4}, false, 0},
                                       {{0, 1}, false, 0},
                                       {{0, 1, 1}, false, 0},
                                       {{0, 1, 5}, true, 0}};
    for (const LiftedCycle& cycle : bad) {
        EXPECT_THROW(lp.addLiftedCycles(std::span(&cycle, 1)), std::invalid_argument);
    }
    const std::vector<Blossom> blossomOutside{{{0, 1, 2}, {{0, 3}, {1, 4}, {2, 5}}, 0}};
    EXPECT_THROW(lp.addBlossoms(blossomOutside), std::invalid_argument);
    const std::vector<Comb> combOutside{{{0, 1}, {{0, 2}, {1, 3}, {4, 5}}, 0}};
    EXPECT_THROW(lp.addCombs(combOutside), std::invalid_argument);
    const std::vector<Comb> emptyTooth{{{0, 1}, {{0, 2}, {1, 3}, {}}, 0}};
    EXPECT_THROW(lp.addCombs(emptyTooth), std::invalid_argument);
    EXPECT_EQ(lp.cutCount(), 0u);
    const std::vector<LiftedCycle> good{{{0, 1, 2, 3}, false, 0}, {{0, 1, 2, 3}, true, 0}};
    EXPECT_EQ(lp.addLiftedCycles(good), 2u);
    EXPECT_EQ(lp.addLiftedCycles(good), 0u);
    EXPECT_TRUE(lp.cutSideOf(0).empty());
}

// Strong branching's estimates against each child's LP solved on its own:
// run to the end they are that LP's value (infinite where the child has no
// solution), stopped after one pivot they lie between the parent's value and
// it; and the model the search goes on with is left as it was. With each
// arc's reverse as its partner, the child that forbids the arc forbids both.
TEST(LpRelaxation, BranchEstimatesBoundEachChildAndLeaveTheParentAsItWas) {
    std::mt19937_64 random(12);
    constexpr double Infinite = std::numeric_limits<double>::infinity();
    for (const CostFamily& family : costFamilies()) {
        SCOPED_TRACE(family.name);
        for (int trial = 0; trial < 8; ++trial) {
            const int n = 6 + trial / 2;
            const bool pairs = trial % 2 == 1;
            const Rows rows = randomRows(random, n, family, trial % 4 < 2 ? 0.4 : 0.0);
            const Graph graph = rows.graph();
            const std::vector<LpArc> arcs = allArcs(graph);
            // Sparse graphs: some arcs have no reverse, hence no partner.
            std::vector<LpArc> partners;
            for (const LpArc& arc : arcs) {
                const Node head = graph.successors(arc.tail)[arc.position];
                const Node back = graph.arcPosition(head, arc.tail);
                partners.push_back(pairs && back != NoNode ? LpArc{head, back} : LpArc{NoNode, 0});
            }
            LpRelaxation lp(graph);
            lp.addArcs(arcs);
            lp.addCuts(allSubtourCuts(n));
            if (lp.solve() != LpStatus::Optimal) {
                continue;
            }
            const double parent = lp.objective();
            const std::int64_t bound = lp.safeBound();
            const auto solved = lp.estimateBranches(
                arcs, 100000, InfeasibleBound, LpRelaxation::Clock::time_point::max(), partners);
            const auto onePivot = lp.estimateBranches(
                arcs, 1, InfeasibleBound, LpRelaxation::Clock::time_point::max(), partners);
            EXPECT_EQ(lp.status(), LpStatus::Optimal);
            EXPECT_EQ(lp.objective(), parent);
            EXPECT_EQ(lp.safeBound(), bound);

            LpRelaxation child(graph);
            child.addArcs(arcs);
            child.addCuts(allSubtourCuts(n));
            for (std::size_t k = 0; k < arcs.size(); ++k) {
                const Node head = graph.successors(arcs[k].tail)[arcs[k].position];
                for (const bool up : {false, true}) {
                    ArcMask mask(n);
                    if (up) {
                        mask.force(arcs[k].tail, head, arcs[k].position);
                    } else {
                        mask.forbid(arcs[k].tail, head);
                        if (partners[k].tail != NoNode) {
                            mask.forbid(head, arcs[k].tail);
                        }
                    }
                    child.setAllowedArcs(mask);
                    const bool feasible = child.solve() == LpStatus::Optimal;
                    ASSERT_EQ(feasible, child.safeBound() != InfeasibleBound);
                    const double value = feasible ? child.objective() : Infinite;
                    const double estimate = up ? solved[k].up : solved[k].down;
                    const double early = up ? onePivot[k].up : onePivot[k].down;
                    SCOPED_TRACE(testing::Message()
                                 << "n " << n << " arc " << arcs[k].tail << "->" << head
                                 << (up ? " up" : " down") << (pairs ? ", with its reverse" : ""));
                    if (feasible) {
                        EXPECT_NEAR(estimate, value, tolerance(value));
                        EXPECT_LE(early, value + tolerance(value));
                    } else {
                        EXPECT_EQ(estimate, Infinite);
                    }
                    EXPECT_GE(early, parent - tolerance(parent));
                }
            }
            EXPECT_EQ(lp.solve(), LpStatus::Optimal);
            EXPECT_NEAR(lp.objective(), parent, tolerance(parent));
        }
    }
}

// Past the deadline, or once a stop is asked for, strong branching estimates
// nothing more (NaN: not estimated), so that a search stops on time. A child
// worth exactly 0 is an estimate like any other, told apart from one not
// reached: with costs of both signs, 0 may be a rise or a fall.
TEST(LpRelaxation, BranchEstimatesEndAtTheDeadlineOrAStop) {
    std::mt19937_64 random(13);
    const Rows rows = randomRows(random, 9, costFamilies()[1]);
    const Graph graph = rows.graph();
    const std::vector<LpArc> arcs = allArcs(graph);
    LpRelaxation lp(graph);
    lp.addArcs(arcs);
    ASSERT_EQ(lp.solve(), LpStatus::Optimal);
    const double parent = lp.objective();
    const auto expectNone = [&](const std::vector<LpRelaxation::BranchEstimate>& estimates) {
        ASSERT_EQ(estimates.size(), arcs.size());
        for (const LpRelaxation::BranchEstimate& estimate : estimates) {
            EXPECT_TRUE(std::isnan(estimate.down));
            EXPECT_TRUE(std::isnan(estimate.up));
        }
    };
    expectNone(lp.estimateBranches(arcs, 100, InfeasibleBound,
                                   LpRelaxation::Clock::now() - std::chrono::seconds(1)));
    std::atomic<bool> stop{true};
    lp.watchStopFlag(&stop);
    expectNone(lp.estimateBranches(arcs, 100, InfeasibleBound));
    lp.watchStopFlag(nullptr);
    // Without either, some child rises.
    bool rose = false;
    for (const LpRelaxation::BranchEstimate& estimate :
         lp.estimateBranches(arcs, 100, InfeasibleBound)) {
        rose = rose || estimate.down > parent + 1e-6 || estimate.up > parent + 1e-6;
    }
    EXPECT_TRUE(rose);
    EXPECT_EQ(lp.objective(), parent);

    // Costs of 0 everywhere: every child that has a solution is worth 0.
    const Graph zeros = testing_support::completeGraph(testing_support::constantMatrix(5, 0));
    const std::vector<LpArc> zeroArcs = allArcs(zeros);
    LpRelaxation flat(zeros);
    flat.addArcs(zeroArcs);
    ASSERT_EQ(flat.solve(), LpStatus::Optimal);
    for (const LpRelaxation::BranchEstimate& estimate :
         flat.estimateBranches(zeroArcs, 100, InfeasibleBound)) {
        EXPECT_EQ(estimate.down, 0);
        EXPECT_EQ(estimate.up, 0);
    }
}

TEST(LpRelaxation, ColumnsAreAddedOnceAndOnlyFromTheGraph) {
    const Graph graph = testing_support::completeGraph(testing_support::constantMatrix(4, 3));
    LpRelaxation lp(graph);
    const std::vector<LpArc> arcs{{0, 0}, {0, 0}, {1, 2}};
    EXPECT_EQ(lp.addArcs(arcs), 2u);
    EXPECT_EQ(lp.addArcs(arcs), 0u);
    EXPECT_TRUE(lp.hasColumn({1, 2}));
    EXPECT_FALSE(lp.hasColumn({2, 1}));
    EXPECT_THROW(lp.addArcs(std::vector<LpArc>{{0, 3}}), std::out_of_range);
    EXPECT_THROW(lp.addArcs(std::vector<LpArc>{{4, 0}}), std::out_of_range);
    EXPECT_THROW(lp.addCuts(std::vector<SubtourCut>{{{2, 1}, 0}}), std::invalid_argument);
    EXPECT_EQ(lp.addCuts(std::vector<SubtourCut>{{{1}, 0}, {{0, 1, 2}, 0}}), 0u);
    EXPECT_EQ(lp.addCuts(std::vector<SubtourCut>{{{1, 3}, 0}, {{0, 2}, 0}}), 1u);
    EXPECT_EQ(lp.cutSideOf(0), (std::vector<std::uint32_t>{0, 2}));
    ArcMask wrongSize(5);
    EXPECT_THROW(lp.setAllowedArcs(wrongSize), std::invalid_argument);
}

}  // namespace

}  // namespace atsp
