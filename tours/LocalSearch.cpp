#include "tours/LocalSearch.h"

#include <algorithm>
#include <optional>
#include <random>
#include <utility>

namespace atsp {

namespace {

// A rewritten stretch of places, to be undone: `length` places from `start`
// (cyclically) were rotated left by `shift`, or reversed.
struct Rotation {
    std::size_t start;
    std::size_t length;
    std::size_t shift;
    bool reversed = false;
};

bool byReducedCost(const LocalSearch::Neighbour& a, const LocalSearch::Neighbour& b) {
    return a.reducedCost != b.reducedCost ? a.reducedCost < b.reducedCost : a.city < b.city;
}

}  // namespace

LocalSearch::LocalSearch(const Graph& graph, const std::vector<std::int64_t>& rowDuals,
                         const std::vector<std::int64_t>& columnDuals,
                         const std::vector<std::vector<Node>>& candidates)
    : graph(graph),
      rowDuals(rowDuals),
      columnDuals(columnDuals),
      outgoing(graph.cityCount()),
      incoming(graph.cityCount()) {
    for (std::size_t row = 0; row < candidates.size() && row < graph.cityCount(); ++row) {
        const Node tail = static_cast<Node>(row);
        for (const Node position : candidates[row]) {
            const Node head = graph.successors(tail)[position];
            const std::int64_t reduced =
                graph.costs(tail)[position] - rowDuals[tail] - columnDuals[head];
            outgoing[tail].push_back({reduced, head});
            incoming[head].push_back({reduced, tail});
        }
    }
    for (auto* lists : {&outgoing, &incoming}) {
        for (std::vector<Neighbour>& list : *lists) {
            std::sort(list.begin(), list.end(), byReducedCost);
        }
    }
}

void LocalSearch::allowReversals(std::vector<std::int64_t> potentials) {
    reversalPotentials = std::move(potentials);
}

// One call's working state: the tour as an array of cities and each city's
// place in it, the queue of cities to try, and the log of rewritten stretches
// since the last tour kept.
class LocalSearchRun {
  public:
    LocalSearchRun(const LocalSearch& search, const std::vector<Node>& tour, std::uint64_t seed)
        : search(search),
          n(tour.size()),
          order(n),
          place(n),
          queued(n, 0),
          scratch(n),
          random(seed) {
        Node city = 0;
        for (std::size_t step = 0; step < n; ++step) {
            order[step] = city;
            place[city] = step;
            city = tour[city];
        }
    }

    // Moves until none from a queued city improves the tour; returns the gain.
    std::int64_t descend() {
        std::int64_t gain = 0;
        while (!queue.empty()) {
            const Node city = queue.back();
            queue.pop_back();
            queued[city] = 0;
            const std::int64_t step = improveFrom(city);
            if (step > 0) {
                gain += step;
                enqueue(city);
            }
        }
        return gain;
    }

    void enqueueAll() {
        for (std::size_t step = n; step-- > 0;) {
            enqueue(order[step]);
        }
    }

    // A double bridge on three short stretches after a random place; returns
    // the change of cost (positive: dearer), or nothing when the graph lacks
    // one of its arcs. Its cities are queued.
    std::optional<std::int64_t> kick() {
        // Stretches of up to 10 cities: longer ones gave worse tours, slower,
        // on the structured families at n = 100 and 316.
        const std::size_t longest = std::min<std::size_t>(10, (n - 2) / 3);
        std::uniform_int_distribution<std::size_t> anyPlace(0, n - 1);
        std::uniform_int_distribution<std::size_t> anyLength(1, longest);
        const std::size_t start = anyPlace(random);
        const std::size_t lengthB = anyLength(random);
        const std::size_t lengthC = anyLength(random);
        const std::size_t lengthD = anyLength(random);
        const Node a = cityAt(start);
        const Node b1 = cityAt(start + 1);
        const Node b2 = cityAt(start + lengthB);
        const Node c1 = cityAt(start + lengthB + 1);
        const Node c2 = cityAt(start + lengthB + lengthC);
        const Node d1 = cityAt(start + lengthB + lengthC + 1);
        const Node d2 = cityAt(start + lengthB + lengthC + lengthD);
        const Node e = cityAt(start + lengthB + lengthC + lengthD + 1);
        const std::int64_t added[4] = {cost(a, d1), cost(d2, c1), cost(c2, b1), cost(b2, e)};
        std::int64_t change = -cost(a, b1) - cost(b2, c1) - cost(c2, d1) - cost(d2, e);
        for (const std::int64_t arc : added) {
            if (arc == InfeasibleBound) {
                return std::nullopt;
            }
            change += arc;
        }
        swapAdjacent(b1, lengthB, lengthC);            // A C B D
        swapAdjacent(c1, lengthC + lengthB, lengthD);  // A D C B
        for (const Node city : {a, b1, b2, c1, c2, d1, d2, e}) {
            enqueue(city);
        }
        return change;
    }

