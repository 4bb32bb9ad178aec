#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "assignment/ArcMask.h"
#include "assignment/AssignmentProblem.h"
#include "assignment/solveOnSparseCore.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::Rows;

// Row i lists (head, cost) pairs in the order the solver must scan them.
Rows listedRows(const std::vector<std::vector<std::pair<Node, std::int32_t>>>& listed) {
    Rows rows;
    for (const auto& row : listed) {
        rows.heads.emplace_back();
        rows.costs.emplace_back();
        for (const auto& [head, cost] : row) {
            rows.heads.back().push_back(head);
            rows.costs.back().push_back(cost);
        }
    }
    return rows;
}

// Row i has the single arc i -> successor[i], so the only assignment is `successor`.
Rows forcedRows(const std::vector<Node>& successor) {
    std::vector<std::vector<std::pair<Node, std::int32_t>>> rows;
    for (Node head : successor) {
        rows.push_back({{head, 1}});
    }
    return listedRows(rows);
}

// A complete graph with every arc dropped with probability `dropChance`.
Rows randomRows(std::mt19937_64& random, int n, std::int32_t lowest, std::int32_t highest,
                double dropChance) {
    Rows rows =
        testing_support::completeRows(testing_support::randomMatrix(random, n, lowest, highest));
    std::bernoulli_distribution drop(dropChance);
    for (int i = 0; i < n; ++i) {
        for (std::size_t k = rows.heads[i].size(); k-- > 0;) {
            if (drop(random)) {
                rows.heads[i].erase(rows.heads[i].begin() + k);
                rows.costs[i].erase(rows.costs[i].begin() + k);
            }
        }
    }
    return rows;
}

void eraseArc(Rows& rows, Node tail, Node head) {
    auto& heads = rows.heads[tail];
    const auto position = std::find(heads.begin(), heads.end(), head) - heads.begin();
    heads.erase(heads.begin() + position);
    rows.costs[tail].erase(rows.costs[tail].begin() + position);
}

// The cheapest assignment by trying every one; InfeasibleBound when none exists.
std::int64_t cheapestByEnumeration(const Rows& graph) {
    const std::size_t n = graph.heads.size();
    std::vector<bool> columnTaken(n, false);
    std::int64_t best = InfeasibleBound;
    auto assignRow = [&](auto& self, std::size_t row, std::int64_t sum) -> void {
        if (row == n) {
            best = std::min(best, sum);
            return;
        }
        for (std::size_t k = 0; k < graph.heads[row].size(); ++k) {
            const Node column = graph.heads[row][k];
            if (!columnTaken[column]) {
                columnTaken[column] = true;
                self(self, row + 1, sum + graph.costs[row][k]);
                columnTaken[column] = false;
            }
        }
    };
    assignRow(assignRow, 0, 0);
    return best;
}

// A permutation over present arcs with non-negative reduced costs and tight
// assigned arcs: this certifies optimality independently of how it was found.
void expectOptimalityCertificate(AssignmentProblem& problem, const Rows& graph) {
    const std::vector<Node>& assignment = problem.solution();
    std::vector<Node> sorted = assignment;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        ASSERT_EQ(sorted[i], i) << "not a permutation";
    }
    for (std::size_t i = 0; i < assignment.size(); ++i) {
        const auto& heads = graph.heads[i];
        ASSERT_NE(std::find(heads.begin(), heads.end(), assignment[i]), heads.end())
            << "row " << i << " assigned to an absent arc";
        for (std::size_t k = 0; k < heads.size(); ++k) {
            const std::int64_t reducedCost =
                graph.costs[i][k] - problem.rowDuals()[i] - problem.columnDuals()[heads[k]];
            EXPECT_GE(reducedCost, 0) << "arc " << i << " -> " << heads[k];
            if (heads[k] == assignment[i]) {
                EXPECT_EQ(reducedCost, 0) << "assigned arc " << i << " -> " << heads[k];
            }
        }
    }
}

std::string caseName(std::uint64_t seed, int n) {
    return "seed " + std::to_string(seed) + ", n " + std::to_string(n);
}

struct CostRange {
    std::int32_t lowest, highest;
};
const CostRange costRanges[] = {{0, 1000000}, {0, 2}, {-50, 50}, {-2000000000, 2000000000}};

}  // namespace

