#include "tours/Patching.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace atsp {

namespace {

// The cycles of a permutation, each walked from its lowest city, found in
// order of that city. Empty when `assignment` is not a permutation.
std::vector<std::vector<Node>> cyclesOf(const std::vector<Node>& assignment) {
    const std::size_t n = assignment.size();
    std::vector<std::vector<Node>> cycles;
    std::vector<std::uint8_t> seen(n, 0);
    for (std::size_t start = 0; start < n; ++start) {
        if (seen[start]) {
            continue;
        }
        std::vector<Node> cycle;
        std::size_t city = start;
        while (city < n && !seen[city]) {
            seen[city] = 1;
            cycle.push_back(static_cast<Node>(city));
            city = assignment[city];
        }
        if (city != start) {
            return {};  // a walk that left the assignment or joined another
        }
        cycles.push_back(std::move(cycle));
    }
    return cycles;
}

// The tour being patched: successor and predecessor of every city, and which
// cities are in it.
class Patching {
  public:
    Patching(const Graph& graph, const std::vector<Node>& assignment,
             const std::vector<std::int64_t>& rowDuals,
             const std::vector<std::int64_t>& columnDuals,
             const std::vector<std::vector<Node>>& candidates)
        : graph(graph),
          rowDuals(rowDuals),
          columnDuals(columnDuals),
          candidates(candidates),
          next(assignment),
          previous(assignment.size()),
          inTour(assignment.size(), 0),
          candidatesInto(assignment.size()) {
        for (std::size_t city = 0; city < next.size(); ++city) {
            previous[next[city]] = static_cast<Node>(city);
            outReducedCost.push_back(reducedCost(static_cast<Node>(city), next[city]));
        }
        for (std::size_t row = 0; row < candidates.size(); ++row) {
            for (const Node position : candidates[row]) {
                candidatesInto[graph.successors(static_cast<Node>(row))[position]].push_back(
                    static_cast<Node>(row));
            }
        }
    }

    void start(const std::vector<Node>& cycle) { markInTour(cycle); }

    // Merges `cycle` into the tour; false when no exchange exists.
    bool merge(const std::vector<Node>& cycle) {
        best = InfeasibleBound;
        bestTourCity = NoNode;
        for (const Node cycleCity : cycle) {
            lookAmongCandidates(cycleCity);
        }
        if (bestTourCity == NoNode) {
            for (const Node cycleCity : cycle) {
                for (const Node tourCity : tourCities) {
                    consider(tourCity, cycleCity);
                }
            }
        }
        if (bestTourCity == NoNode) {
            return false;
        }
        const Node tourNext = next[bestTourCity];
        const Node cycleNext = next[bestCycleCity];
        next[bestTourCity] = cycleNext;
        next[bestCycleCity] = tourNext;
        outReducedCost[bestTourCity] = reducedCost(bestTourCity, cycleNext);
        outReducedCost[bestCycleCity] = reducedCost(bestCycleCity, tourNext);
        previous[cycleNext] = bestTourCity;
        previous[tourNext] = bestCycleCity;
        markInTour(cycle);
        return true;
    }

    std::vector<Node> tour() && { return std::move(next); }

  private:
    void markInTour(const std::vector<Node>& cycle) {
        for (const Node city : cycle) {
            inTour[city] = 1;
            tourCities.push_back(city);
        }
    }

    // Exchanges in which a candidate arc is one of the two new arcs: an arc
    // k -> s(i) out of the cycle city k, or an arc i -> s(k) into its
    // successor, with i in the tour.
    void lookAmongCandidates(Node cycleCity) {
        if (cycleCity < candidates.size()) {
            for (const Node position : candidates[cycleCity]) {
                const Node head = graph.successors(cycleCity)[position];
                if (inTour[head]) {
                    consider(previous[head], cycleCity);
                }
            }
        }
        for (const Node tail : candidatesInto[next[cycleCity]]) {
            if (inTour[tail]) {
                consider(tail, cycleCity);
            }
        }
    }

