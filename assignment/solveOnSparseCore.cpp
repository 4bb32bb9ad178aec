#include "assignment/solveOnSparseCore.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace atsp {

namespace {

// The core: for each row, the positions of its core arcs in the graph row, in
// input order, and the graph of those arcs that the solver works on.
struct Core {
    std::vector<std::vector<Node>> positions;
    Graph graph;
};

// A candidate core arc of one row, ordered by cost, then by position.
struct RowArc {
    std::int32_t cost;
    Node position;
    bool operator<(const RowArc& other) const {
        return cost != other.cost ? cost < other.cost : position < other.position;
    }
};

// The core's graph anew from its positions: O(core arcs), next to the pass
// over every arc that each pricing round makes.
void rebuildGraph(Core& core, const Graph& graph) {
    const std::size_t n = graph.cityCount();
    Graph::Builder builder(n);
    std::size_t arcs = 0;
    for (const std::vector<Node>& positions : core.positions) {
        arcs += positions.size();
    }
    builder.reserveArcs(arcs);
    for (std::size_t row = 0; row < n; ++row) {
        const std::span<const Node> heads = graph.successors(static_cast<Node>(row));
        const std::span<const std::int32_t> costs = graph.costs(static_cast<Node>(row));
        for (const Node position : core.positions[row]) {
            builder.addArc(heads[position], costs[position]);
        }
        builder.endRow();
    }
    core.graph = std::move(builder).build();
}

// The least cost of each block of 16 consecutive arcs of a row, whole blocks
// only. Branch-free, so that it vectorises (with AVX2 where the processor has
// it: SSE2 has no 32-bit minimum).
ATSP_ROW_LOOP void leastOfBlocks(const std::int32_t* rowCosts, std::size_t blocks,
                                 std::int32_t* blockLeast) {
    constexpr std::size_t blockLength = 16;
    for (std::size_t block = 0; block < blocks; ++block) {
        const std::int32_t* blockCosts = rowCosts + block * blockLength;
        std::int32_t least = blockCosts[0];
        for (std::size_t k = 1; k < blockLength; ++k) {
            least = blockCosts[k] < least ? blockCosts[k] : least;
        }
        blockLeast[block] = least;
    }
}

// The `arcsPerRow` cheapest arcs of a row (ties: the earlier position), in
// `kept`. The least cost of each block of 16 arcs is found first; the
// arcsPerRow-th least of those, T, is the cost of some arc in each of
// arcsPerRow blocks, so at least arcsPerRow arcs cost at most T and the
// cheapest all do. Only the blocks whose least cost is at most T (and the
// arcs after the last whole block) can hold such arcs: they alone are
// searched, and the few arcs found are sorted.
void keepCheapest(const std::int32_t* rowCosts, std::size_t length, std::size_t arcsPerRow,
                  std::vector<std::int32_t>& blockLeast, std::vector<std::int32_t>& threshold,
                  std::vector<RowArc>& kept) {
    constexpr std::size_t blockLength = 16;
    kept.clear();
    const std::size_t blocks = length / blockLength;
    std::int32_t limit = std::numeric_limits<std::int32_t>::max();
    if (blocks > arcsPerRow) {
        blockLeast.resize(blocks);
        leastOfBlocks(rowCosts, blocks, blockLeast.data());
        threshold.assign(blockLeast.begin(), blockLeast.end());
        std::nth_element(threshold.begin(), threshold.begin() + (arcsPerRow - 1), threshold.end());
        limit = threshold[arcsPerRow - 1];
    } else {
        blockLeast.assign(blocks, std::numeric_limits<std::int32_t>::min());
    }
    for (std::size_t block = 0; block < blocks; ++block) {
        if (blockLeast[block] > limit) {
            continue;
        }
        for (std::size_t k = block * blockLength; k < (block + 1) * blockLength; ++k) {
            if (rowCosts[k] <= limit) {
                kept.push_back({rowCosts[k], static_cast<Node>(k)});
            }
        }
    }
    for (std::size_t k = blocks * blockLength; k < length; ++k) {
        if (rowCosts[k] <= limit) {
            kept.push_back({rowCosts[k], static_cast<Node>(k)});
        }
    }
    if (kept.size() > arcsPerRow) {
        std::nth_element(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(arcsPerRow),
                         kept.end());
        kept.resize(arcsPerRow);
    }
}

// The cheapest arc into each column so far: its cost, its row and, for a row
// that is not full (isFullRow), its position there.
struct CheapestInto {
    explicit CheapestInto(std::size_t n)
        : cost(n, std::numeric_limits<std::int32_t>::max()), row(n, -1), position(n, NoNode) {}