TEST(AssignmentProblemTest, NoCitiesSolveToZeroAndHaveNoCycle) {
    const Graph graph;
    AssignmentProblem problem(graph);
    problem.solveHungarian(false);
    EXPECT_EQ(problem.solutionValue(), 0);
    EXPECT_EQ(problem.findMinCycle(), std::make_pair(Node{0}, Node{65535}));
}

TEST(AssignmentProblemTest, OneCityHasNoArcAndIsInfeasible) {
    const Graph graph = testing_support::completeGraph({{7}});
    AssignmentProblem problem(graph);
    problem.solveHungarian(false);
    EXPECT_EQ(problem.solutionValue(), 9223372036854775807);
}

TEST(AssignmentProblemTest, TwoCitiesSwap) {
    const Graph graph = testing_support::completeGraph({{0, 5}, {-3, 0}});
    AssignmentProblem problem(graph);
    problem.solveHungarian(false);
    EXPECT_EQ(problem.solution(), (std::vector<Node>{1, 0}));
    EXPECT_EQ(problem.solutionValue(), 2);
}

// Rows whose cheapest arcs all go to distinct columns are assigned them
// without any dual update: row duals are the row minima, column duals the
// column minima of the row-reduced costs (5 for column 2, reached by no row
// minimum).
TEST(AssignmentProblemTest, DualsStartAtRowMinimaAndColumnMinima) {
    const Graph distinct = testing_support::completeGraph({{0, 5, 2}, {3, 0, 7}, {9, 4, 0}});
    AssignmentProblem problem(distinct);
    problem.solveHungarian(false);
    EXPECT_EQ(problem.solution(), (std::vector<Node>{2, 0, 1}));
    EXPECT_EQ(problem.solutionValue(), 9);
    EXPECT_EQ(problem.rowDuals(), (std::vector<std::int64_t>{2, 3, 4}));
    EXPECT_EQ(problem.columnDuals(), (std::vector<std::int64_t>{0, 0, 0}));

    const Graph shared = testing_support::completeGraph({{0, 0, 5}, {0, 0, 9}, {0, 0, 0}});
    AssignmentProblem sharing(shared);
    sharing.solveHungarian(false);
    EXPECT_EQ(sharing.solution(), (std::vector<Node>{2, 0, 1}));
    EXPECT_EQ(sharing.rowDuals(), (std::vector<std::int64_t>{0, 0, 0}));
    EXPECT_EQ(sharing.columnDuals(), (std::vector<std::int64_t>{0, 0, 5}));
}

struct TieBreakCase {
    const char* name;
    std::vector<std::vector<std::pair<Node, std::int32_t>>> rows;
    std::vector<Node> expectedAssignment;
};

TEST(AssignmentProblemTest, TiesAreBrokenByScanOrder) {
    const TieBreakCase cases[] = {
        {"first tight arc in list order wins",
         {{{2, 0}, {1, 0}}, {{0, 0}, {2, 0}}, {{0, 0}, {1, 0}}},
         {2, 0, 1}},
        {"first tight arc in list order wins (ascending list)",
         {{{1, 0}, {2, 0}}, {{0, 0}, {2, 0}}, {{0, 0}, {1, 0}}},
         {1, 2, 0}},
        {"lowest zero-slack column ends the augmentation, not list order",
         {{{3, 0}, {2, 4}, {1, 4}},
          {{3, 0}, {0, 9}, {2, 9}},
          {{0, 0}, {1, 0}, {3, 9}},
          {{0, 0}, {2, 0}, {1, 9}}},
         {1, 3, 0, 2}},
        {"a tight arc in the search beats a lower zero-slack column of a later row",
         {{{3, 0}, {1, 0}, {2, 9}},
          {{3, 0}, {2, 0}, {0, 9}},
          {{0, 0}, {1, 9}, {3, 9}},
          {{2, 0}, {1, 0}, {0, 9}}},
         {3, 2, 0, 1}},
        {"a column's slack row is the first row that reached its least slack",
         {{{1, 1}, {2, 5}}, {{0, 1}, {2, 6}}, {{0, 1}, {1, 2}}},
         {1, 2, 0}},
    };
    for (const TieBreakCase& tieBreak : cases) {
        const Graph graph = listedRows(tieBreak.rows).graph();
        AssignmentProblem problem(graph);
        problem.solveHungarian(false);
        EXPECT_EQ(problem.solution(), tieBreak.expectedAssignment) << tieBreak.name;
    }
}

