#include "lp/ExactBlossomSeparation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <tuple>

namespace atsp {

namespace {

// Maximum flows between pairs of cities of one undirected graph, each from
// the original capacities (Dinic's method: blocking flows on BFS levels).
class MaximumFlow {
  public:
    explicit MaximumFlow(std::size_t nodeCount)
        : adjacent_(nodeCount), level_(nodeCount), next_(nodeCount) {}

    void addEdge(std::uint32_t a, std::uint32_t b, double capacity) {
        adjacent_[a].push_back(static_cast<std::uint32_t>(arcs_.size()));
        arcs_.push_back({b, capacity});
        adjacent_[b].push_back(static_cast<std::uint32_t>(arcs_.size()));
        arcs_.push_back({a, capacity});
    }

    // Fills `sourceSide` with the nodes the source still reaches in the
    // residual graph of a maximum flow: a minimum cut's side.
    void minimumCut(std::uint32_t source, std::uint32_t sink, std::vector<char>& sourceSide) {
        residual_.resize(arcs_.size());
        for (std::size_t arc = 0; arc < arcs_.size(); ++arc) {
            residual_[arc] = arcs_[arc].capacity;
        }
        while (levelFrom(source, sink)) {
            std::fill(next_.begin(), next_.end(), 0u);
            while (push(source, sink, std::numeric_limits<double>::infinity()) > 0) {
            }
        }
        sourceSide.assign(adjacent_.size(), 0);
        for (std::size_t node = 0; node < adjacent_.size(); ++node) {
            sourceSide[node] = level_[node] >= 0 ? 1 : 0;
        }
    }

  private:
    struct Arc {
        std::uint32_t head;
        double capacity;
    };
    // Residual capacities this small count as none: flows are sums of
    // LP values, and a cut of this weight is no violated blossom anyway.
    static constexpr double Epsilon = 1e-12;

    // BFS levels from the source over residual arcs; whether the sink is reached.
    bool levelFrom(std::uint32_t source, std::uint32_t sink) {
        std::fill(level_.begin(), level_.end(), -1);
        queue_.clear();
        queue_.push_back(source);
        level_[source] = 0;
        for (std::size_t k = 0; k < queue_.size(); ++k) {
            const std::uint32_t node = queue_[k];
            for (const std::uint32_t arc : adjacent_[node]) {
                const std::uint32_t head = arcs_[arc].head;
                if (residual_[arc] > Epsilon && level_[head] < 0) {
                    level_[head] = level_[node] + 1;
                    queue_.push_back(head);
                }
            }
        }
        return level_[sink] >= 0;
    }

    double push(std::uint32_t node, std::uint32_t sink, double limit) {
        if (node == sink) {
            return limit;
        }
        for (std::uint32_t& k = next_[node]; k < adjacent_[node].size(); ++k) {
            const std::uint32_t arc = adjacent_[node][k];
            const std::uint32_t head = arcs_[arc].head;
            if (residual_[arc] > Epsilon && level_[head] == level_[node] + 1) {
                if (const double pushed = push(head, sink, std::min(limit, residual_[arc]));
                    pushed > 0) {
                    residual_[arc] -= pushed;
                    residual_[arc ^ 1u] += pushed;
                    return pushed;
                }
            }
        }
        return 0;
    }

