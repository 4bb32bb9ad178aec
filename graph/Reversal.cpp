#include "graph/Reversal.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace atsp {

std::optional<std::vector<std::int64_t>> reversalPotentials(const Graph& graph) {
    const std::size_t n = graph.cityCount();
    if (n < 3) {
        // One tour, or none, or a 2-cycle that is its own reverse.
        return std::vector<std::int64_t>(n, 0);
    }
    std::vector<std::int64_t> potential(n, 0);
    std::vector<char> reached(n, 0);
    std::vector<Node> queue;
    for (Node start = 0; start < n; ++start) {
        if (reached[start] != 0) {
            continue;
        }
        reached[start] = 1;
        queue.assign(1, start);
        for (std::size_t next = 0; next < queue.size(); ++next) {
            const Node tail = queue[next];
            const auto heads = graph.successors(tail);
            const auto costs = graph.costs(tail);
            for (std::size_t k = 0; k < heads.size(); ++k) {
                const Node head = heads[k];
                const Node back = graph.arcPosition(head, tail);
                if (back == NoNode) {
                    return std::nullopt;
                }
                // d = c(head, tail) - c(tail, head) = q(head) - q(tail).
                const std::int64_t d =
                    std::int64_t{graph.costs(head)[back]} - std::int64_t{costs[k]};
                if (reached[head] == 0) {
                    reached[head] = 1;
                    potential[head] = potential[tail] + d;
                    queue.push_back(head);
                } else if (potential[head] - potential[tail] != d) {
                    return std::nullopt;
                }
            }
        }
    }
    return potential;
}

}  // namespace atsp
