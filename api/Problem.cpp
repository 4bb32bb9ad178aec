#include <algorithm>
#include <limits>
#include <numeric>
#include <string>
#include <type_traits>
#include <utility>

#include "api/ProblemData.h"
#include "io/ProblemFile.h"

namespace atsp {

namespace {

// Cities are Nodes, and NoNode is not a city.
constexpr std::size_t mostCities = NoNode;

std::string cellName(std::size_t row, std::size_t column) {
    return "row " + std::to_string(row) + ", column " + std::to_string(column);
}

void checkSizes(std::size_t n, std::size_t cells, const ArcFilter& filter) {
    if (n > mostCities) {
        throw Error(ErrorKind::BadInput, "a problem has at most " + std::to_string(mostCities) +
                                             " cities, not " + std::to_string(n));
    }
    if (cells != n * n) {
        throw Error(ErrorKind::BadInput, "a cost matrix of " + std::to_string(n) + " cities has " +
                                             std::to_string(n * n) + " cells, not " +
                                             std::to_string(cells));
    }
    if (!filter.forbidden.empty() && filter.forbidden.size() != n * n) {
        throw Error(ErrorKind::BadInput, "a mask of forbidden arcs of " + std::to_string(n) +
                                             " cities has " + std::to_string(n * n) +
                                             " bytes, not " +
                                             std::to_string(filter.forbidden.size()));
    }
}

template <typename Cost>
[[noreturn]] void throwOutOfRange(std::size_t row, std::size_t column, Cost value) {
    throw Error(ErrorKind::BadInput, "the cost at " + cellName(row, column) + ", " +
                                         std::to_string(value) +
                                         ", lies outside the signed 32-bit range");
}

template <typename Cost>
bool fitsInt32(Cost value) {
    if constexpr (std::is_same_v<Cost, std::int32_t>) {
        return true;
    } else {
        return value >= std::numeric_limits<std::int32_t>::min() &&
               value <= std::numeric_limits<std::int32_t>::max();
    }
}

// Every off-diagonal cell an arc: each row goes in as two runs (the columns
// before the diagonal and after it), copied in bulk.
template <typename Cost>
Graph completeGraph(std::size_t n, std::span<const Cost> costs) {
    Graph::Builder builder(n);
    builder.reserveArcs(n * (n - 1));
    std::vector<Node> heads(n);
    std::iota(heads.begin(), heads.end(), Node{0});
    std::vector<std::int32_t> narrowed(std::is_same_v<Cost, std::int32_t> ? 0 : n);
    for (std::size_t i = 0; i < n; ++i) {
        const Cost* row = costs.data() + i * n;
        const std::int32_t* rowCosts = nullptr;
        if constexpr (std::is_same_v<Cost, std::int32_t>) {
            rowCosts = row;
        } else {
            // One pass the compiler vectorises; the cell is looked for only
            // when the row has one out of range.
            bool allFit = true;
            for (std::size_t j = 0; j < n; ++j) {
                allFit &= j == i || fitsInt32(row[j]);
                narrowed[j] = static_cast<std::int32_t>(row[j]);
            }
            if (!allFit) {
                for (std::size_t j = 0; j < n; ++j) {
                    if (j != i && !fitsInt32(row[j])) {
                        throwOutOfRange(i, j, row[j]);
                    }
                }
            }
            rowCosts = narrowed.data();
        }
        builder.addArcs({heads.data(), i}, {rowCosts, i});
        builder.addArcs({heads.data() + i + 1, n - i - 1}, {rowCosts + i + 1, n - i - 1});
        builder.endRow();
    }
    return std::move(builder).build();
}

template <typename Cost>
Graph filteredGraph(std::size_t n, std::span<const Cost> costs, const ArcFilter& filter) {
    Graph::Builder builder(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t cell = i * n + j;
            const Cost value = costs[cell];
            if (j == i || (!filter.forbidden.empty() && filter.forbidden[cell] != 0) ||
                (filter.noArcCost && static_cast<std::int64_t>(value) == *filter.noArcCost)) {
                continue;
            }
            if (!fitsInt32(value)) {
                throwOutOfRange(i, j, value);
            }
            builder.addArc(static_cast<Node>(j), static_cast<std::int32_t>(value));
        }
        builder.endRow();
    }
    return std::move(builder).build();
}

template <typename Cost>
Graph graphOfMatrix(std::size_t n, std::span<const Cost> costs, const ArcFilter& filter) {
    checkSizes(n, costs.size(), filter);
    if (filter.forbidden.empty() && !filter.noArcCost) {
        return completeGraph(n, costs);
    }
    return filteredGraph(n, costs, filter);
}

void checkCity(std::size_t city, std::size_t n) {
    if (city >= n) {
        throw Error(ErrorKind::BadInput, "city " + std::to_string(city) +
                                             " is not in a problem of " + std::to_string(n) +
                                             " cities");
    }
}

}  // namespace

Problem::Problem() : data(std::make_shared<const Data>()) {}

Problem::Problem(std::shared_ptr<const Data> data) : data(std::move(data)) {}

Problem Problem::fromMatrix(std::size_t cityCount, std::span<const std::int32_t> costs,
                            const ArcFilter& filter) {
    return Problem(std::make_shared<const Data>(Data{graphOfMatrix(cityCount, costs, filter)}));
}

Problem Problem::fromMatrix(std::size_t cityCount, std::span<const std::int64_t> costs,
                            const ArcFilter& filter) {
    return Problem(std::make_shared<const Data>(Data{graphOfMatrix(cityCount, costs, filter)}));
}

Problem Problem::fromFile(const std::string& fileName) {
    MatrixReadResult read;
    if (!readProblemFile(fileName, read)) {
        throw Error(ErrorKind::FileNotReadable, "Couldn't open file " + fileName);
    }
    if (!read.error.empty()) {
        throw Error(ErrorKind::MalformedFile, "Malformed file " + fileName + ": " + read.error);
    }
    return Problem(std::make_shared<const Data>(Data{std::move(read.graph)}));
}

std::size_t Problem::cityCount() const {
    return data->graph.cityCount();
}

std::size_t Problem::arcCount() const {
    return data->graph.arcCount();
}

std::optional<std::int32_t> Problem::arcCost(std::size_t from, std::size_t to) const {
    const Graph& graph = data->graph;
    checkCity(from, graph.cityCount());
    checkCity(to, graph.cityCount());
    const Node position = graph.arcPosition(static_cast<Node>(from), static_cast<Node>(to));
    if (position == NoNode) {
        return std::nullopt;
    }
    return graph.costs(static_cast<Node>(from))[position];
}

void Problem::copyCostMatrix(std::span<std::int32_t> matrix, std::int32_t noArc) const {
    const Graph& graph = data->graph;
    const std::size_t n = graph.cityCount();
    if (matrix.size() != n * n) {
        throw Error(ErrorKind::BadInput, "the matrix of " + std::to_string(n) + " cities has " +
                                             std::to_string(n * n) + " cells, not " +
                                             std::to_string(matrix.size()));
    }
    std::fill(matrix.begin(), matrix.end(), noArc);
    for (std::size_t i = 0; i < n; ++i) {
        const std::span<const Node> heads = graph.successors(static_cast<Node>(i));
        const std::span<const std::int32_t> costs = graph.costs(static_cast<Node>(i));
        for (std::size_t k = 0; k < heads.size(); ++k) {
            matrix[i * n + heads[k]] = costs[k];
        }
    }
}

}  // namespace atsp