    std::vector<std::vector<std::uint32_t>> adjacent_;
    std::vector<Arc> arcs_;  // arc k ^ 1 is arc k's reverse
    std::vector<double> residual_;
    std::vector<int> level_;
    std::vector<std::uint32_t> next_;
    std::vector<std::uint32_t> queue_;
};

}  // namespace

std::vector<Blossom> ExactBlossomSeparation::separate(std::span<const SupportArc> arcs,
                                                      double tolerance,
                                                      Clock::time_point deadline) const {
    const std::size_t n = cityCount_;
    std::vector<SupportEdge> edges = supportEdges(arcs, n);
    std::vector<Blossom> found;
    // Three distinct teeth need two cities on each side at least; a handle
    // of one city has degree 2 and meets every blossom it could make.
    if (n < 4) {
        return found;
    }
    // An LP value may pass 1 by the solver's tolerance; no tour's does.
    for (SupportEdge& edge : edges) {
        edge.y = std::min(edge.y, 1.0);
    }

    // Gusfield's tree: city s > 0 hangs from parent[s], and cutSide[s] is the
    // side of s in the minimum cut between them: the tree edge's cut.
    MaximumFlow flow(n);
    for (const SupportEdge& edge : edges) {
        if (const double weight = std::min(edge.y, 1 - edge.y); weight > 0) {
            flow.addEdge(edge.a, edge.b, weight);
        }
    }
    std::vector<std::uint32_t> parent(n, 0);
    std::vector<std::vector<char>> cutSide(n);
    for (std::uint32_t s = 1; s < n; ++s) {
        if ((s - 1) % 16 == 0 && Clock::now() > deadline) {
            return {};
        }
        flow.minimumCut(s, parent[s], cutSide[s]);
        for (std::uint32_t later = s + 1; later < n; ++later) {
            if (cutSide[s][later] != 0 && parent[later] == parent[s]) {
                parent[later] = s;
            }
        }
    }

    std::vector<std::vector<std::uint32_t>> handlesSeen;
    for (std::uint32_t s = 1; s < n; ++s) {
        const std::vector<char>& side = cutSide[s];
        // The least left-hand side over F for this handle (see the header).
        double value = 0;
        std::size_t aboveHalf = 0;
        const SupportEdge* flip = nullptr;
        for (const SupportEdge& edge : edges) {
            if (side[edge.a] != side[edge.b]) {
                value += std::min(edge.y, 1 - edge.y);
                aboveHalf += edge.y > 0.5 ? 1 : 0;
                if (flip == nullptr || std::abs(1 - 2 * edge.y) < std::abs(1 - 2 * flip->y)) {
                    flip = &edge;
                }
            }
        }
        if (flip == nullptr) {
            continue;
        }
        if (aboveHalf % 2 == 0) {
            value += std::abs(1 - 2 * flip->y);
        }
        if (value >= 1 - tolerance) {
            continue;
        }
        std::size_t inside = 0;
        for (std::size_t city = 0; city < n; ++city) {
            inside += side[city] != 0 ? 1 : 0;
        }
        const char handleMark = 2 * inside < n || (2 * inside == n && side[0] != 0) ? 1 : 0;
        Blossom blossom;
        for (std::uint32_t city = 0; city < n; ++city) {
            if (side[city] == handleMark) {
                blossom.handle.push_back(city);
            }
        }
        if (std::find(handlesSeen.begin(), handlesSeen.end(), blossom.handle) !=
            handlesSeen.end()) {
            continue;
        }
        for (const SupportEdge& edge : edges) {
            if (side[edge.a] == side[edge.b]) {
                continue;
            }
            const bool inF = (edge.y > 0.5) != (aboveHalf % 2 == 0 && &edge == flip);
            if (inF) {
                blossom.teeth.push_back(side[edge.a] == handleMark ? std::pair{edge.a, edge.b}
                                                                   : std::pair{edge.b, edge.a});
            }
        }
        if (blossom.teeth.size() < 3) {
            continue;
        }
        // Measured on the arcs as given, as BlossomSeparation measures: an
        // arc leaves every tooth at its tail but the one it runs along.
        std::vector<char> inHandle(n, 0);
        for (const std::uint32_t city : blossom.handle) {
            inHandle[city] = 1;
        }
        std::vector<int> teethAt(n, 0);
        std::vector<std::pair<std::uint32_t, std::uint32_t>> toothEdges;
        for (const auto& [inside, outside] : blossom.teeth) {
            ++teethAt[inside];
            ++teethAt[outside];
            toothEdges.emplace_back(std::min(inside, outside), std::max(inside, outside));
        }
        std::sort(toothEdges.begin(), toothEdges.end());
        double lhs = 0;
        for (const SupportArc& arc : arcs) {
            if (arc.value <= 0 || arc.tail == arc.head) {
                continue;
            }
            int leaves = teethAt[arc.tail];
            if (std::binary_search(
                    toothEdges.begin(), toothEdges.end(),
                    std::pair{std::min(arc.tail, arc.head), std::max(arc.tail, arc.head)})) {
                --leaves;
            }
            if (inHandle[arc.tail] != 0 && inHandle[arc.head] == 0) {
                ++leaves;
            }
            lhs += leaves * arc.value;
        }
        blossom.lhs = lhs;
        if (lhs < static_cast<double>(blossom.rhs()) - tolerance) {
            handlesSeen.push_back(blossom.handle);
            found.push_back(std::move(blossom));
        }
    }
    sortMostViolatedFirst(found);
    return found;
}

}  // namespace atsp
