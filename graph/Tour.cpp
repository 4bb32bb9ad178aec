#include "graph/Tour.h"

namespace atsp {

std::vector<Node> defaultTour(std::size_t cityCount) {
    std::vector<Node> tour(cityCount);
    for (std::size_t city = 0; city < cityCount; ++city) {
        tour[city] = static_cast<Node>(city + 1 == cityCount ? 0 : city + 1);
    }
    return tour;
}

bool isSingleCycle(const std::vector<Node>& successors) {
    const std::size_t n = successors.size();
    if (n == 0) {
        return false;
    }
    std::size_t city = 0;
    for (std::size_t step = 1; step < n; ++step) {
        city = successors[city];
        if (city >= n || city == 0) {
            return false;
        }
    }
    return successors[city] == 0;
}

std::optional<std::int64_t> tourCost(const Graph& graph, const std::vector<Node>& tour) {
    if (tour.size() != graph.cityCount()) {
        return std::nullopt;
    }
    if (tour.size() <= 1) {
        return 0;
    }
    std::int64_t sum = 0;
    for (std::size_t city = 0; city < tour.size(); ++city) {
        const Node position = graph.arcPosition(static_cast<Node>(city), tour[city]);
        if (position == NoNode) {
            return std::nullopt;
        }
        sum += graph.costs(static_cast<Node>(city))[position];
    }
    return sum;
}

}  // namespace atsp
