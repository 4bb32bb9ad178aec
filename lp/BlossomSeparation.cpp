#include "lp/BlossomSeparation.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <tuple>

namespace atsp {

namespace {

std::uint32_t findRoot(std::vector<std::uint32_t>& parent, std::uint32_t city) {
    while (parent[city] != city) {
        parent[city] = parent[parent[city]];
        city = parent[city];
    }
    return city;
}

}  // namespace

std::vector<SupportEdge> supportEdges(std::span<const SupportArc> arcs, std::size_t cityCount) {
    std::vector<SupportEdge> pairs;
    for (const SupportArc& arc : arcs) {
        if (arc.tail >= cityCount || arc.head >= cityCount) {
            throw std::invalid_argument("a support arc's city is out of range");
        }
        if (arc.value > 0 && arc.tail != arc.head) {
            pairs.push_back({std::min(arc.tail, arc.head), std::max(arc.tail, arc.head), arc.value});
        }
    }
    std::sort(pairs.begin(), pairs.end(), [](const SupportEdge& first, const SupportEdge& second) {
        return std::tie(first.a, first.b) < std::tie(second.a, second.b);
    });
    std::vector<SupportEdge> edges;
    for (const SupportEdge& edge : pairs) {
        if (!edges.empty() && edges.back().a == edge.a && edges.back().b == edge.b) {
            edges.back().y += edge.y;
        } else {
            edges.push_back(edge);
        }
    }
    return edges;
}

std::vector<std::vector<std::uint32_t>> componentsJoinedBy(
    std::span<const SupportEdge> edges, std::size_t cityCount,
    const std::function<bool(const SupportEdge&)>& joins) {
    std::vector<std::uint32_t> parent(cityCount);
    std::iota(parent.begin(), parent.end(), 0u);
    for (const SupportEdge& edge : edges) {
        if (joins(edge)) {
            parent[findRoot(parent, edge.a)] = findRoot(parent, edge.b);
        }
    }
    constexpr std::uint32_t None = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> componentOfRoot(cityCount, None);
    std::vector<std::vector<std::uint32_t>> components;
    for (std::uint32_t city = 0; city < cityCount; ++city) {
        std::uint32_t& component = componentOfRoot[findRoot(parent, city)];
        if (component == None) {
            component = static_cast<std::uint32_t>(components.size());
            components.emplace_back();
        }
        components[component].push_back(city);
    }
    return components;
}

std::vector<Blossom> BlossomSeparation::separate(std::span<const SupportArc> arcs,
                                                 double tolerance) const {
    const std::size_t n = cityCount_;
    const std::vector<SupportEdge> edges = supportEdges(arcs, n);
    std::vector<Blossom> found;
    // Three disjoint teeth need three cities in the handle and three outside.
    if (n < 6) {
        return found;
    }
    const auto isTooth = [&](const SupportEdge& edge) { return edge.y >= 1 - tolerance; };

    const std::vector<std::vector<std::uint32_t>> components = componentsJoinedBy(
        edges, n, [&](const SupportEdge& edge) { return edge.y > tolerance && !isTooth(edge); });

    std::vector<char> inHandle(n, 0);
    std::vector<int> toothOf(n, -1);
    std::vector<int> touches(n, 0);
    for (const std::vector<std::uint32_t>& component : components) {
        if (component.size() < 3 || component.size() == n) {
            continue;
        }
        std::vector<std::uint32_t> handle = component;
        for (const std::uint32_t city : handle) {
            inHandle[city] = 1;
        }
        std::vector<const SupportEdge*> teeth;
        bool usable = true;
        // Each pass either ends with disjoint teeth or moves a city into the
        // handle, so there are at most n passes.
        for (;;) {
            teeth.clear();
            std::fill(touches.begin(), touches.end(), 0);
            for (const SupportEdge& edge : edges) {
                if (isTooth(edge) && inHandle[edge.a] != inHandle[edge.b]) {
                    teeth.push_back(&edge);
                    ++touches[edge.a];
                    ++touches[edge.b];
                }
            }
            std::uint32_t joining = static_cast<std::uint32_t>(n);
            for (const SupportEdge* tooth : teeth) {
                for (const std::uint32_t city : {tooth->a, tooth->b}) {
                    if (touches[city] > 1) {
                        if (inHandle[city] != 0) {
                            usable = false;  // a handle city with two teeth: no blossom here
                        } else {
                            joining = city;
                        }
                    }
                }
            }
            if (!usable || joining == n) {
                break;
            }
            inHandle[joining] = 1;
            handle.push_back(joining);
        }
        const std::size_t t = teeth.size();
        if (usable && t >= 3 && t % 2 == 1 && handle.size() < n) {
            for (std::size_t k = 0; k < t; ++k) {
                toothOf[teeth[k]->a] = toothOf[teeth[k]->b] = static_cast<int>(k);
            }
            double lhs = 0;
            for (const SupportArc& arc : arcs) {
                if (arc.value <= 0 || arc.tail == arc.head) {
                    continue;
                }
                if (inHandle[arc.tail] != 0 && inHandle[arc.head] == 0) {
                    lhs += arc.value;
                }
                if (toothOf[arc.tail] >= 0 && toothOf[arc.head] != toothOf[arc.tail]) {
                    lhs += arc.value;
                }
            }
            Blossom blossom{handle, {}, lhs};
            for (const SupportEdge* tooth : teeth) {
                blossom.teeth.push_back(inHandle[tooth->a] != 0 ? std::pair{tooth->a, tooth->b}
                                                                : std::pair{tooth->b, tooth->a});
            }
            if (lhs < static_cast<double>(blossom.rhs()) - tolerance) {
                std::sort(blossom.handle.begin(), blossom.handle.end());
                found.push_back(std::move(blossom));
            }
            for (const SupportEdge* tooth : teeth) {
                toothOf[tooth->a] = toothOf[tooth->b] = -1;
            }
        }
        for (const std::uint32_t city : handle) {
            inHandle[city] = 0;
        }
    }
    sortMostViolatedFirst(found);
    return found;
}

}  // namespace atsp
