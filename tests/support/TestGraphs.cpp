#include "tests/support/TestGraphs.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace atsp {

namespace testing_support {

Graph completeGraph(const Matrix& matrix) {
    const std::size_t n = matrix.size();
    Graph graph;
    graph.successors.resize(n);
    graph.costs.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            if (i != j) {
                graph.successors[i].push_back(static_cast<Node>(j));
                graph.costs[i].push_back(matrix[i][j]);
            }
        }
    }
    return graph;
}

Matrix randomMatrix(std::mt19937_64& random, int n, std::int32_t lowest, std::int32_t highest) {
    std::uniform_int_distribution<std::int32_t> cost(lowest, highest);
    Matrix matrix(n, std::vector<std::int32_t>(n, -1));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (i != j) {
                matrix[i][j] = cost(random);
            }
        }
    }
    return matrix;
}

Matrix constantMatrix(int n, std::int32_t cost) {
    Matrix matrix(n, std::vector<std::int32_t>(n, cost));
    for (int i = 0; i < n; ++i) {
        matrix[i][i] = -1;
    }
    return matrix;
}

std::vector<Node> randomTour(std::mt19937_64& random, int n) {
    std::vector<Node> order(n);
    std::iota(order.begin(), order.end(), Node{0});
    std::shuffle(order.begin(), order.end(), random);
    std::vector<Node> tour(n);
    for (int k = 0; k < n; ++k) {
        tour[order[k]] = order[(k + 1) % n];
    }
    return tour;
}

bool isSingleCycle(const std::vector<Node>& tour) {
    const std::size_t n = tour.size();
    if (n == 0) {
        return true;
    }
    std::vector<bool> seen(n, false);
    std::size_t city = 0;
    for (std::size_t step = 0; step < n; ++step) {
        if (city >= n || seen[city]) {
            return false;
        }
        seen[city] = true;
        city = tour[city];
    }
    return city == 0;
}

std::int64_t tourCost(const Matrix& matrix, const std::vector<Node>& tour) {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < tour.size(); ++i) {
        if (tour[i] != i) {
            sum += matrix[i][tour[i]];
        }
    }
    return sum;
}

std::int64_t heldKarpOptimum(const Matrix& matrix) {
    const int n = static_cast<int>(matrix.size());
    if (n <= 1) {
        return 0;
    }
    // best[subset][last]: cheapest path from city 0 through exactly the cities
    // of `subset` (a subset of 1..n-1, bit k-1 for city k) ending in `last`.
    const int others = n - 1;
    const std::int64_t unreachable = std::numeric_limits<std::int64_t>::max();
    std::vector<std::vector<std::int64_t>> best(std::size_t{1} << others,
                                                std::vector<std::int64_t>(n, unreachable));
    for (int city = 1; city < n; ++city) {
        best[std::size_t{1} << (city - 1)][city] = matrix[0][city];
    }
    for (std::size_t subset = 1; subset < best.size(); ++subset) {
        for (int last = 1; last < n; ++last) {
            const std::int64_t here = best[subset][last];
            if (here == unreachable || !(subset & (std::size_t{1} << (last - 1)))) {
                continue;
            }
            for (int next = 1; next < n; ++next) {
                const std::size_t bit = std::size_t{1} << (next - 1);
                if (subset & bit) {
                    continue;
                }
                std::int64_t& target = best[subset | bit][next];
                target = std::min(target, here + matrix[last][next]);
            }
        }
    }
    std::int64_t optimum = unreachable;
    for (int last = 1; last < n; ++last) {
        optimum = std::min(optimum, best.back()[last] + matrix[last][0]);
    }
    return optimum;
}

const std::vector<SearchVariant>& searchVariants() {
    static const std::vector<SearchVariant> variants = {{"Described", SearchOptions::described()},
                                                        {"Fast", SearchOptions{}}};
    return variants;
}

void PrintTo(const SearchVariant& variant, std::ostream* out) {
    *out << variant.name;
}

}  // namespace testing_support

}  // namespace atsp