    void reseed(std::uint64_t seed) { random.seed(seed); }

    // Keeps the tour as it is now, or goes back to the one last kept.
    void keep() { log.clear(); }
    void undo() {
        for (auto rotation = log.rbegin(); rotation != log.rend(); ++rotation) {
            if (rotation->reversed) {
                reverse(rotation->start, rotation->length, false);
            } else {
                rotate(rotation->start, rotation->length, rotation->length - rotation->shift,
                       false);
            }
        }
        log.clear();
        for (const Node city : queue) {
            queued[city] = 0;
        }
        queue.clear();
    }

    void writeTo(std::vector<Node>& tour) const {
        for (std::size_t step = 0; step < n; ++step) {
            tour[order[step]] = order[step + 1 == n ? 0 : step + 1];
        }
    }

  private:
    Node next(Node city) const { return order[place[city] + 1 == n ? 0 : place[city] + 1]; }
    Node previous(Node city) const { return order[place[city] == 0 ? n - 1 : place[city] - 1]; }
    Node cityAt(std::size_t step) const { return order[step % n]; }
    // Steps from `from` forward to `city`.
    std::size_t stepsFrom(Node from, Node city) const {
        return place[city] >= place[from] ? place[city] - place[from]
                                          : place[city] + n - place[from];
    }

    std::int64_t cost(Node tail, Node head) const {
        const Node position = search.graph.arcPosition(tail, head);
        return position == NoNode ? InfeasibleBound : search.graph.costs(tail)[position];
    }
    std::int64_t reducedCost(Node tail, Node head) const {
        const std::int64_t arc = cost(tail, head);
        return arc == InfeasibleBound ? InfeasibleBound
                                      : arc - search.rowDuals[tail] - search.columnDuals[head];
    }

    void enqueue(Node city) {
        if (!queued[city]) {
            queued[city] = 1;
            queue.push_back(city);
        }
    }

    // The stretch of `lengthFirst` cities from `first` and the stretch of
    // `lengthSecond` right after it trade places. Of the three equivalent
    // rewrites (the third stretch being the rest of the cycle) the shortest
    // is made.
    void swapAdjacent(Node first, std::size_t lengthFirst, std::size_t lengthSecond) {
        const std::size_t lengthRest = n - lengthFirst - lengthSecond;
        const std::size_t start = place[first];
        if (lengthRest == 0) {
            return;  // the whole cycle, turned: the same tour
        }
        if (lengthFirst + lengthSecond <= lengthRest + std::max(lengthFirst, lengthSecond)) {
            rotate(start, lengthFirst + lengthSecond, lengthFirst, true);
        } else if (lengthFirst <= lengthSecond) {
            // the second stretch and the rest trade places instead
            rotate(start + lengthFirst, lengthSecond + lengthRest, lengthSecond, true);
        } else {
            // the rest and the first stretch trade places instead
            rotate(start + lengthFirst + lengthSecond, lengthRest + lengthFirst, lengthRest, true);
        }
    }