TEST(AssignmentProblemTest, IncrementalResolveAfterRemovingAnAssignedArcIsOptimal) {
    const Graph graph =
        testing_support::completeGraph({{0, 1, 1, 0}, {0, 0, 1, 1}, {1, 1, 0, 5}, {0, 0, 1, 0}});
    AssignmentProblem problem(graph);
    problem.solveHungarian(false);
    EXPECT_EQ(problem.solution(), (std::vector<Node>{3, 0, 1, 2}));
    EXPECT_EQ(problem.rowDuals(), (std::vector<std::int64_t>{0, 0, 1, 0}));
    EXPECT_EQ(problem.columnDuals(), (std::vector<std::int64_t>{0, 0, 1, 0}));
    EXPECT_EQ(problem.solutionValue(), 2);

    ArcMask mask(4);
    problem.setArcMask(&mask);
    mask.forbid(0, 3);
    problem.removeArc(0, 3);
    problem.solveHungarian(true);
    EXPECT_EQ(problem.solution(), (std::vector<Node>{2, 3, 1, 0}));
    EXPECT_EQ(problem.rowDuals(), (std::vector<std::int64_t>{1, 1, 2, 1}));
    EXPECT_EQ(problem.columnDuals(), (std::vector<std::int64_t>{-1, -1, 0, 0}));
    EXPECT_EQ(problem.solutionValue(), 3);
}

TEST(AssignmentProblemTest, MinCycleIsTheShortestWithTheLowestStartCity) {
    struct {
        std::vector<Node> assignment;
        std::pair<Node, Node> expected;
    } const cases[] = {
        {{1, 2, 3, 4, 0}, {0, 5}},
        {{3, 2, 1, 0, 5, 6, 4}, {0, 2}},
        {{4, 2, 1, 6, 5, 0, 3}, {1, 2}},
        {{1, 0, 2}, {2, 1}},  // a self-loop beats every longer cycle
    };
    for (const auto& example : cases) {
        const Graph graph = forcedRows(example.assignment).graph();
        AssignmentProblem problem(graph);
        problem.solveHungarian(false);
        ASSERT_EQ(problem.solution(), example.assignment);
        EXPECT_EQ(problem.findMinCycle(), example.expected);
    }
}

TEST(AssignmentProblemTest, InfeasibilityIsReportedAndNeverForgotten) {
    // Nothing enters column 2.
    const Graph blocked = listedRows({{{1, 1}}, {{0, 1}}, {{0, 1}, {1, 1}}}).graph();
    AssignmentProblem problem(blocked);
    problem.solveHungarian(false);
    EXPECT_EQ(problem.solutionValue(), InfeasibleBound);

    // Moved to a graph that does have a perfect matching, the problem and its
    // copies stay infeasible until a feasible state is restored; column 2
    // keeps its unbounded dual and must be handled without overflow when the
    // freed rows reach it.
    const Graph complete = testing_support::completeGraph({{0, -5, -7}, {-9, 0, -4}, {-3, -8, 0}});
    AssignmentProblem copy = problem;
    copy.setGraph(complete);
    copy.removeArc(0, copy.solution()[0]);
    copy.solveHungarian(true);
    EXPECT_EQ(copy.solutionValue(), InfeasibleBound);
    copy.solveHungarian(false);
    EXPECT_EQ(copy.solutionValue(), InfeasibleBound);
    problem.solveHungarian(true);
    EXPECT_EQ(problem.solutionValue(), InfeasibleBound);
}

TEST(AssignmentProblemTest, FromScratchSolveFindsTheCheapestAssignment) {
    for (std::uint64_t seed = 0; seed < 400; ++seed) {
        std::mt19937_64 random(seed);
        const int n = static_cast<int>(seed % 9);
        const CostRange range = costRanges[seed / 9 % 4];
        const double dropChance = seed / 36 % 3 * 0.3;
        const Rows rows = randomRows(random, n, range.lowest, range.highest, dropChance);
        const Graph graph = rows.graph();
        SCOPED_TRACE(caseName(seed, n));

        AssignmentProblem problem(graph);
        problem.solveHungarian(false);
        const std::int64_t cheapest = cheapestByEnumeration(rows);
        ASSERT_EQ(problem.solutionValue(), cheapest);
        if (cheapest != InfeasibleBound) {
            expectOptimalityCertificate(problem, rows);
        } else {
            AssignmentProblem copy = problem;
            EXPECT_EQ(copy.solutionValue(), InfeasibleBound);
            problem.solveHungarian(false);
            EXPECT_EQ(problem.solutionValue(), InfeasibleBound);
        }
    }
}

