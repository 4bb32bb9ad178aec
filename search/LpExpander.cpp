#include "search/LpExpander.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <utility>

#include "graph/Tour.h"
#include "search/Subproblem.h"
#include "tours/SupportTour.h"

namespace atsp {

LpExpander::LpExpander(const Graph& graph, CostLattice lattice,
                       const std::vector<LpArc>& seedColumns, const CutRows& seedCuts,
                       CutPool& pool, PseudoCosts& pseudoCosts, const CuttingPlaneOptions& options,
                       Round& round, bool edgeBranching)
    : graph(graph),
      mask(graph.cityCount()),
      lp(graph, lattice),
      planes(lp, &pool, options),
      round(round),
      edgeBranching(edgeBranching),
      pseudoCosts(pseudoCosts) {
    const auto seed = [&](LpRelaxation& relaxation) {
        relaxation.addArcs(seedColumns);
        relaxation.addCutRows(seedCuts);
        relaxation.watchStopFlag(round.stop.requested);
    };
    seed(lp);
    if (round.diveTime.share > 0) {
        diveLp = std::make_unique<DiveLp>(graph, lattice, options);
        seed(diveLp->lp);
    }
}

std::size_t LpExpander::estimatedNodeBytes(std::size_t cityCount, std::size_t columns) {
    // The basis's three vector headers and the shared_ptr's control block.
    constexpr std::size_t basisOverheadBytes = 128;
    const std::size_t tightCutRows = cityCount;  // about one per city (see the header)
    const std::size_t basisBytes = columns + 2 * cityCount +
                                   tightCutRows * sizeof(decltype(LpBasis::tightCuts)::value_type) +
                                   basisOverheadBytes;
    // Shared by two children at least: half of it per node.
    return NodeOverheadBytes + basisBytes / 2;
}

void LpExpander::expand(std::unique_ptr<LpSubproblem> node,
                        std::vector<std::unique_ptr<LpSubproblem>>& open) {
    round.reportIfDue();
    round.walkFromIncumbent();
    lastBest = round.bestNow();
    if (node->lowerBound >= lastBest) {
        return;
    }
    expanded.add(1);
    mask.clear();
    node->constraints.applyTo(mask);
    const LpRelaxation::Clock::time_point deadline = round.monitor != nullptr
                                                         ? round.monitor->deadline()
                                                         : LpRelaxation::Clock::time_point::max();
    if (node->parentBasis != nullptr) {
        lp.restoreBasis(*node->parentBasis);
        node->parentBasis.reset();
    }
    const CuttingPlaneResult result = planes.bound(&mask, lastBest, deadline);
    // The LP's own tour, or one read off its solution.
    std::vector<Node> tour = tourOfSolution(graph, result.tour, result.support);
    if (const std::optional<std::int64_t> cost = tourCost(graph, tour); cost && *cost < lastBest) {
        round.offer(tour, *cost);
        lastBest = round.bestNow();
    }
    node->lowerBound = std::max(node->lowerBound, result.bound);
    if (node->branch.tail != NoNode && (result.status == CuttingPlaneStatus::Solved ||
                                        result.status == CuttingPlaneStatus::TailedOff)) {
        recordRise(node->branch.tail, node->branch.head, node->branch.forced, node->branch.movement,
                   result.lpValue - node->branch.parentValue);
    }
    if (result.status == CuttingPlaneStatus::Stopped) {
        open.push_back(std::move(node));
        return;
    }
    if (node->lowerBound >= lastBest || result.status == CuttingPlaneStatus::Infeasible) {
        return;
    }
    const std::optional<ConstraintChain> fixedConstraints = fixArcs(node->constraints);
    if (!fixedConstraints) {
        return;
    }
    const ConstraintChain& constraints = *fixedConstraints;
    const BranchArc arc = chooseArc(result.support, result.lpValue, deadline);
    if (arc.tail == NoNode) {
        offerOnlyAssignment();
        return;
    }
    const auto basis = std::make_shared<const LpBasis>(lp.basis());
    auto forbidding = std::make_unique<LpSubproblem>();
    forbidding->lowerBound = node->lowerBound;
    forbidding->constraints = constraints.withForbidden(arc.tail, arc.head);
    auto forcing = std::make_unique<LpSubproblem>();
    forcing->lowerBound = node->lowerBound;
    forcing->constraints =
        constraints.withForced(arc.tail, arc.head, graph.arcPosition(arc.tail, arc.head));
    forbidding->branch = {arc.tail, arc.head, false, arc.forbiddenValue, result.lpValue};
    forcing->branch = {arc.tail, arc.head, true, 1 - arc.value, result.lpValue};
    forbidding->parentBasis = forcing->parentBasis = basis;
    if (forbidsPair(arc.tail, arc.head)) {
        // A tour of three or more cities uses i -> j, j -> i or neither,
        // never both: the forbidding child loses the reverse too, and a
        // third child forces it. Its pseudocosts are those of forcing the
        // reverse arc; the forbidding child's rise is the pair's.
        const double reverseValue = arc.forbiddenValue - arc.value;
        const std::pair<Node, Node> pair[] = {{arc.tail, arc.head}, {arc.head, arc.tail}};
        forbidding->constraints = constraints.withForbidden(pair);
        // Forbidding both ways keeps a mirrored node's tours mirrored; the
        // child that forces the reverse is then the forcing one's mirror.
        forbidding->mirrored = node->mirrored;
        if (!node->mirrored) {
            auto reverse = std::make_unique<LpSubproblem>();
            reverse->lowerBound = node->lowerBound;
            reverse->constraints =
                constraints.withForced(arc.head, arc.tail, graph.arcPosition(arc.head, arc.tail));
            reverse->branch = {arc.head, arc.tail, true, 1 - reverseValue, result.lpValue};
            reverse->parentBasis = basis;
            created.add(1);
            open.push_back(std::move(reverse));
        }
    }
    created.add(2);
    if (arc.forceFirst) {
        open.push_back(std::move(forcing));
        open.push_back(std::move(forbidding));
    } else {
        open.push_back(std::move(forbidding));
        open.push_back(std::move(forcing));
    }
    if (!diveLp) {
        return;
    }
    if (const auto now = std::chrono::steady_clock::now(); round.startDive(now)) {
        dive(result.support, deadline);
        round.endDive(now);
    }
}

// A dive: the arcs the LP holds at 1 are forced, and the fractional arc of
// largest value, the dive's LP is solved with its cuts, and so on until its
// solution is a tour (some 10 to 60 solves at n = 316), which the local search
// improves before the incumbent sees it.
//
// Why. Best-first search takes up no node above the least bound while one is
// left there, and the tree's own tours come from nodes near that bound. Where
// tours cost multiples of a large step (a town of one-way streets:
// CostLattice.h) the whole level of the root's bound is searched before any
// node of the next, where the optimal tour may lie, and without it the
// fixing against the incumbent leaves the level's nodes far more arcs. A dive
// goes down at once, and the nearly integral LP solutions it passes give the
// local search starts that its kicks do not reach from the incumbent.
void LpExpander::dive(std::vector<SupportArc> support, LpRelaxation::Clock::time_point deadline) {
    constexpr double integral = 1 - FractionalTolerance;
    while (!round.stop.holds()) {
        const SupportArc* largest = nullptr;
        for (const SupportArc& arc : support) {
            if (arc.value > FractionalTolerance && arc.value < integral &&
                (largest == nullptr || arc.value > largest->value) && allows(arc.tail, arc.head)) {
                largest = &arc;
            }
        }
        if (largest == nullptr) {
            return;  // integral, so the LP's tour, or no arc the mask still lets force
        }
        for (const SupportArc& arc : support) {
            if (arc.value >= integral && allows(arc.tail, arc.head)) {
                mask.force(arc.tail, arc.head, graph.arcPosition(arc.tail, arc.head));
            }
        }
        mask.force(largest->tail, largest->head, graph.arcPosition(largest->tail, largest->head));
        // No cutoff: a dive that rises past the incumbent still ends in a
        // tour, a start for the local search.
        CuttingPlaneResult result = diveLp->planes.bound(&mask, InfeasibleBound, deadline);
        if (!result.tour.empty()) {
            if (std::optional<std::int64_t> cost = tourCost(graph, result.tour)) {
                if (round.localSearch != nullptr) {
                    cost = round.localSearch->improve(result.tour, *cost, round.localSearchLimits);
                }
                round.offerAsItIs(result.tour, *cost);
                lastBest = round.bestNow();
            }
            return;
        }
        if (result.status == CuttingPlaneStatus::Stopped ||
            result.status == CuttingPlaneStatus::Infeasible) {
            return;
        }
        support = std::move(result.support);
    }
}

// Reduced-cost fixing against the best tour: arcs on no cheaper tour below
// the node are forbidden, and arcs on every one forced, in the mask (so that
// branching sees them) and in the chain the children extend. All forbidden
// arcs go into one record. A row's last allowed arc on no cheaper tour (its
// forced arc, say) leaves the node none. A forced arc whose row or column
// already has one forced here is left out: two such arcs would mean no
// cheaper tour at all, which the children's LPs then prove, and the mask
// takes at most one.
std::optional<ConstraintChain> LpExpander::fixArcs(const ConstraintChain& constraints) {
    const FixedArcs fixed = lp.reducedCostFixing(lastBest);
    std::vector<std::pair<Node, Node>> forbidden;
    forbidden.reserve(fixed.forbidden.size());
    for (const LpArc& arc : fixed.forbidden) {
        if (mask.allowedArcs(arc.tail, graph.successors(arc.tail), 2) < 2) {
            return std::nullopt;
        }
        const Node head = graph.successors(arc.tail)[arc.position];
        forbidden.emplace_back(arc.tail, head);
        mask.forbid(arc.tail, head);
    }
    ConstraintChain fixedChain = constraints.withForbidden(forbidden);
    std::vector<char> rowForced(fixed.forced.empty() ? 0 : graph.cityCount(), 0);
    std::vector<char> columnForced(rowForced.size(), 0);
    for (const LpArc& arc : fixed.forced) {
        const Node head = graph.successors(arc.tail)[arc.position];
        if (rowForced[arc.tail] != 0 || columnForced[head] != 0) {
            continue;
        }
        rowForced[arc.tail] = columnForced[head] = 1;
        fixedChain = fixedChain.withForced(arc.tail, head, arc.position);
        mask.force(arc.tail, head, arc.position);
    }
    return fixedChain;
}

bool LpExpander::forbidsPair(Node tail, Node head) const {
    return edgeBranching && graph.cityCount() >= 3 && allows(head, tail);
}

// Under edge branching every forbidding child forbids an arc with its
// reverse, or one whose reverse the node forbids already: either way the
// edge, whichever way it was chosen, so its rise counts for both.
void LpExpander::recordRise(Node tail, Node head, bool forced, double movement, double rise) {
    pseudoCosts.record(tail, head, forced, movement, rise);
    if (edgeBranching && !forced) {
        pseudoCosts.record(head, tail, forced, movement, rise);
    }
}

bool LpExpander::allows(Node tail, Node head) const {
    const Node position = graph.arcPosition(tail, head);
    const ArcMask::RowScan arcs = mask.scan(tail, graph.rowLength(tail));
    return position != NoNode && position >= arcs.begin && position < arcs.end &&
           !mask.blocked(head, arcs.stamp);
}

// Every row down to one arc: the node allows one assignment at most, which
// is a tour or not.
void LpExpander::offerOnlyAssignment() {
    std::vector<Node> successors(graph.cityCount(), NoNode);
    for (Node row = 0; row < graph.cityCount(); ++row) {
        const ArcMask::RowScan arcs = mask.scan(row, graph.rowLength(row));
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (!mask.blocked(graph.successors(row)[k], arcs.stamp)) {
                successors[row] = graph.successors(row)[k];
            }
        }
    }
    if (isSingleCycle(successors)) {
        if (const std::optional<std::int64_t> cost = tourCost(graph, successors)) {
            round.offer(successors, *cost);
        }
    }
}

