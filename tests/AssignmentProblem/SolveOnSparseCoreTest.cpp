// The root's fast solve: a sparse core repaired by pricing must end at the
// value of a solve on all arcs, with a certificate on all arcs, whatever the
// costs (ties, negative), the graph (missing arcs, no complete assignment) or
// the core's size; and at the published root bounds of TSPLIB.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "AssignmentProblem/solveOnSparseCore.h"
#include "tests/support/TestGraphs.h"

namespace {

using testing_support::completeGraph;
using testing_support::Graph;

TEST(SolveOnSparseCore, EndsAtTheValueOfASolveOnAllArcsWithACertificateOnAllArcs) {
    for (std::uint64_t seed = 0; seed < 160; ++seed) {
        std::mt19937_64 random(seed);
        const int n = 1 + static_cast<int>(seed % 80);
        const std::int32_t lowest = seed % 5 == 0 ? -50 : 0;
        const std::int32_t highest = seed % 3 == 0 ? 3 : seed % 3 == 1 ? 100 : 1000000;
        Graph graph = completeGraph(testing_support::randomMatrix(random, n, lowest, highest));
        if (seed % 4 == 3) {
            // Rows that are not full: the core's general path, and at times
            // no complete assignment at all.
            std::bernoulli_distribution drop(seed % 8 == 3 ? 0.9 : 0.3);
            for (int i = 0; i < n; ++i) {
                for (std::size_t k = graph.successors[i].size(); k-- > 0;) {
                    if (drop(random)) {
                        graph.successors[i].erase(graph.successors[i].begin() + k);
                        graph.costs[i].erase(graph.costs[i].begin() + k);
                    }
                }
            }
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n));
        AssignmentProblem onAllArcs(graph.successors, graph.costs);
        onAllArcs.solveHungarian(false);
        for (const std::size_t arcsPerRow : {1, 3, 10}) {
            AssignmentProblem onCore(graph.successors, graph.costs);
            std::vector<std::vector<Node>> core;
            solveOnSparseCore(onCore, graph.successors, graph.costs, arcsPerRow, &core);
            ASSERT_EQ(onCore.solutionValue(), onAllArcs.solutionValue()) << arcsPerRow;
            if (onCore.solutionValue() != InfeasibleBound) {
                EXPECT_TRUE(onCore.certifiesOptimality()) << arcsPerRow;
            }
            for (std::size_t row = 0; row < core.size(); ++row) {
                ASSERT_TRUE(std::is_sorted(core[row].begin(), core[row].end()));
                ASSERT_TRUE(core[row].empty() || core[row].back() < graph.successors[row].size());
            }
        }
    }
}

// An oracle independent of this code, with up to 443 cities and many ties.
TEST(SolveOnSparseCore, RootValuesMatchThePublishedAssignmentBounds) {
    if (!std::filesystem::is_directory(TSPLIB_DIR)) {
        GTEST_SKIP() << "no TSPLIB instances at " << TSPLIB_DIR;
    }
    std::ifstream reference(std::string(TSPLIB_DIR) + "/reference.tsv");
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
        const Graph graph = completeGraph(matrix);
        AssignmentProblem problem(graph.successors, graph.costs);
        solveOnSparseCore(problem, graph.successors, graph.costs, 10);
        EXPECT_EQ(problem.solutionValue(), rootBound) << name;
        EXPECT_TRUE(problem.certifiesOptimality()) << name;
        ++instances;
    }
    EXPECT_EQ(instances, 19);
}

}  // namespace