    // Columns [first, last) against consecutive costs, branch-free so that the
    // loop vectorises: a full row's arcs are two such runs.
    ATSP_ROW_LOOP void lowerRun(const std::int32_t* runCosts, std::size_t first, std::size_t last,
                                std::int32_t tail) {
        std::int32_t* columnCosts = cost.data();
        std::int32_t* columnRows = row.data();
        for (std::size_t column = first; column < last; ++column) {
            const std::int32_t arcCost = runCosts[column - first];
            const bool cheaper = arcCost < columnCosts[column];
            columnCosts[column] = cheaper ? arcCost : columnCosts[column];
            columnRows[column] = cheaper ? tail : columnRows[column];
        }
    }

    void lowerArcs(const Node* heads, const std::int32_t* rowCosts, std::size_t length,
                   std::int32_t tail) {
        for (std::size_t k = 0; k < length; ++k) {
            if (rowCosts[k] < cost[heads[k]]) {
                cost[heads[k]] = rowCosts[k];
                row[heads[k]] = tail;
                position[heads[k]] = static_cast<Node>(k);
            }
        }
    }

    std::vector<std::int32_t> cost;
    std::vector<std::int32_t> row;  // -1: no arc yet
    std::vector<Node> position;
};

// Whether to give up now: asked once every `rowsPerCheck` rows of a pass.
bool stopAt(std::size_t row, const std::function<bool()>& stopRequested) {
    constexpr std::size_t rowsPerCheck = 256;
    return row % rowsPerCheck == rowsPerCheck - 1 && stopRequested && stopRequested();
}

// The `arcsPerRow` cheapest arcs of every row and the cheapest arc into every
// column, in one pass over the graph; false when stopped.
bool pickCore(const Graph& graph, std::size_t arcsPerRow, Core& core,
              const std::function<bool()>& stopRequested) {
    const std::size_t n = graph.cityCount();
    core = Core{std::vector<std::vector<Node>>(n), Graph()};
    CheapestInto cheapestInto(n);
    std::vector<RowArc> kept;
    std::vector<std::int32_t> blockLeast;
    std::vector<std::int32_t> threshold;
    for (std::size_t row = 0; row < n; ++row) {
        if (stopAt(row, stopRequested)) {
            return false;
        }
        const Node tail = static_cast<Node>(row);
        const std::int32_t* rowCosts = graph.costs(tail).data();
        const std::size_t length = graph.rowLength(tail);
        keepCheapest(rowCosts, length, arcsPerRow, blockLeast, threshold, kept);
        if (graph.isFullRow(tail)) {
            cheapestInto.lowerRun(rowCosts, 0, row, tail);
            cheapestInto.lowerRun(rowCosts + row, row + 1, n, tail);
        } else {
            cheapestInto.lowerArcs(graph.successors(tail).data(), rowCosts, length, tail);
        }
        for (const RowArc& arc : kept) {
            core.positions[row].push_back(arc.position);
        }
    }
    for (std::size_t column = 0; column < n; ++column) {
        const std::int32_t tail = cheapestInto.row[column];
        if (tail < 0) {
            continue;
        }
        const Node position =
            graph.isFullRow(static_cast<Node>(tail))
                ? static_cast<Node>(column - (column > static_cast<std::size_t>(tail)))
                : cheapestInto.position[column];
        core.positions[tail].push_back(position);
    }
    for (std::vector<Node>& positions : core.positions) {
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    }
    rebuildGraph(core, graph);
    return true;
}

// Whether some arc of a full row prices negative: c - v - u < 0 for some
// column, told by the sign bit of the OR of all of them, which vectorises.
ATSP_ROW_LOOP bool fullRowPricesNegative(const std::int32_t* rowCosts, std::size_t row,
                                         std::size_t n, std::int64_t rowDual,
                                         const std::int64_t* columnDuals) {
    std::int64_t signs = 0;
    for (std::size_t column = 0; column < row; ++column) {
        signs |= rowCosts[column] - rowDual - columnDuals[column];
    }
    for (std::size_t column = row + 1; column < n; ++column) {
        signs |= rowCosts[column - 1] - rowDual - columnDuals[column];
    }
    return signs < 0;
}

// Adds arcs (positions, ascending) to a row of the core's positions.
void addToCore(Core& core, Node row, const std::vector<Node>& added) {
    std::vector<Node>& positions = core.positions[row];
    std::vector<Node> merged;
    merged.reserve(positions.size() + added.size());
    std::set_union(positions.begin(), positions.end(), added.begin(), added.end(),
                   std::back_inserter(merged));
    positions = std::move(merged);
}

// Adds to the core every arc of the graph whose reduced cost under the core's
// duals is negative, and frees the rows that got one. Grown when there was
// one; Priced when there was none (the core's solution is then optimal for
// the whole graph); Stopped when asked to give up.
enum class Pricing { Grown, Priced, Stopped };
Pricing priceAndGrow(Core& core, AssignmentProblem& coreProblem, const Graph& graph,
                     const std::function<bool()>& stopRequested) {
    const std::vector<std::int64_t>& rowDuals = coreProblem.rowDuals();
    const std::vector<std::int64_t>& columnDuals = coreProblem.columnDuals();
    const std::size_t n = graph.cityCount();
    std::vector<Node> violating;
    bool grown = false;
    for (std::size_t row = 0; row < n; ++row) {
        if (stopAt(row, stopRequested)) {
            return Pricing::Stopped;
        }
        const Node tail = static_cast<Node>(row);
        const Node* heads = graph.successors(tail).data();
        const std::int32_t* rowCosts = graph.costs(tail).data();
        const std::size_t length = graph.rowLength(tail);
        const std::int64_t rowDual = rowDuals[row];
        if (graph.isFullRow(tail) &&
            !fullRowPricesNegative(rowCosts, row, n, rowDual, columnDuals.data())) {
            continue;
        }
        violating.clear();
        for (std::size_t k = 0; k < length; ++k) {
            if (rowCosts[k] - rowDual - columnDuals[heads[k]] < 0) {
                violating.push_back(static_cast<Node>(k));
            }
        }
        if (violating.empty()) {
            continue;
        }
        addToCore(core, tail, violating);
        coreProblem.removeArc(tail, coreProblem.solution()[row]);
        grown = true;
    }
    if (!grown) {
        return Pricing::Priced;
    }
    rebuildGraph(core, graph);
    coreProblem.setGraph(core.graph);
    return Pricing::Grown;
}

}  // namespace