    void rotate(std::size_t start, std::size_t length, std::size_t shift, bool logged) {
        start %= n;
        for (std::size_t k = 0; k < length; ++k) {
            scratch[k] = order[(start + k) % n];
        }
        std::rotate(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(shift),
                    scratch.begin() + static_cast<std::ptrdiff_t>(length));
        for (std::size_t k = 0; k < length; ++k) {
            const std::size_t step = (start + k) % n;
            order[step] = scratch[k];
            place[scratch[k]] = step;
        }
        if (logged) {
            log.push_back({start, length, shift});
        }
    }

    // Reverses `length` places from `start` (cyclically).
    void reverse(std::size_t start, std::size_t length, bool logged) {
        start %= n;
        for (std::size_t k = 0; k < length / 2; ++k) {
            const std::size_t front = (start + k) % n;
            const std::size_t back = (start + length - 1 - k) % n;
            std::swap(order[front], order[back]);
            place[order[front]] = front;
            place[order[back]] = back;
        }
        if (logged) {
            log.push_back({start, length, 0, true});
        }
    }

    // The best improving move found from `city`, made; its gain, or 0.
    std::int64_t improveFrom(Node city) {
        std::int64_t gain = segmentSwapFrom(city);
        if (gain <= 0 && !search.reversalPotentials.empty()) {
            gain = twoOptFrom(city);
        }
        return gain > 0 ? gain : orOptFrom(city);
    }

    // a -> b, c -> d become a -> c, b -> d, b..c driven backwards, with
    // `city` in any of the four places: a new arc to or from it among its
    // neighbours. Gains are weighed in the symmetric costs
    // s(x, y) = 2 c(x, y) + q(y) - q(x), s(x, y) = s(y, x), in which the
    // move gains twice what it gains in costs; one of its two new arcs is
    // cheaper there than the arc it replaces at the same city, so the
    // neighbours of every place are tried, without a cut-off by their order.
    std::int64_t twoOptFrom(Node city) {
        const std::vector<std::int64_t>& q = search.reversalPotentials;
        const auto symmetric = [&](Node x, Node y) {
            const std::int64_t arc = cost(x, y);
            return arc == InfeasibleBound ? InfeasibleBound : 2 * arc + q[y] - q[x];
        };
        const auto tryMove = [&](Node a, Node c) -> std::int64_t {
            const Node b = next(a);
            const Node d = next(c);
            if (c == a || c == b || d == a) {
                return 0;  // no move, or the whole tour turned round
            }
            const std::int64_t ac = symmetric(a, c);
            const std::int64_t bd = symmetric(b, d);
            if (ac == InfeasibleBound || bd == InfeasibleBound) {
                return 0;
            }
            const std::int64_t twice = symmetric(a, b) + symmetric(c, d) - ac - bd;
            if (twice <= 0) {
                return 0;
            }
            // Reversing the rest, d..a, instead gives the same tour driven
            // backwards, which costs the same.
            const std::size_t stretch = stepsFrom(b, c) + 1;
            if (stretch <= n - stretch) {
                reverse(place[b], stretch, true);
            } else {
                reverse(place[d], n - stretch, true);
            }
            for (const Node touched : {a, b, c, d}) {
                enqueue(touched);
            }
            return twice / 2;
        };
        for (const LocalSearch::Neighbour& neighbour : search.outgoing[city]) {
            // city = a, the new a -> c; city = b, the new b -> d.
            if (const std::int64_t gain = tryMove(city, neighbour.city)) {
                return gain;
            }
            if (const std::int64_t gain = tryMove(previous(city), previous(neighbour.city))) {
                return gain;
            }
        }
        for (const LocalSearch::Neighbour& neighbour : search.incoming[city]) {
            // city = c, the new a -> c; city = d, the new b -> d.
            if (const std::int64_t gain = tryMove(neighbour.city, city)) {
                return gain;
            }
            if (const std::int64_t gain = tryMove(previous(neighbour.city), previous(city))) {
                return gain;
            }
        }
        return 0;
    }