// Each step does what the search does to a child: copy the problem, forbid
// one of its assigned arcs in the mask, free the row, re-solve. The value
// must match a fresh solve on the same arcs, only the rows on one augmenting
// path may change their column, and the kept arcs must stay tight.
TEST(AssignmentProblemTest, IncrementalResolveEqualsFreshSolveAfterRemovals) {
    for (std::uint64_t seed = 0; seed < 120; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 2 + static_cast<int>(seed % 60);
        const CostRange range = costRanges[seed % 4];
        Rows rows = randomRows(random, n, range.lowest, range.highest, seed % 3 * 0.2);
        const Graph graph = rows.graph();
        SCOPED_TRACE(caseName(seed, n));
        ArcMask mask(n);
        AssignmentProblem parent(graph);
        parent.setArcMask(&mask);
        parent.solveHungarian(false);
        if (parent.solutionValue() != InfeasibleBound) {
            expectOptimalityCertificate(parent, rows);
        }

        for (int depth = 0; depth < 6 && parent.solutionValue() != InfeasibleBound; ++depth) {
            SCOPED_TRACE("depth " + std::to_string(depth));
            AssignmentProblem child = parent;
            const Node freedRow = std::uniform_int_distribution<int>(0, n - 1)(random);
            const Node freedColumn = parent.solution()[freedRow];
            eraseArc(rows, freedRow, freedColumn);
            mask.forbid(freedRow, freedColumn);
            child.removeArc(freedRow, freedColumn);
            ASSERT_EQ(child.solution()[freedRow], NoNode);
            child.solveHungarian(true);

            const Graph childGraph = rows.graph();
            AssignmentProblem fresh(childGraph);
            fresh.solveHungarian(false);
            ASSERT_EQ(child.solutionValue(), fresh.solutionValue());
            if (n <= 8) {
                ASSERT_EQ(child.solutionValue(), cheapestByEnumeration(rows));
            }
            if (child.solutionValue() == InfeasibleBound) {
                break;
            }
            expectOptimalityCertificate(child, rows);
            EXPECT_TRUE(child.certifiesOptimality());

            // Walk the path: the freed row takes a column, whose previous
            // holder takes another, until the freed column is taken.
            const std::vector<Node>& before = parent.solution();
            const std::vector<Node>& after = child.solution();
            std::vector<bool> onPath(n, false);
            for (Node row = freedRow; !onPath[row];) {
                onPath[row] = true;
                if (after[row] == freedColumn) {
                    break;
                }
                row = std::find(before.begin(), before.end(), after[row]) - before.begin();
            }
            for (int row = 0; row < n; ++row) {
                EXPECT_EQ(after[row] != before[row], onPath[row]) << "row " << row;
            }
            parent = child;
        }
    }
}

// A child bounded as the search does it: in a trial of the parent's problem,
// with its arc forbidden in the mask and a cutoff. Below the cutoff the bound
// is the value exactly; at or above it, a lower bound that reaches the
// cutoff; and the trial leaves the parent as it was, to the last dual.
TEST(AssignmentProblemTest, ACutOffBoundNeverExceedsTheValueAndATrialLeavesNoTrace) {
    for (std::uint64_t seed = 0; seed < 120; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 2 + static_cast<int>(seed % 40);
        const CostRange range = costRanges[seed % 4];
        const Rows rows = randomRows(random, n, range.lowest, range.highest, seed % 3 * 0.2);
        const Graph graph = rows.graph();
        SCOPED_TRACE(caseName(seed, n));
        ArcMask mask(n);
        AssignmentProblem parent(graph);
        parent.setArcMask(&mask);
        parent.solveHungarian(false);
        if (parent.solutionValue() == InfeasibleBound) {
            continue;
        }
        const std::vector<Node> assignment = parent.solution();
        const std::vector<std::int64_t> rowDuals = parent.rowDuals();
        const std::vector<std::int64_t> columnDuals = parent.columnDuals();
        for (Node row = 0; row < n; ++row) {
            Rows childRows = rows;
            eraseArc(childRows, row, assignment[row]);
            const Graph childGraph = childRows.graph();
            AssignmentProblem child(childGraph);
            child.solveHungarian(false);
            const std::int64_t value = child.solutionValue();
            std::vector<std::int64_t> cutoffs = {value, parent.solutionValue(), InfeasibleBound};
            if (value != InfeasibleBound) {
                cutoffs.insert(cutoffs.end(), {value - 1, value + 1});
            }
            for (const std::int64_t cutoff : cutoffs) {
                parent.beginTrial();
                mask.forbid(row, assignment[row]);
                parent.removeArc(row, assignment[row]);
                parent.solveHungarian(true, cutoff);
                const std::int64_t bound = parent.solutionValue();
                parent.endTrial();
                mask.allowAgain(row, assignment[row]);
                if (value < cutoff) {
                    EXPECT_EQ(bound, value) << "row " << row << ", cutoff " << cutoff;
                } else {
                    EXPECT_GE(bound, cutoff) << "row " << row;
                    EXPECT_LE(bound, value) << "row " << row;
                }
                ASSERT_EQ(parent.solution(), assignment);
                ASSERT_EQ(parent.rowDuals(), rowDuals);
                ASSERT_EQ(parent.columnDuals(), columnDuals);
            }
        }
    }
}