    // The exchange of tour city i and cycle city k, if both new arcs exist.
    // Its added cost in reduced costs equals that in costs: the duals of i,
    // k, s(i) and s(k) enter both sums once.
    void consider(Node tourCity, Node cycleCity) {
        const std::int64_t added = reducedCost(tourCity, next[cycleCity]);
        if (added == InfeasibleBound) {
            return;
        }
        const std::int64_t alsoAdded = reducedCost(cycleCity, next[tourCity]);
        if (alsoAdded == InfeasibleBound) {
            return;
        }
        const std::int64_t change =
            added + alsoAdded - outReducedCost[tourCity] - outReducedCost[cycleCity];
        if (change < best) {
            best = change;
            bestTourCity = tourCity;
            bestCycleCity = cycleCity;
        }
    }

    std::int64_t reducedCost(Node tail, Node head) const {
        const Node position = graph.arcPosition(tail, head);
        if (position == NoNode) {
            return InfeasibleBound;
        }
        return graph.costs(tail)[position] - rowDuals[tail] - columnDuals[head];
    }

    const Graph& graph;
    const std::vector<std::int64_t>& rowDuals;
    const std::vector<std::int64_t>& columnDuals;
    const std::vector<std::vector<Node>>& candidates;
    std::vector<Node> next;
    std::vector<Node> previous;
    std::vector<std::int64_t> outReducedCost;  // of each city's arc in the tour or its cycle
    std::vector<std::uint8_t> inTour;
    std::vector<Node> tourCities;
    std::vector<std::vector<Node>> candidatesInto;  // per column, the rows of its candidates
    std::int64_t best = InfeasibleBound;
    Node bestTourCity = NoNode;
    Node bestCycleCity = NoNode;
};

}  // namespace

std::vector<Node> patchCycles(const Graph& graph, const std::vector<Node>& assignment,
                              const std::vector<std::int64_t>& rowDuals,
                              const std::vector<std::int64_t>& columnDuals,
                              const std::vector<std::vector<Node>>& candidates) {
    std::vector<std::vector<Node>> cycles = cyclesOf(assignment);
    if (cycles.empty()) {
        return {};
    }
    std::stable_sort(cycles.begin(), cycles.end(),
                     [](const std::vector<Node>& first, const std::vector<Node>& second) {
                         return first.size() > second.size();
                     });
    Patching patching(graph, assignment, rowDuals, columnDuals, candidates);
    patching.start(cycles.front());
    for (std::size_t next = 1; next < cycles.size(); ++next) {
        if (!patching.merge(cycles[next])) {
            return {};
        }
    }
    return std::move(patching).tour();
}

namespace {

// The tour being improved: successor, predecessor and place of every city,
// and the candidate arcs of every city, cheapest reduced cost first.
class ThreeArcExchange {
  public:
    ThreeArcExchange(const Graph& graph, const std::vector<std::int64_t>& rowDuals,
                     const std::vector<std::int64_t>& columnDuals,
                     const std::vector<std::vector<Node>>& candidates, std::vector<Node>& tour)
        : graph(graph),
          rowDuals(rowDuals),
          columnDuals(columnDuals),
          next(tour),
          previous(tour.size()),
          place(tour.size()),
          cheapOut(tour.size()) {
        for (std::size_t city = 0; city < next.size(); ++city) {
            previous[next[city]] = static_cast<Node>(city);
        }
        for (std::size_t row = 0; row < candidates.size(); ++row) {
            for (const Node position : candidates[row]) {
                const Node head = graph.successors(static_cast<Node>(row))[position];
                cheapOut[row].push_back({reducedCost(static_cast<Node>(row), head), head});
            }
            std::sort(cheapOut[row].begin(), cheapOut[row].end());
        }
        numberPlaces();
    }

