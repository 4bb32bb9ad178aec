#include "tours/SupportTour.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>

namespace atsp {

namespace {

struct RankedArc {
    double value;
    std::int32_t cost;
    Node tail;
    Node head;
};

// The root of `city`'s path in the union-find, halving the way there.
Node pathOf(std::vector<Node>& parent, Node city) {
    while (parent[city] != city) {
        parent[city] = parent[parent[city]];
        city = parent[city];
    }
    return city;
}

}  // namespace

std::vector<Node> tourFromSupport(const Graph& graph, std::span<const SupportArc> support) {
    const std::size_t n = graph.cityCount();
    if (n <= 1) {
        return std::vector<Node>(n, 0);
    }
    std::vector<RankedArc> arcs;
    for (const SupportArc& arc : support) {
        const auto tail = static_cast<Node>(arc.tail);
        const auto head = static_cast<Node>(arc.head);
        const Node position = graph.arcPosition(tail, head);
        if (position != NoNode) {
            arcs.push_back({arc.value, graph.costs(tail)[position], tail, head});
        }
    }
    std::sort(arcs.begin(), arcs.end(), [](const RankedArc& first, const RankedArc& second) {
        if (first.value != second.value) {
            return first.value > second.value;
        }
        if (first.cost != second.cost) {
            return first.cost < second.cost;
        }
        return first.tail != second.tail ? first.tail < second.tail : first.head < second.head;
    });

    std::vector<Node> next(n, NoNode);
    std::vector<Node> previous(n, NoNode);
    std::vector<Node> parent(n);
    std::iota(parent.begin(), parent.end(), Node{0});
    for (const RankedArc& arc : arcs) {
        if (next[arc.tail] != NoNode || previous[arc.head] != NoNode) {
            continue;
        }
        const Node tailPath = pathOf(parent, arc.tail);
        const Node headPath = pathOf(parent, arc.head);
        if (tailPath == headPath) {
            continue;  // it would close a cycle short of every city
        }
        next[arc.tail] = arc.head;
        previous[arc.head] = arc.tail;
        parent[headPath] = tailPath;
    }

    // The paths by their first cities; the one through city 0 goes first.
    std::vector<Node> starts;
    for (Node city = 0; city < n; ++city) {
        if (previous[city] == NoNode) {
            starts.push_back(city);
        }
    }
    std::vector<Node> endOf(n, NoNode);
    for (const Node start : starts) {
        Node city = start;
        while (next[city] != NoNode) {
            city = next[city];
        }
        endOf[start] = city;
    }
    Node first = 0;
    while (previous[first] != NoNode) {
        first = previous[first];
    }
    std::vector<Node> unjoined;
    for (const Node start : starts) {
        if (start != first) {
            unjoined.push_back(start);
        }
    }
    Node end = endOf[first];
    while (!unjoined.empty()) {
        std::size_t cheapest = unjoined.size();
        std::int32_t cheapestCost = std::numeric_limits<std::int32_t>::max();
        for (std::size_t k = 0; k < unjoined.size(); ++k) {
            const Node position = graph.arcPosition(end, unjoined[k]);
            if (position != NoNode &&
                (cheapest == unjoined.size() || graph.costs(end)[position] < cheapestCost)) {
                cheapest = k;
                cheapestCost = graph.costs(end)[position];
            }
        }
        if (cheapest == unjoined.size()) {
            return {};
        }
        const Node start = unjoined[cheapest];
        next[end] = start;
        end = endOf[start];
        unjoined[cheapest] = unjoined.back();
        unjoined.pop_back();
    }
    if (graph.arcPosition(end, first) == NoNode) {
        return {};
    }
    next[end] = first;
    return next;
}

std::vector<Node> tourOfSolution(const Graph& graph, const std::vector<Node>& tour,
                                 std::span<const SupportArc> support) {
    if (!tour.empty()) {
        return tour;
    }
    return support.empty() ? std::vector<Node>{} : tourFromSupport(graph, support);
}

}  // namespace atsp
