#include "presolve/ArcElimination.h"

#include <algorithm>

namespace atsp {

namespace {

// Whether any arc of a run of 16 consecutive columns passes c - v < limit,
// branch-free so that it vectorises (with AVX2 where the processor has it).
ATSP_ROW_LOOP bool anyBelow(const std::int32_t* runCosts, const std::int64_t* runDuals,
                            std::int64_t limit) {
    std::int64_t signs = 0;
    for (std::size_t k = 0; k < 16; ++k) {
        signs |= runCosts[k] - runDuals[k] - limit;
    }
    return signs < 0;
}

// The arcs of a run of consecutive columns [firstColumn, firstColumn +
// length), the run's arcs at positions [firstPosition, ...) of its row: a
// full row is two such runs. Few arcs are kept, so blocks of 16 are tested
// together and only a block with a kept arc is looked at arc by arc.
void keepRun(const std::int32_t* rowCosts, const std::int64_t* columnDuals,
             std::size_t firstPosition, std::size_t firstColumn, std::size_t length,
             std::int64_t limit, std::size_t assigned, std::vector<Node>& keptHeads,
             std::vector<std::int32_t>& keptCosts, std::size_t& assignedKept) {
    const std::int32_t* runCosts = rowCosts + firstPosition;
    const std::int64_t* runDuals = columnDuals + firstColumn;
    std::size_t k = 0;
    const auto keepFrom = [&](std::size_t end) {
        for (; k < end; ++k) {
            if (runCosts[k] - runDuals[k] < limit) {
                if (firstPosition + k == assigned) {
                    assignedKept = keptHeads.size();
                }
                keptHeads.push_back(static_cast<Node>(firstColumn + k));
                keptCosts.push_back(runCosts[k]);
            }
        }
    };
    for (; k + 16 <= length;) {
        if (anyBelow(runCosts + k, runDuals + k, limit)) {
            keepFrom(k + 16);
        } else {
            k += 16;
        }
    }
    keepFrom(length);
}

}  // namespace

std::optional<Graph> keepArcsBelow(const Graph& graph, const std::vector<std::int64_t>& rowDuals,
                                   const std::vector<std::int64_t>& columnDuals,
                                   std::int64_t threshold, std::vector<Node>& positions,
                                   const std::function<bool()>& stopRequested) {
    const std::size_t n = graph.cityCount();
    Graph::Builder kept(n);
    std::vector<Node> keptHeads;
    std::vector<std::int32_t> keptCosts;
    constexpr std::size_t rowsPerCheck = 256;
    for (std::size_t row = 0; row < n; ++row) {
        if (row % rowsPerCheck == rowsPerCheck - 1 && stopRequested && stopRequested()) {
            return std::nullopt;
        }
        const Node tail = static_cast<Node>(row);
        const Node* heads = graph.successors(tail).data();
        const std::int32_t* rowCosts = graph.costs(tail).data();
        const std::size_t length = graph.rowLength(tail);
        // An arc is kept when c - u - v < threshold, that is c - v < limit.
        const std::int64_t limit = threshold + rowDuals[row];
        const std::size_t assigned = positions[row];
        std::size_t assignedKept = 0;
        keptHeads.clear();
        keptCosts.clear();
        if (graph.isFullRow(tail)) {
            keepRun(rowCosts, columnDuals.data(), 0, 0, row, limit, assigned, keptHeads, keptCosts,
                    assignedKept);
            keepRun(rowCosts, columnDuals.data(), row, row + 1, length - row, limit, assigned,
                    keptHeads, keptCosts, assignedKept);
        } else {
            for (std::size_t k = 0; k < length; ++k) {
                if (rowCosts[k] - columnDuals[heads[k]] < limit) {
                    if (k == assigned) {
                        assignedKept = keptHeads.size();
                    }
                    keptHeads.push_back(heads[k]);
                    keptCosts.push_back(rowCosts[k]);
                }
            }
        }
        positions[row] = static_cast<Node>(assignedKept);
        for (std::size_t k = 0; k < keptHeads.size(); ++k) {
            kept.addArc(keptHeads[k], keptCosts[k]);
        }
        kept.endRow();
    }
    return std::move(kept).build();
}

}  // namespace atsp