    // a -> a', b -> b', c -> c' become a -> b', b -> c', c -> a'.
    std::int64_t segmentSwapFrom(Node a) {
        const Node aNext = next(a);
        const std::int64_t outOfA = reducedCost(a, aNext);
        for (const LocalSearch::Neighbour& first : search.outgoing[a]) {
            const std::int64_t gainAfterFirst = outOfA - first.reducedCost;
            if (gainAfterFirst <= 0) {
                break;
            }
            const Node bNext = first.city;
            if (bNext == aNext || bNext == a) {
                continue;
            }
            const Node b = previous(bNext);
            const std::size_t stepsToB = stepsFrom(a, b);
            const std::int64_t outOfB = reducedCost(b, bNext);
            for (const LocalSearch::Neighbour& second : search.outgoing[b]) {
                const std::int64_t gainAfterSecond = gainAfterFirst + outOfB - second.reducedCost;
                if (gainAfterSecond <= 0) {
                    break;
                }
                const Node cNext = second.city;
                if (cNext == bNext || stepsFrom(a, cNext) <= stepsToB + 1) {
                    if (cNext != a) {
                        continue;  // c' must come after b', up to a
                    }
                }
                const Node c = previous(cNext);
                const std::int64_t closing = reducedCost(c, aNext);
                if (closing == InfeasibleBound) {
                    continue;
                }
                const std::int64_t gain = gainAfterSecond + reducedCost(c, cNext) - closing;
                if (gain > 0) {
                    // a' .. b and b' .. c trade places
                    swapAdjacent(aNext, stepsToB, stepsFrom(bNext, c) + 1);
                    for (const Node touched : {aNext, b, bNext, c, cNext}) {
                        enqueue(touched);
                    }
                    return gain;
                }
            }
        }
        return 0;
    }

    // The segment of 1 to 3 cities that starts at `first` moves between x
    // and y = next(x), where x -> first or last -> y is a neighbour arc.
    std::int64_t orOptFrom(Node first) {
        const Node before = previous(first);
        Node last = first;
        for (std::size_t length = 1; length <= 3 && length + 2 < n; ++length) {
            if (length > 1) {
                last = next(last);
            }
            const Node after = next(last);
            const std::int64_t removed = reducedCost(before, first) + reducedCost(last, after);
            const std::int64_t bridge = reducedCost(before, after);
            if (bridge == InfeasibleBound) {
                continue;
            }
            const std::int64_t gainOfLifting = removed - bridge;
            for (const LocalSearch::Neighbour& in : search.incoming[first]) {
                if (gainOfLifting - in.reducedCost <= 0) {
                    break;
                }
                if (const std::int64_t gain =
                        tryInsert(first, last, length, gainOfLifting, in.city)) {
                    return gain;
                }
            }
            for (const LocalSearch::Neighbour& out : search.outgoing[last]) {
                if (gainOfLifting - out.reducedCost <= 0) {
                    break;
                }
                if (const std::int64_t gain =
                        tryInsert(first, last, length, gainOfLifting, previous(out.city))) {
                    return gain;
                }
            }
        }
        return 0;
    }

    // Moves first..last (`length` cities) between x and next(x) when that
    // gains; the gain, or 0.
    std::int64_t tryInsert(Node first, Node last, std::size_t length, std::int64_t gainOfLifting,
                           Node x) {
        const Node before = previous(first);
        if (x == before || stepsFrom(first, x) < length) {
            return 0;  // x in the segment, or no move
        }
        const Node y = next(x);
        const std::int64_t in = reducedCost(x, first);
        const std::int64_t out = reducedCost(last, y);
        if (in == InfeasibleBound || out == InfeasibleBound) {
            return 0;
        }
        const std::int64_t gain = gainOfLifting + reducedCost(x, y) - in - out;
        if (gain <= 0) {
            return 0;
        }
        const Node after = next(last);
        if (stepsFrom(after, x) < stepsFrom(y, before)) {
            swapAdjacent(first, length, stepsFrom(after, x) + 1);  // forward, behind x
        } else {
            swapAdjacent(y, stepsFrom(y, before) + 1, length);  // back, behind x
        }
        for (const Node touched : {before, first, last, after, x, y}) {
            enqueue(touched);
        }
        return gain;
    }