    void run() {
        const std::size_t n = next.size();
        std::vector<Node> pending(n);
        std::vector<std::uint8_t> isPending(n, 1);
        for (std::size_t city = 0; city < n; ++city) {
            pending[city] = static_cast<Node>(city);
        }
        // A queue of cities to try as a: each in turn, and again whenever a
        // move touched it.
        for (std::size_t front = 0; front < pending.size(); ++front) {
            const Node a = pending[front];
            isPending[a] = 0;
            std::array<Node, 6> touched{};
            if (tryMovesFrom(a, touched)) {
                for (const Node city : touched) {
                    if (!isPending[city]) {
                        isPending[city] = 1;
                        pending.push_back(city);
                    }
                }
            }
        }
    }

  private:
    struct Arc {
        std::int64_t reducedCost;
        Node head;
        bool operator<(const Arc& other) const {
            return reducedCost != other.reducedCost ? reducedCost < other.reducedCost
                                                    : head < other.head;
        }
    };

    std::int64_t reducedCost(Node tail, Node head) const {
        const Node position = graph.arcPosition(tail, head);
        if (position == NoNode) {
            return InfeasibleBound;
        }
        return graph.costs(tail)[position] - rowDuals[tail] - columnDuals[head];
    }

    // Steps from a to `city` along the tour.
    std::size_t stepsFrom(Node a, Node city) const {
        const std::size_t n = next.size();
        return (place[city] + n - place[a]) % n;
    }

    void numberPlaces() {
        Node city = 0;
        for (std::size_t step = 0; step < next.size(); ++step) {
            place[city] = step;
            city = next[city];
        }
    }

    bool tryMovesFrom(Node a, std::array<Node, 6>& touched) {
        const Node aNext = next[a];
        const std::int64_t outOfA = reducedCost(a, aNext);
        for (const Arc& first : cheapOut[a]) {
            const std::int64_t gainAfterFirst = outOfA - first.reducedCost;
            if (gainAfterFirst <= 0) {
                break;
            }
            const Node bNext = first.head;  // a -> b' is the first new arc
            if (bNext == aNext) {
                continue;
            }
            const Node b = previous[bNext];
            const std::size_t stepsToB = stepsFrom(a, b);
            const std::int64_t outOfB = reducedCost(b, bNext);
            for (const Arc& second : cheapOut[b]) {
                const std::int64_t gainAfterSecond = gainAfterFirst + outOfB - second.reducedCost;
                if (gainAfterSecond <= 0) {
                    break;
                }
                const Node cNext = second.head;  // b -> c' is the second
                const Node c = previous[cNext];
                if (cNext == bNext || stepsFrom(a, c) <= stepsToB) {
                    continue;  // c must come after b, before a
                }
                const std::int64_t closing = reducedCost(c, aNext);
                if (closing == InfeasibleBound) {
                    continue;
                }
                if (gainAfterSecond + reducedCost(c, cNext) - closing > 0) {
                    next[a] = bNext;
                    next[b] = cNext;
                    next[c] = aNext;
                    previous[bNext] = a;
                    previous[cNext] = b;
                    previous[aNext] = c;
                    numberPlaces();
                    touched = {a, aNext, b, bNext, c, cNext};
                    return true;
                }
            }
        }
        return false;
    }

    const Graph& graph;
    const std::vector<std::int64_t>& rowDuals;
    const std::vector<std::int64_t>& columnDuals;
    std::vector<Node>& next;
    std::vector<Node> previous;
    std::vector<std::size_t> place;
    std::vector<std::vector<Arc>> cheapOut;
};

}  // namespace

void improveTour(const Graph& graph, const std::vector<std::int64_t>& rowDuals,
                 const std::vector<std::int64_t>& columnDuals,
                 const std::vector<std::vector<Node>>& candidates, std::vector<Node>& tour) {
    if (tour.size() < 3) {
        return;
    }
    ThreeArcExchange exchange(graph, rowDuals, columnDuals, candidates, tour);
    exchange.run();
}

}  // namespace atsp
