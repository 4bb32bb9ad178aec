// Whether every tour costs what its reverse costs: certified by enumerating
// the tours of small graphs, and refused where a reverse arc is missing or
// one cost breaks the pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "graph/Reversal.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::Matrix;

bool reversible(const Graph& graph) { return reversalPotentials(graph).has_value(); }

// Whether every tour of the complete graph of `matrix` costs what its
// reverse does.
bool everyTourCostsItsReverse(const Matrix& matrix) {
    for (const testing_support::Tour& tour :
         testing_support::allTours(testing_support::completeRows(matrix))) {
        std::int64_t backward = 0;
        for (std::size_t tail = 0; tail < matrix.size(); ++tail) {
            backward += matrix[tour.successors[tail]][tail];
        }
        if (backward != tour.cost) {
            return false;
        }
    }
    return true;
}

TEST(Reversal, TiltedSymmetricCostsAreFoundAndEveryTourAgrees) {
    std::mt19937_64 random(21);
    for (int n = 3; n <= 7; ++n) {
        for (int trial = 0; trial < 4; ++trial) {
            SCOPED_TRACE("n " + std::to_string(n) + ", trial " + std::to_string(trial));
            Matrix matrix = testing_support::tiltedSymmetricMatrix(random, n);
            ASSERT_TRUE(reversible(testing_support::completeGraph(matrix)));
            ASSERT_TRUE(everyTourCostsItsReverse(matrix));
            // One cost off by one breaks it for some tour, and the check sees it.
            matrix[1][2] += 1;
            EXPECT_FALSE(reversible(testing_support::completeGraph(matrix)));
            EXPECT_FALSE(everyTourCostsItsReverse(matrix));
        }
    }
}

TEST(Reversal, RandomCostsAndMissingReversesAreRefused) {
    std::mt19937_64 random(22);
    EXPECT_FALSE(reversible(
        testing_support::completeGraph(testing_support::randomMatrix(random, 8, 0, 1000))));
    // Symmetric costs, but 0 -> 1 has no reverse: its reverse tours may not
    // exist at all.
    const Graph oneWay = Graph::fromRows({{1, 2}, {2}, {0, 1}}, {{5, 5}, {5}, {5, 5}});
    EXPECT_FALSE(reversible(oneWay));
    // Two separate symmetric pairs of cities: each component has its own q.
    const Graph twoParts =
        Graph::fromRows({{1}, {0}, {3}, {2}}, {{4}, {9}, {-7}, {100}});
    EXPECT_TRUE(reversible(twoParts));
}

TEST(Reversal, FewerThanThreeCitiesAlwaysAgree) {
    EXPECT_TRUE(reversible(Graph::fromRows({}, {})));
    EXPECT_TRUE(reversible(Graph::fromRows({{}}, {{}})));
    EXPECT_TRUE(reversible(Graph::fromRows({{1}, {0}}, {{3}, {8}})));
}

}  // namespace

}  // namespace atsp
