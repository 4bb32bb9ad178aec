// Instances and references for the LP tests: the cost families, graphs with
// arcs taken out, and masks made as a search makes them (every tour of a
// small graph comes from testing_support::allTours).
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "assignment/ArcMask.h"
#include "graph/Graph.h"
#include "lp/BlossomSeparation.h"
#include "lp/CuttingPlanes.h"
#include "lp/LpRelaxation.h"
#include "lp/SubtourSeparation.h"
#include "tests/support/TestGraphs.h"

namespace atsp::lp_testing {

using testing_support::Rows;

struct CostFamily {
    std::string name;
    std::int32_t lowest;
    std::int32_t highest;
    // Above 0: every tour's cost in one class modulo this step
    // (testing_support::latticeMatrix, multiples up to `highest`), so bounds
    // round up by whole steps and a wrong class shows as a bound above a tour.
    std::int32_t latticeStep = 0;
};

// Ties (many equal optima, degenerate LPs), a wide range, negative costs,
// costs near the 32-bit limits whose sums need 64 bits, and costs on a
// lattice.
inline const std::vector<CostFamily>& costFamilies() {
    static const std::vector<CostFamily> families{{"ties", 0, 3},
                                                  {"wide", 0, 1000000},
                                                  {"negative", -50, 50},
                                                  {"extreme", -2000000000, 2000000000},
                                                  {"lattice", 0, 20, 1000}};
    return families;
}

// A random complete graph of the family, with each arc then dropped with
// probability `dropped` (rows may end up empty).
inline Rows randomRows(std::mt19937_64& random, int n, const CostFamily& family,
                       double dropped = 0) {
    Rows rows = testing_support::completeRows(
        family.latticeStep > 0
            ? testing_support::latticeMatrix(random, n, family.latticeStep, family.highest)
            : testing_support::randomMatrix(random, n, family.lowest, family.highest));
    std::bernoulli_distribution drop(dropped);
    for (std::size_t row = 0; row < rows.heads.size(); ++row) {
        std::vector<Node> heads;
        std::vector<std::int32_t> costs;
        for (std::size_t k = 0; k < rows.heads[row].size(); ++k) {
            if (!drop(random)) {
                heads.push_back(rows.heads[row][k]);
                costs.push_back(rows.costs[row][k]);
            }
        }
        rows.heads[row] = heads;
        rows.costs[row] = costs;
    }
    return rows;
}

struct Arc {
    Node tail;
    Node head;
};

// A node's constraints as a search makes them: forced arcs with distinct
// tails and heads (arcs of one random tour that the graph holds), and
// forbidden arcs that are not forced.
struct Constraints {
    std::vector<Arc> forced;
    std::vector<Arc> forbidden;
};

inline Constraints randomConstraints(std::mt19937_64& random, const Rows& rows, int forcedCount,
                                     int forbiddenCount) {
    const int n = static_cast<int>(rows.heads.size());
    Constraints constraints;
    if (n < 2) {
        return constraints;
    }
    const std::vector<Node> tour = testing_support::randomTour(random, n);
    std::vector<int> tails(n);
    std::iota(tails.begin(), tails.end(), 0);
    std::shuffle(tails.begin(), tails.end(), random);
    for (const int tail : tails) {
        if (static_cast<int>(constraints.forced.size()) == forcedCount) {
            break;
        }
        const std::vector<Node>& heads = rows.heads[tail];
        if (std::find(heads.begin(), heads.end(), tour[tail]) != heads.end()) {
            constraints.forced.push_back({static_cast<Node>(tail), tour[tail]});
        }
    }
    for (int k = 0; k < forbiddenCount; ++k) {
        const Node tail = static_cast<Node>(random() % n);
        if (rows.heads[tail].empty()) {
            continue;
        }
        const Node head = rows.heads[tail][random() % rows.heads[tail].size()];
        const bool isForced =
            std::any_of(constraints.forced.begin(), constraints.forced.end(),
                        [&](const Arc& arc) { return arc.tail == tail && arc.head == head; });
        if (!isForced) {
            constraints.forbidden.push_back({tail, head});
        }
    }
    return constraints;
}

using testing_support::positionIn;

inline void applyConstraints(const Constraints& constraints, const Rows& rows, ArcMask& mask) {
    for (const Arc& arc : constraints.forced) {
        mask.force(arc.tail, arc.head, positionIn(rows, arc.tail, arc.head));
    }
    for (const Arc& arc : constraints.forbidden) {
        mask.forbid(arc.tail, arc.head);
    }
}

// The rows with the arcs the constraints take out erased: what a mask shows.
inline Rows maskedRows(const Rows& rows, const Constraints& constraints) {
    const std::size_t n = rows.heads.size();
    std::vector<Node> forcedHead(n, NoNode);
    std::vector<bool> headTaken(n, false);
    for (const Arc& arc : constraints.forced) {
        forcedHead[arc.tail] = arc.head;
        headTaken[arc.head] = true;
    }
    Rows masked;
    masked.heads.resize(n);
    masked.costs.resize(n);
    for (std::size_t tail = 0; tail < n; ++tail) {
        for (std::size_t k = 0; k < rows.heads[tail].size(); ++k) {
            const Node head = rows.heads[tail][k];
            const bool forbidden =
                std::any_of(constraints.forbidden.begin(), constraints.forbidden.end(),
                            [&](const Arc& arc) { return arc.tail == tail && arc.head == head; });
            const bool allowed = forcedHead[tail] != NoNode ? head == forcedHead[tail]
                                                            : !headTaken[head] && !forbidden;
            if (allowed) {
                masked.heads[tail].push_back(head);
                masked.costs[tail].push_back(rows.costs[tail][k]);
            }
        }
    }
    return masked;
}

using testing_support::allTours;
using testing_support::Tour;

// A tour's arcs at value 1, as a support.
inline std::vector<SupportArc> tourArcs(const Tour& tour) {
    std::vector<SupportArc> arcs;
    for (std::size_t tail = 0; tail < tour.successors.size(); ++tail) {
        arcs.push_back({static_cast<std::uint32_t>(tail), tour.successors[tail], 1.0});
    }
    return arcs;
}

// x(out of S) over the arcs.
inline double outflow(const std::vector<SupportArc>& arcs, const std::vector<std::uint32_t>& set,
                      std::size_t n) {
    std::vector<char> in(n, 0);
    for (const std::uint32_t city : set) {
        in[city] = 1;
    }
    double sum = 0;
    for (const SupportArc& arc : arcs) {
        if (in[arc.tail] != 0 && in[arc.head] == 0) {
            sum += arc.value;
        }
    }
    return sum;
}

// The least x(out of S) over every proper subset S of the cities.
inline double leastOutflow(const std::vector<SupportArc>& arcs, std::size_t n) {
    double least = std::numeric_limits<double>::infinity();
    for (std::uint32_t set = 1; set + 1 < (1u << n); ++set) {
        double sum = 0;
        for (const SupportArc& arc : arcs) {
            if ((set >> arc.tail & 1u) != 0 && (set >> arc.head & 1u) == 0) {
                sum += arc.value;
            }
        }
        least = std::min(least, sum);
    }
    return least;
}

// A blossom's left-hand side straight from the comb form: x(out of H) plus
// each tooth's x(out of {u, v}), whatever the separation measured.
inline double blossomLhs(const std::vector<SupportArc>& arcs, const Blossom& blossom,
                         std::size_t n) {
    double sum = outflow(arcs, blossom.handle, n);
    for (const auto& [inside, outside] : blossom.teeth) {
        sum += outflow(arcs, {inside, outside}, n);
    }
    return sum;
}

// The textbook blossom: triangles 0 1 2 and 3 4 5 at 1/2 each way round,
// joined by 0-3, 1-4 and 2-5 at 1/2 each way. Every degree is 1 and every
// subtour cut holds (the least outflow is 1), but with either triangle for
// handle and the joining edges for teeth, x(out of H) + the teeth's
// outflows is 3/2 + 3 against the blossom's 5.
inline std::vector<SupportArc> twoTrianglesJoinedByThreeEdges() {
    std::vector<SupportArc> arcs;
    for (const std::uint32_t base : {0u, 3u}) {
        for (std::uint32_t k = 0; k < 3; ++k) {
            arcs.push_back({base + k, base + (k + 1) % 3, 0.5});
        }
    }
    for (std::uint32_t k = 0; k < 3; ++k) {
        arcs.push_back({k, k + 3, 0.5});
        arcs.push_back({k + 3, k, 0.5});
    }
    return arcs;
}

// Half-integral points made of odd cycles at 1/2 joined in pairs by paths
// at 1 (1/2 each way): where blossoms live, and combs once a path is a
// tooth. Mixed with a tour on two trials in three, the values leave 1/2 and
// 1, so the parity of a blossom's teeth is no longer given. n >= 6; the
// trial picks the cycles' sizes and the mixing.
inline std::vector<SupportArc> oddCyclesJoinedByPaths(std::mt19937_64& random, std::size_t n,
                                                      int trial) {
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), random);
    // Two odd cycles of 3, or of 3 and 5 when there is room for both.
    const std::size_t second = n >= 8 && trial % 2 == 0 ? 5 : 3;
    const std::vector<std::vector<std::uint32_t>> cycles{
        {order.begin(), order.begin() + 3}, {order.begin() + 3, order.begin() + 3 + second}};
    std::vector<SupportArc> point;
    std::vector<std::uint32_t> ends;
    for (const std::vector<std::uint32_t>& cycle : cycles) {
        for (std::size_t k = 0; k < cycle.size(); ++k) {
            point.push_back({cycle[k], cycle[(k + 1) % cycle.size()], 0.5});
            ends.push_back(cycle[k]);
        }
    }
    std::shuffle(ends.begin(), ends.end(), random);
    std::vector<std::uint32_t> inner(order.begin() + 3 + second, order.end());
    for (std::size_t pair = 0; pair < ends.size() / 2; ++pair) {
        std::vector<std::uint32_t> path{ends[2 * pair]};
        // The cities left over go into the first path.
        if (pair == 0) {
            path.insert(path.end(), inner.begin(), inner.end());
        }
        path.push_back(ends[2 * pair + 1]);
        for (std::size_t k = 0; k + 1 < path.size(); ++k) {
            point.push_back({path[k], path[k + 1], 0.5});
            point.push_back({path[k + 1], path[k], 0.5});
        }
    }
    const double share = trial % 3 == 0 ? 1.0 : 0.6 + 0.1 * (trial % 4);
    std::vector<SupportArc> support;
    for (const SupportArc& arc : point) {
        support.push_back({arc.tail, arc.head, arc.value * share});
    }
    if (share < 1) {
        std::vector<std::uint32_t> tour(n);
        std::iota(tour.begin(), tour.end(), 0u);
        std::shuffle(tour.begin(), tour.end(), random);
        for (std::size_t k = 0; k < n; ++k) {
            support.push_back({tour[k], tour[(k + 1) % n], 1 - share});
        }
    }
    return support;
}

// The support of the graph's LP with subtour cuts alone, solved to the end
// from each city's two cheapest arcs: the fractional points the heuristic
// separations meet first. Empty when the loop ends otherwise.
inline std::vector<SupportArc> subtourLpSupport(const Graph& graph) {
    LpRelaxation lp(graph);
    lp.addCheapestArcs(2);
    CuttingPlaneOptions options;
    options.blossoms = false;
    options.liftedCycles = false;
    CuttingPlanes loop(lp, nullptr, options);
    if (loop.bound(nullptr).status != CuttingPlaneStatus::Solved) {
        return {};
    }
    return lp.support();
}

}  // namespace atsp::lp_testing
