#include "solver/ArcElimination.h"

KeptArcs keepArcsBelow(const SuccessorLists& successors, const ArcCosts& costs,
                       const std::vector<std::int64_t>& rowDuals,
                       const std::vector<std::int64_t>& columnDuals, std::int64_t threshold,
                       std::vector<Node>& positions) {
    const std::size_t n = successors.size();
    KeptArcs kept{SuccessorLists(n), ArcCosts(n), 0};
    // A row's arcs are written to scratch storage one after the other, each
    // moving the end on only when it is kept: no branch per arc, and each
    // row's lists are then allocated once, at their size.
    std::vector<Node> scratchHeads;
    std::vector<std::int32_t> scratchCosts;
    const std::int64_t* columnDual = columnDuals.data();
    for (std::size_t row = 0; row < n; ++row) {
        const Node* heads = successors[row].data();
        const std::int32_t* rowCosts = costs[row].data();
        const std::size_t length = successors[row].size();
        scratchHeads.resize(length);
        scratchCosts.resize(length);
        Node* keptHead = scratchHeads.data();
        std::int32_t* keptCost = scratchCosts.data();
        // An arc is kept when c - u - v < threshold, that is c - v < limit.
        const std::int64_t limit = threshold + rowDuals[row];
        const std::size_t assigned = positions[row];
        std::size_t keptCount = 0;
        std::size_t assignedKept = 0;
        for (std::size_t k = 0; k < length; ++k) {
            keptHead[keptCount] = heads[k];
            keptCost[keptCount] = rowCosts[k];
            assignedKept = k == assigned ? keptCount : assignedKept;
            keptCount += rowCosts[k] - columnDual[heads[k]] < limit ? 1 : 0;
        }
        positions[row] = static_cast<Node>(assignedKept);
        kept.successors[row].assign(keptHead, keptHead + keptCount);
        kept.costs[row].assign(keptCost, keptCost + keptCount);
        kept.count += keptCount;
    }
    return kept;
}