LpExpander::BranchArc LpExpander::chooseArc(const std::vector<SupportArc>& support, double lpValue,
                                            LpRelaxation::Clock::time_point deadline) {
    // The support's values by arc, to read an arc's reverse: only edge
    // branching asks (forbidsPair is false without it).
    std::vector<std::pair<std::uint64_t, double>> values;
    if (edgeBranching) {
        values.reserve(support.size());
        for (const SupportArc& arc : support) {
            values.emplace_back(std::uint64_t{arc.tail} << 32 | arc.head, arc.value);
        }
        std::sort(values.begin(), values.end());
    }
    const auto valueOf = [&](Node tail, Node head) {
        const std::uint64_t key = std::uint64_t{tail} << 32 | head;
        const auto found = std::lower_bound(values.begin(), values.end(),
                                            std::pair<std::uint64_t, double>{key, -1.0});
        return found != values.end() && found->first == key ? found->second : 0.0;
    };
    // BranchArc::forbiddenValue of the arc of value `value`.
    const auto forbiddenValue = [&](Node tail, Node head, double value) {
        return value + (forbidsPair(tail, head) ? valueOf(head, tail) : 0);
    };
    // The candidates: arcs of rows that still have a choice (a forced arc's
    // row is down to it: branching on it again would make a child without
    // tours and one equal to the node), nearest 1/2 first. Under edge
    // branching, edges whose values summed both ways are fractional, each
    // by its heavier arc (ties: the lower tail), nearest 1/2 by that sum:
    // the forbidding child moves the sum, and an edge whose arcs sum to 1,
    // halves or not, is one the solution uses whole. Without such edges, or
    // without edge branching, arcs whose own value is fractional.
    std::vector<BranchArc> candidates;
    const auto addCandidate = [&](Node tail, Node head, double value) {
        if (allows(tail, head) && mask.allowedArcs(tail, graph.successors(tail), 2) >= 2) {
            const double forbidden = forbiddenValue(tail, head, value);
            candidates.push_back({tail, head, value, forbidden >= 0.5, forbidden});
        }
    };
    if (edgeBranching) {
        for (const SupportArc& arc : support) {
            const auto tail = static_cast<Node>(arc.tail);
            const auto head = static_cast<Node>(arc.head);
            const double reverse = valueOf(head, tail);
            if ((arc.value > reverse || (arc.value == reverse && tail < head)) &&
                arc.value + reverse < 1 - FractionalTolerance) {
                addCandidate(tail, head, arc.value);
            }
        }
    }
    const bool byEdges = !candidates.empty();
    if (!byEdges) {
        for (const SupportArc& arc : support) {
            if (arc.value < 1 - FractionalTolerance) {
                addCandidate(static_cast<Node>(arc.tail), static_cast<Node>(arc.head), arc.value);
            }
        }
    }
    const auto nearerHalf = [byEdges](const BranchArc& first, const BranchArc& second) {
        const double firstDistance = std::abs((byEdges ? first.forbiddenValue : first.value) - 0.5);
        const double secondDistance =
            std::abs((byEdges ? second.forbiddenValue : second.value) - 0.5);
        if (firstDistance != secondDistance) {
            return firstDistance < secondDistance;
        }
        return first.tail != second.tail ? first.tail < second.tail : first.head < second.head;
    };
    std::sort(candidates.begin(), candidates.end(), nearerHalf);
    if (candidates.size() > StrongCandidates) {
        candidates.resize(StrongCandidates);
    }
    if (candidates.size() > 1) {
        // The arc whose weaker child rises most, by the product of both
        // children's rises: estimated by strong branching, or for an arc
        // whose rises have been seen often enough, by its pseudocosts.
        std::vector<LpRelaxation::BranchEstimate> estimates(candidates.size());
        std::vector<std::size_t> strongOnes;
        std::vector<LpArc> strongArcs;
        std::vector<LpArc> partners;
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            const BranchArc& candidate = candidates[k];
            if (const std::optional<PseudoCosts::Rates> rates = pseudoCosts.reliableRates(
                    candidate.tail, candidate.head, PseudoCostReliability)) {
                estimates[k].down = lpValue + candidate.forbiddenValue * rates->forbidden;
                estimates[k].up = lpValue + (1 - candidate.value) * rates->forced;
            } else {
                strongOnes.push_back(k);
                strongArcs.push_back(
                    {candidate.tail, graph.arcPosition(candidate.tail, candidate.head)});
                partners.push_back(
                    forbidsPair(candidate.tail, candidate.head)
                        ? LpArc{candidate.head, graph.arcPosition(candidate.head, candidate.tail)}
                        : LpArc{NoNode, 0});
            }
        }
        const std::vector<LpRelaxation::BranchEstimate> strong =
            strongArcs.empty()
                ? std::vector<LpRelaxation::BranchEstimate>{}
                : lp.estimateBranches(strongArcs, StrongIterations, lastBest, deadline, partners);
        for (std::size_t j = 0; j < strongOnes.size(); ++j) {
            const BranchArc& candidate = candidates[strongOnes[j]];
            estimates[strongOnes[j]] = strong[j];
            // An infinite estimate (a child without tours, or cut off) has no
            // rise per unit; NaN is an arc the deadline left unreached.
            if (std::isfinite(strong[j].down)) {
                recordRise(candidate.tail, candidate.head, false, candidate.forbiddenValue,
                           strong[j].down - lpValue);
            }
            if (std::isfinite(strong[j].up)) {
                recordRise(candidate.tail, candidate.head, true, 1 - candidate.value,
                           strong[j].up - lpValue);
            }
        }
        std::size_t bestCandidate = 0;
        double bestScore = -1;
        // An arc left unreached scores as not rising (NaN compares false).
        const auto rise = [&](double estimate) {
            return estimate - lpValue > 1e-6 ? estimate - lpValue : 1e-6;
        };
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            const double down = rise(estimates[k].down);
            const double up = rise(estimates[k].up);
            const double score = std::min(down, 1e9) * std::min(up, 1e9);
            if (score > bestScore) {
                bestScore = score;
                bestCandidate = k;
                // The child whose LP stays lower is searched first.
                candidates[k].forceFirst = up < down;
            }
        }
        return candidates[bestCandidate];
    }
    if (!candidates.empty()) {
        return candidates.front();
    }
    // An integral solution that is no tour the bound could prune: an arc of
    // it whose row still has a choice.
    for (const SupportArc& arc : support) {
        const auto tail = static_cast<Node>(arc.tail);
        if (allows(tail, static_cast<Node>(arc.head)) &&
            mask.allowedArcs(tail, graph.successors(tail), 2) >= 2) {
            const auto head = static_cast<Node>(arc.head);
            return {tail, head, arc.value, true, forbiddenValue(tail, head, arc.value)};
        }
    }
    // No support to go by (the solver gave up on the node's LP), or all of it
    // forced: the first arc of the first row that still has a choice.
    for (Node row = 0; row < graph.cityCount(); ++row) {
        const ArcMask::RowScan arcs = mask.scan(row, graph.rowLength(row));
        std::size_t allowed = 0;
        Node first = NoNode;
        for (std::size_t k = arcs.begin; k < arcs.end; ++k) {
            if (!mask.blocked(graph.successors(row)[k], arcs.stamp)) {
                first = first == NoNode ? graph.successors(row)[k] : first;
                ++allowed;
            }
        }
        if (allowed >= 2) {
            return {row, first, 0, false, 0};
        }
    }
    return {};  // every row down to one arc: no arc to branch on
}

}  // namespace atsp