bool solveOnSparseCore(AssignmentProblem& problem, const Graph& graph, std::size_t arcsPerRow,
                       std::vector<std::vector<Node>>* corePositions,
                       const std::function<bool()>& stopRequested) {
    if (corePositions != nullptr) {
        corePositions->clear();
    }
    const std::size_t n = graph.cityCount();
    for (std::size_t perRow = std::max<std::size_t>(arcsPerRow, 1); 4 * perRow < n; perRow *= 4) {
        Core core;
        if (!pickCore(graph, perRow, core, stopRequested)) {
            return false;
        }
        AssignmentProblem coreProblem(core.graph);
        coreProblem.solveByRowReduction();
        if (coreProblem.solutionValue() == InfeasibleBound) {
            continue;  // too thin to hold a complete assignment: grow it
        }
        // A grown core keeps a complete assignment, so its re-solves succeed.
        for (Pricing pricing = priceAndGrow(core, coreProblem, graph, stopRequested);
             pricing != Pricing::Priced;
             pricing = priceAndGrow(core, coreProblem, graph, stopRequested)) {
            if (pricing == Pricing::Stopped) {
                return false;
            }
            coreProblem.solveHungarian(true);
        }
        AssignmentState state;
        coreProblem.saveState(state);
        for (std::size_t row = 0; row < n; ++row) {
            state.assignedArcs[row] = core.positions[row][state.assignedArcs[row]];
        }
        problem.restoreState(state);
        if (corePositions != nullptr) {
            *corePositions = std::move(core.positions);
        }
        return true;
    }
    problem.solveHungarian(false);
    return true;
}

}  // namespace atsp
