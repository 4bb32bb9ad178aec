// Building blocks for tests: graphs from dense matrices, seeded random
// instances, and an exact reference optimum that shares no code with the
// solver (Held-Karp dynamic programming over subsets).
#pragma once

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "graph/Graph.h"
#include "search/SearchOptions.h"
#include "tours/LocalSearch.h"

namespace atsp {

namespace testing_support {

using Matrix = std::vector<std::vector<std::int32_t>>;

using HeadLists = std::vector<std::vector<Node>>;
using CostLists = std::vector<std::vector<std::int32_t>>;

// A graph's rows as lists, for tests that take arcs out before they make the
// graph, and compare graphs.
struct Rows {
    HeadLists heads;
    CostLists costs;

    Graph graph() const { return Graph::fromRows(heads, costs); }
    bool operator==(const Rows&) const = default;
};

// The rows of a graph.
Rows rowsOf(const Graph& graph);

// The complete graph of a square matrix as the readers build it: row i lists
// every j != i ascending; the diagonal is ignored.
Rows completeRows(const Matrix& matrix);
Graph completeGraph(const Matrix& matrix);

// An n x n matrix with off-diagonal costs drawn uniformly from
// [lowest, highest] and -1 on the diagonal.
Matrix randomMatrix(std::mt19937_64& random, int n, std::int32_t lowest, std::int32_t highest);

// An n x n matrix with every off-diagonal cost `cost`: every tour ties.
Matrix constantMatrix(int n, std::int32_t cost);

// c(i, j) = u(i) + v(j) + step k(i, j) with u, v drawn from [-1000, 1000]
// and k from [0, highestMultiple]: every tour costs sum u + sum v plus a
// multiple of step, as on a town of one-way streets; -1 on the diagonal.
Matrix latticeMatrix(std::mt19937_64& random, int n, std::int32_t step,
                     std::int32_t highestMultiple);

// A symmetric matrix tilted by potentials, c(i, j) = s(i, j) + q(j) - q(i)
// with s and q drawn from [0, 1000]: every tour costs what its reverse does,
// as on drilling costs that charge climbing more than descending.
Matrix tiltedSymmetricMatrix(std::mt19937_64& random, int n);

// Where `head` stands in row `tail` of the rows; NoNode when it is not there.
Node positionIn(const Rows& rows, Node tail, Node head);

struct Tour {
    std::int64_t cost;
    std::vector<Node> successors;
};

// Every tour of the rows' arcs (n <= 9 or so), by enumeration of the orders
// that start at city 0. One city: the empty tour of cost 0.
std::vector<Tour> allTours(const Rows& rows);

// A random tour in successor form: a shuffled visiting order closed into a
// cycle.
std::vector<Node> randomTour(std::mt19937_64& random, int n);

// Whether `tour` (successor form) is one cycle through all of its cities.
bool isSingleCycle(const std::vector<Node>& tour);

// Sum of matrix[i][tour[i]] over all cities, in 64 bits.
std::int64_t tourCost(const Matrix& matrix, const std::vector<Node>& tour);

// A local search with every arc of every row a neighbour, all duals 0.
LocalSearch searchOnAllArcs(const Graph& graph);

// The least cost of a tour through all cities of `matrix`; 0 for zero or one
// city. Exponential: meant for n up to about 13.
std::int64_t heldKarpOptimum(const Matrix& matrix);
// The same over the rows' arcs alone; the largest value when no tour exists.
std::int64_t heldKarpOptimum(const Rows& rows);

// The search's variants that every battery runs over: the search as first
// built, the fast one, and the fast one under the LP bound, on one thread and
// on teams of 2 and 4, and the LP bound's tree branching on arc pairs
// everywhere, on one thread and on two.
struct SearchVariant {
    std::string name;
    SearchOptions options;
};
const std::vector<SearchVariant>& searchVariants();
void PrintTo(const SearchVariant& variant, std::ostream* out);

// The instances of `folder`/optima.tsv (name, n, optimum, a header line
// first) with their published optima; none when the file is absent.
struct PublishedOptimum {
    std::string name;
    std::int64_t optimum;
};
std::vector<PublishedOptimum> publishedOptima(const std::string& folder);

}  // namespace testing_support

}  // namespace atsp
