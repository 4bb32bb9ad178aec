#include "graph/Graph.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>

namespace atsp {

Graph Graph::fromRows(const std::vector<std::vector<Node>>& heads,
                      const std::vector<std::vector<std::int32_t>>& costs) {
    if (heads.size() != costs.size()) {
        throw std::invalid_argument("Graph::fromRows: heads and costs differ in rows");
    }
    Builder builder(heads.size());
    for (std::size_t row = 0; row < heads.size(); ++row) {
        if (heads[row].size() != costs[row].size()) {
            throw std::invalid_argument("Graph::fromRows: a row's heads and costs differ");
        }
        for (std::size_t k = 0; k < heads[row].size(); ++k) {
            builder.addArc(heads[row][k], costs[row][k]);
        }
        builder.endRow();
    }
    return std::move(builder).build();
}

Node Graph::arcPosition(Node tail, Node head) const {
    if (head >= cityCount() || head == tail) {
        return NoNode;
    }
    if (isFullRow(tail)) {
        return static_cast<Node>(head > tail ? head - 1u : head);
    }
    const std::span<const Node> row = successors(tail);
    for (std::size_t k = 0; k < row.size(); ++k) {
        if (row[k] == head) {
            return static_cast<Node>(k);
        }
    }
    return NoNode;
}

Graph::Builder::Builder(std::size_t cityCount) : cities(cityCount) {
    graph.rowStarts.reserve(cityCount + 1);
    graph.fullRows.reserve(cityCount);
}

void Graph::Builder::reserveArcs(std::size_t arcs) {
    graph.arcHeads.reserve(arcs);
    graph.arcCosts.reserve(arcs);
}

void Graph::Builder::endRow() {
    const std::uint64_t start = graph.rowStarts.back();
    const auto tail = static_cast<std::uint64_t>(rowsDone());
    const std::uint64_t length = graph.arcHeads.size() - start;
    bool full = length + 1 == cities;
    for (std::uint64_t k = 0; full && k < length; ++k) {
        full = graph.arcHeads[start + k] == (k < tail ? k : k + 1);
    }
    graph.fullRows.push_back(full ? 1 : 0);
    graph.rowStarts.push_back(graph.arcHeads.size());
    if (cities > 1 && graph.cheapestArcs != InfeasibleBound) {
        if (length == 0) {
            graph.cheapestArcs = InfeasibleBound;
        } else {
            graph.cheapestArcs +=
                *std::min_element(graph.arcCosts.begin() + start, graph.arcCosts.end());
        }
    }
}

Graph Graph::Builder::build() && {
    assert(rowsDone() == cities);
    return std::move(graph);
}

}  // namespace atsp
