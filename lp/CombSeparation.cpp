#include "lp/CombSeparation.h"

#include <algorithm>
#include <limits>

#include "lp/BlossomSeparation.h"
#include "lp/ExactBlossomSeparation.h"

namespace atsp {

std::vector<Comb> CombSeparation::separate(std::span<const SupportArc> arcs, double tolerance,
                                           Clock::time_point deadline) const {
    const std::size_t n = cityCount_;
    const std::vector<SupportEdge> edges = supportEdges(arcs, n);
    // Merged nodes numbered by their least city.
    const std::vector<std::vector<std::uint32_t>> members = componentsJoinedBy(
        edges, n, [&](const SupportEdge& edge) { return edge.y >= 1 - tolerance; });
    std::vector<std::uint32_t> node(n);
    for (std::uint32_t merged = 0; merged < members.size(); ++merged) {
        for (const std::uint32_t city : members[merged]) {
            node[city] = merged;
        }
    }
    // Nothing merged: the blossoms there are ExactBlossomSeparation's. Under
    // 6 nodes no three disjoint teeth fit.
    if (members.size() == n || members.size() < 6) {
        return {};
    }
    // Half of y each way: the separation measures outflows on arcs, and on
    // these x(out of S) = y(delta(S)) / 2 for every S.
    std::vector<SupportArc> merged;
    for (const SupportEdge& edge : edges) {
        if (node[edge.a] != node[edge.b]) {
            merged.push_back({node[edge.a], node[edge.b], edge.y / 2});
            merged.push_back({node[edge.b], node[edge.a], edge.y / 2});
        }
    }
    const std::vector<Blossom> blossoms =
        ExactBlossomSeparation(members.size()).separate(merged, tolerance, deadline);

    std::vector<Comb> combs;
    constexpr std::uint32_t None = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> toothOf(n, None);
    std::vector<char> inHandle(n, 0);
    for (const Blossom& blossom : blossoms) {
        std::vector<char> used(members.size(), 0);
        bool disjoint = true;
        for (const auto& [inside, outside] : blossom.teeth) {
            for (const std::uint32_t end : {inside, outside}) {
                disjoint = disjoint && used[end] == 0;
                used[end] = 1;
            }
        }
        if (!disjoint) {
            continue;
        }
        Comb comb;
        for (const std::uint32_t handleNode : blossom.handle) {
            comb.handle.insert(comb.handle.end(), members[handleNode].begin(),
                               members[handleNode].end());
        }
        std::sort(comb.handle.begin(), comb.handle.end());
        for (const auto& [inside, outside] : blossom.teeth) {
            std::vector<std::uint32_t> tooth = members[inside];
            tooth.insert(tooth.end(), members[outside].begin(), members[outside].end());
            std::sort(tooth.begin(), tooth.end());
            comb.teeth.push_back(std::move(tooth));
        }
        // One order for one comb: the LP knows its rows by their sets in order.
        std::sort(comb.teeth.begin(), comb.teeth.end());
        // Measured on the arcs as given, whatever the merging assumed.
        std::fill(inHandle.begin(), inHandle.end(), 0);
        std::fill(toothOf.begin(), toothOf.end(), None);
        for (const std::uint32_t city : comb.handle) {
            inHandle[city] = 1;
        }
        for (std::uint32_t tooth = 0; tooth < comb.teeth.size(); ++tooth) {
            for (const std::uint32_t city : comb.teeth[tooth]) {
                toothOf[city] = tooth;
            }
        }
        comb.lhs = 0;
        for (const SupportArc& arc : arcs) {
            if (arc.value <= 0) {
                continue;
            }
            if (inHandle[arc.tail] != 0 && inHandle[arc.head] == 0) {
                comb.lhs += arc.value;
            }
            if (toothOf[arc.tail] != None && toothOf[arc.head] != toothOf[arc.tail]) {
                comb.lhs += arc.value;
            }
        }
        if (comb.lhs < static_cast<double>(comb.rhs()) - tolerance) {
            combs.push_back(std::move(comb));
        }
    }
    sortMostViolatedFirst(combs);
    return combs;
}

}  // namespace atsp