TEST(AssignmentProblemTest, RemovingAnUnassignedArcChangesNothing) {
    for (std::uint64_t seed = 0; seed < 40; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 3 + static_cast<int>(seed % 20);
        const Rows rows = randomRows(random, n, -100, 100, 0.0);
        const Graph graph = rows.graph();
        SCOPED_TRACE(caseName(seed, n));
        ArcMask mask(n);
        AssignmentProblem problem(graph);
        problem.setArcMask(&mask);
        problem.solveHungarian(false);
        const std::vector<Node> assignment = problem.solution();
        const std::vector<std::int64_t> dualX = problem.rowDuals();
        const std::vector<std::int64_t> dualY = problem.columnDuals();
        const std::int64_t value = problem.solutionValue();

        const Node tail = std::uniform_int_distribution<int>(0, n - 1)(random);
        const auto& heads = rows.heads[tail];
        const Node head = heads[(std::find(heads.begin(), heads.end(), problem.solution()[tail]) -
                                 heads.begin() + 1) %
                                heads.size()];
        mask.forbid(tail, head);
        problem.removeArc(tail, head);
        EXPECT_EQ(problem.solution(), assignment);
        problem.solveHungarian(true);
        EXPECT_EQ(problem.solution(), assignment);
        EXPECT_EQ(problem.rowDuals(), dualX);
        EXPECT_EQ(problem.columnDuals(), dualY);
        EXPECT_EQ(problem.solutionValue(), value);
    }
}

// The published root assignment bounds of the TSPLIB asymmetric instances, up
// to 443 cities and with many ties, are an oracle independent of this code:
// for the solve on all arcs and for the solve on a sparse core, whose
// certificate must then hold on all arcs.
TEST(AssignmentProblemTest, RootValuesMatchThePublishedAssignmentBounds) {
    if (!std::filesystem::is_directory(TSPLIB_DIR)) {
        GTEST_SKIP() << "no TSPLIB instances at " << TSPLIB_DIR;
    }
    std::ifstream reference(std::string(TSPLIB_DIR) + "/reference.tsv");
    ASSERT_TRUE(reference) << "missing " << TSPLIB_DIR << "/reference.tsv";
    std::string header, name;
    std::getline(reference, header);
    std::int64_t n, optimum, rootBound;
    int instances = 0;
    while (reference >> name >> n >> optimum >> rootBound) {
        reference.ignore(1000, '\n');
        std::ifstream matrixFile(std::string(TSPLIB_DIR) + "/" + name + ".mat");
        int cityCount = 0;
        matrixFile >> cityCount;
        testing_support::Matrix matrix(cityCount, std::vector<std::int32_t>(cityCount));
        for (auto& row : matrix) {
            for (std::int32_t& cost : row) {
                matrixFile >> cost;
            }
        }
        ASSERT_TRUE(matrixFile) << name;
        const Graph graph = testing_support::completeGraph(matrix);
        AssignmentProblem problem(graph);
        problem.solveHungarian(false);
        EXPECT_EQ(problem.solutionValue(), rootBound) << name;
        AssignmentProblem onCore(graph);
        solveOnSparseCore(onCore, graph, 10);
        EXPECT_EQ(onCore.solutionValue(), rootBound) << name;
        EXPECT_TRUE(onCore.certifiesOptimality()) << name;
        ++instances;
    }
    EXPECT_EQ(instances, 19);
}

}  // namespace atsp
