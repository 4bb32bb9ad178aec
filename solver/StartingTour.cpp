#include "solver/StartingTour.h"

std::vector<Node> startingTour(const SuccessorLists& successors, const std::vector<Node>* startTour) {
    if (startTour != nullptr) {
        return *startTour;
    }
    const Node n = static_cast<Node>(successors.size());
    std::vector<Node> tour(n);
    for (Node i = 0; i < n; ++i) {
        tour[i] = static_cast<Node>(i + 1 == n ? 0 : i + 1);
    }
    return tour;
}

std::int64_t tourCost(const SuccessorLists& successors, const ArcCosts& costs,
                      const std::vector<Node>& tour) {
    std::int64_t sum = 0;
    const Node n = static_cast<Node>(successors.size());
    for (Node i = 0; i < n; ++i) {
        const std::vector<Node>& row = successors[i];
        const Node rowLength = static_cast<Node>(row.size());
        for (Node k = 0; k < rowLength; ++k) {
            if (row[k] == tour[i]) {
                sum += costs[i][k];
                break;
            }
        }
    }
    return sum;
}
