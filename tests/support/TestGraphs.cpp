#include "tests/support/TestGraphs.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <numeric>

namespace atsp {

namespace testing_support {

Rows completeRows(const Matrix& matrix) {
    const std::size_t n = matrix.size();
    Rows rows{std::vector<std::vector<Node>>(n), std::vector<std::vector<std::int32_t>>(n)};
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            if (i != j) {
                rows.heads[i].push_back(static_cast<Node>(j));
                rows.costs[i].push_back(matrix[i][j]);
            }
        }
    }
    return rows;
}

Rows rowsOf(const Graph& graph) {
    Rows rows;
    for (Node row = 0; row < graph.cityCount(); ++row) {
        rows.heads.emplace_back(graph.successors(row).begin(), graph.successors(row).end());
        rows.costs.emplace_back(graph.costs(row).begin(), graph.costs(row).end());
    }
    return rows;
}

Graph completeGraph(const Matrix& matrix) {
    return completeRows(matrix).graph();
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

Matrix latticeMatrix(std::mt19937_64& random, int n, std::int32_t step,
                     std::int32_t highestMultiple) {
    std::uniform_int_distribution<std::int32_t> potential(-1000, 1000);
    std::uniform_int_distribution<std::int32_t> multiple(0, highestMultiple);
    std::vector<std::int32_t> u(n);
    std::vector<std::int32_t> v(n);
    for (int i = 0; i < n; ++i) {
        u[i] = potential(random);
        v[i] = potential(random);
    }
    Matrix matrix(n, std::vector<std::int32_t>(n, -1));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (i != j) {
                matrix[i][j] = u[i] + v[j] + step * multiple(random);
            }
        }
    }
    return matrix;
}

Matrix tiltedSymmetricMatrix(std::mt19937_64& random, int n) {
    std::uniform_int_distribution<std::int32_t> cost(0, 1000);
    std::vector<std::int32_t> q(n);
    for (std::int32_t& value : q) {
        value = cost(random);
    }
    Matrix matrix(n, std::vector<std::int32_t>(n, -1));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < i; ++j) {
            const std::int32_t s = cost(random);
            matrix[i][j] = s + q[j] - q[i];
            matrix[j][i] = s + q[i] - q[j];
        }
    }
    return matrix;
}

Node positionIn(const Rows& rows, Node tail, Node head) {
    const std::vector<Node>& heads = rows.heads[tail];
    const auto found = std::find(heads.begin(), heads.end(), head);
    return found == heads.end() ? NoNode : static_cast<Node>(found - heads.begin());
}