    const LocalSearch& search;
    const std::size_t n;
    std::vector<Node> order;
    std::vector<std::size_t> place;
    std::vector<std::uint8_t> queued;
    std::vector<Node> queue;
    std::vector<Node> scratch;
    std::vector<Rotation> log;
    std::mt19937_64 random;
};

namespace {

bool outOfTime(const LocalSearchLimits& limits) {
    return (limits.stop && limits.stop()) || std::chrono::steady_clock::now() >= limits.deadline;
}

// Kicks `run`, whose tour costs `cost` and is a local optimum, until the
// limits end it; returns the cost of its tour then.
std::int64_t kickUntilStuck(LocalSearchRun& run, std::int64_t cost,
                            const LocalSearchLimits& limits) {
    std::size_t fruitless = 0;
    std::size_t allowed = std::min(limits.kicksWithoutGain, limits.patience);
    for (std::size_t kicks = 1; fruitless < allowed && cost > limits.lowerBound; ++kicks) {
        if (outOfTime(limits)) {
            break;
        }
        ++fruitless;
        const std::optional<std::int64_t> change = run.kick();
        if (!change) {
            continue;
        }
        const std::int64_t kicked = cost + *change - run.descend();
        if (kicked <= cost) {
            if (kicked < cost) {
                fruitless = 0;
                allowed = std::min(limits.kicksWithoutGain, limits.patience + kicks);
            }
            cost = kicked;
            run.keep();
        } else {
            run.undo();
        }
    }
    return cost;
}

}  // namespace

std::int64_t LocalSearch::improve(std::vector<Node>& tour, std::int64_t cost,
                                  const LocalSearchLimits& limits) const {
    const std::size_t n = tour.size();
    if (n < 3 || n != graph.cityCount() || cost <= limits.lowerBound) {
        return cost;
    }
    LocalSearchRun start(*this, tour, limits.seed);
    start.enqueueAll();
    const std::int64_t descended = cost - start.descend();
    start.keep();
    start.writeTo(tour);
    // A double bridge needs three stretches and a city outside them.
    if (n < 5 || limits.kicksWithoutGain == 0) {
        return descended;
    }
    std::int64_t best = descended;
    for (std::size_t run = 0, fruitless = 0; fruitless <= limits.runsWithoutGain; ++run) {
        LocalSearchRun kicked = start;
        kicked.reseed(limits.seed + run);
        const std::int64_t found = kickUntilStuck(kicked, descended, limits);
        if (found < best) {
            best = found;
            kicked.writeTo(tour);
            fruitless = 0;
        } else {
            ++fruitless;
        }
        // Where one run's kicks gained nothing, other seeds' will not either.
        if (found == descended || best <= limits.lowerBound || outOfTime(limits)) {
            break;
        }
    }
    return best;
}

std::vector<std::vector<Node>> cheapestReducedCostArcs(const Graph& graph,
                                                       const std::vector<std::int64_t>& rowDuals,
                                                       const std::vector<std::int64_t>& columnDuals,
                                                       std::size_t perRow) {
    std::vector<std::vector<Node>> positions(graph.cityCount());
    std::vector<std::pair<std::int64_t, Node>> row;
    for (std::size_t tail = 0; tail < graph.cityCount(); ++tail) {
        const Node city = static_cast<Node>(tail);
        row.clear();
        const auto heads = graph.successors(city);
        const auto costs = graph.costs(city);
        for (std::size_t k = 0; k < heads.size(); ++k) {
            row.push_back(
                {costs[k] - rowDuals[tail] - columnDuals[heads[k]], static_cast<Node>(k)});
        }
        const std::size_t kept = std::min(perRow, row.size());
        std::partial_sort(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(kept), row.end());
        for (std::size_t k = 0; k < kept; ++k) {
            positions[tail].push_back(row[k].second);
        }
    }
    return positions;
}

}  // namespace atsp