std::vector<Tour> allTours(const Rows& rows) {
    const std::size_t n = rows.heads.size();
    std::vector<Tour> tours;
    if (n <= 1) {
        tours.push_back({0, std::vector<Node>(n, 0)});
        return tours;
    }
    std::vector<Node> order(n - 1);
    std::iota(order.begin(), order.end(), Node{1});
    do {
        Tour tour{0, std::vector<Node>(n)};
        bool complete = true;
        Node tail = 0;
        for (std::size_t k = 0; k < n && complete; ++k) {
            const Node head = k + 1 < n ? order[k] : Node{0};
            const Node position = positionIn(rows, tail, head);
            if (position == NoNode) {
                complete = false;
            } else {
                tour.cost += rows.costs[tail][position];
                tour.successors[tail] = head;
                tail = head;
            }
        }
        if (complete) {
            tours.push_back(tour);
        }
    } while (std::next_permutation(order.begin(), order.end()));
    return tours;
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

namespace {

constexpr std::int64_t noArc = std::numeric_limits<std::int64_t>::max();

// Held-Karp over a dense table in which `noArc` marks a missing arc.
std::int64_t heldKarpOnTable(const std::vector<std::vector<std::int64_t>>& cost) {
    const int n = static_cast<int>(cost.size());
    if (n <= 1) {
        return 0;
    }
    // best[subset][last]: cheapest path from city 0 through exactly the cities
    // of `subset` (a subset of 1..n-1, bit k-1 for city k) ending in `last`.
    const int others = n - 1;
    std::vector<std::vector<std::int64_t>> best(std::size_t{1} << others,
                                                std::vector<std::int64_t>(n, noArc));
    for (int city = 1; city < n; ++city) {
        best[std::size_t{1} << (city - 1)][city] = cost[0][city];
    }
    for (std::size_t subset = 1; subset < best.size(); ++subset) {
        for (int last = 1; last < n; ++last) {
            const std::int64_t here = best[subset][last];
            if (here == noArc || !(subset & (std::size_t{1} << (last - 1)))) {
                continue;
            }
            for (int next = 1; next < n; ++next) {
                const std::size_t bit = std::size_t{1} << (next - 1);
                if ((subset & bit) || cost[last][next] == noArc) {
                    continue;
                }
                std::int64_t& target = best[subset | bit][next];
                target = std::min(target, here + cost[last][next]);
            }
        }
    }
    std::int64_t optimum = noArc;
    for (int last = 1; last < n; ++last) {
        if (best.back()[last] != noArc && cost[last][0] != noArc) {
            optimum = std::min(optimum, best.back()[last] + cost[last][0]);
        }
    }
    return optimum;
}

}  // namespace

LocalSearch searchOnAllArcs(const Graph& graph) {
    const std::vector<std::int64_t> zeros(graph.cityCount(), 0);
    return LocalSearch(graph, zeros, zeros,
                       cheapestReducedCostArcs(graph, zeros, zeros, graph.cityCount()));
}

std::int64_t heldKarpOptimum(const Matrix& matrix) {
    std::vector<std::vector<std::int64_t>> cost(matrix.size());
    for (std::size_t i = 0; i < matrix.size(); ++i) {
        cost[i].assign(matrix[i].begin(), matrix[i].end());
        cost[i][i] = noArc;
    }
    return heldKarpOnTable(cost);
}

std::int64_t heldKarpOptimum(const Rows& rows) {
    const std::size_t n = rows.heads.size();
    std::vector<std::vector<std::int64_t>> cost(n, std::vector<std::int64_t>(n, noArc));
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < rows.heads[i].size(); ++k) {
            cost[i][rows.heads[i][k]] = rows.costs[i][k];
        }
    }
    return heldKarpOnTable(cost);
}

const std::vector<SearchVariant>& searchVariants() {
    static const std::vector<SearchVariant> variants = [] {
        std::vector<SearchVariant> all;
        for (const int threads : {1, 2, 4}) {
            SearchOptions described = SearchOptions::described();
            described.threads = threads;
            SearchOptions fast;
            fast.threads = threads;
            SearchOptions linearProgram = fast;
            linearProgram.bound = BoundChoice::LinearProgram;
            // Walks from the incumbent at every node, on every thread, for a
            // fifth of the time: by default they wait for a quarter second
            // of saved time, which no test's tree reaches.
            linearProgram.incumbentWalkShare = 0.2;
            linearProgram.incumbentWalkSlice = 0;
            // Dives half the time: from nearly every node that branches.
            linearProgram.lpDiveShare = 0.5;
            const std::string suffix =
                threads == 1 ? "" : "On" + std::to_string(threads) + "Threads";
            all.push_back({"Described" + suffix, described});
            all.push_back({"Fast" + suffix, fast});
            all.push_back({"LinearProgram" + suffix, linearProgram});
            // Edge branching everywhere, not only where reversal keeps the
            // costs (the symmetric ranges take it under the automatic rule),
            // and at every node the separations by maximum flows that the
            // tree otherwise runs only where the root found combs.
            if (threads <= 2) {
                SearchOptions edges = linearProgram;
                edges.lpBranching = LpBranching::Edge;
                edges.cuttingPlanes.exactBlossoms = true;
                edges.cuttingPlanes.combs = true;
                all.push_back({"LinearProgramEdges" + suffix, edges});
            }
        }
        return all;
    }();
    return variants;
}

void PrintTo(const SearchVariant& variant, std::ostream* out) {
    *out << variant.name;
}

std::vector<PublishedOptimum> publishedOptima(const std::string& folder) {
    std::vector<PublishedOptimum> instances;
    std::ifstream optima(folder + "/optima.tsv");
    std::string header;
    std::getline(optima, header);
    PublishedOptimum instance;
    int n = 0;
    while (optima >> instance.name >> n >> instance.optimum) {
        instances.push_back(instance);
    }
    return instances;
}

}  // namespace testing_support

}  // namespace atsp
