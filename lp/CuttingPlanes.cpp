#include "lp/CuttingPlanes.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace atsp {

namespace {

// The successors of an integral support when they form one tour through all
// `n` cities; otherwise empty.
std::vector<Node> tourOf(const std::vector<SupportArc>& support, std::size_t n) {
    std::vector<Node> successor(n, NoNode);
    for (const SupportArc& arc : support) {
        if (arc.value > 0.5) {
            if (successor[arc.tail] != NoNode) {
                return {};
            }
            successor[arc.tail] = static_cast<Node>(arc.head);
        }
    }
    std::size_t city = 0;
    for (std::size_t step = 0; step < n; ++step) {
        if (successor[city] == NoNode) {
            return {};
        }
        city = successor[city];
        if (city == 0 && step + 1 < n) {
            return {};
        }
    }
    return city == 0 ? successor : std::vector<Node>{};
}

}  // namespace

CuttingPlanes::CuttingPlanes(LpRelaxation& lp, CutPool* pool, CuttingPlaneOptions options)
    : lp_(lp),
      pool_(pool),
      options_(options),
      separation_(lp.cityCount()),
      blossomSeparation_(lp.cityCount()),
      exactBlossomSeparation_(lp.cityCount()),
      combSeparation_(lp.cityCount()),
      liftedCycleSeparation_(lp.cityCount()) {}

std::size_t CuttingPlanes::addViolatedCuts(const std::vector<SupportArc>& support) {
    if (pool_ != nullptr) {
        const std::vector<SubtourCut> known =
            pool_->violated(support, options_.violationTolerance, options_.maxCutsPerRound);
        // Rows the LP already has are skipped; only new ones save a separation.
        if (const std::size_t added = lp_.addCuts(known); added > 0) {
            return added;
        }
    }
    std::vector<SubtourCut> cuts = separation_.components(support);
    if (cuts.empty()) {
        cuts = separation_.exact(support, options_.violationTolerance);
    }
    if (cuts.empty()) {
        // Only once no subtour cut is violated: a blossom's teeth and handle
        // are read off a support that meets them all. Lifted cycles only
        // once no blossom is found either: in the same rounds, theirs often
        // leave the LP's value where it is, count towards tailing off, and
        // end the loop before the blossoms have done their work (measured
        // on symmetric instances in disguise, where lifted cycles add little).
        std::size_t added = 0;
        if (options_.blossoms) {
            const std::vector<Blossom> blossoms =
                blossomSeparation_.separate(support, options_.violationTolerance);
            added += lp_.addBlossoms(std::span(blossoms).first(
                std::min(blossoms.size(), options_.maxCutsPerRound)));
        }
        if (options_.liftedCycles && added == 0) {
            added = lp_.addLiftedCycles(liftedCycleSeparation_.separate(
                support, options_.violationTolerance, options_.maxCutsPerRound));
        }
        return added;
    }
    if (cuts.size() > options_.maxCutsPerRound) {
        cuts.resize(options_.maxCutsPerRound);
    }
    const std::size_t added = lp_.addCuts(cuts);
    if (pool_ != nullptr) {
        pool_->add(cuts);
    }
    return added;
}

std::size_t CuttingPlanes::addBlossomsAndCombsByFlows(Clock::time_point deadline) {
    if (!(options_.exactBlossoms || options_.combs) ||
        lp_.cityCount() > options_.exactBlossomCityLimit) {
        return 0;
    }
    // Both read the same support; the LP is not solved in between.
    const std::vector<SupportArc> support = lp_.support();
    std::size_t added = 0;
    if (options_.exactBlossoms) {
        const std::vector<Blossom> blossoms =
            exactBlossomSeparation_.separate(support, options_.violationTolerance, deadline);
        added += lp_.addBlossoms(
            std::span(blossoms).first(std::min(blossoms.size(), options_.maxCutsPerRound)));
    }
    if (options_.combs) {
        const std::vector<Comb> combs =
            combSeparation_.separate(support, options_.violationTolerance, deadline);
        added +=
            lp_.addCombs(std::span(combs).first(std::min(combs.size(), options_.maxCutsPerRound)));
    }
    return added;
}

void CuttingPlanes::finish(CuttingPlaneResult& result, CuttingPlaneStatus status,
                           std::int64_t cutoff, Clock::time_point deadline) {
    Clock::time_point boundBy = Clock::time_point::max();
    if (status == CuttingPlaneStatus::Stopped &&
        deadline < Clock::time_point::max() - StoppedBoundGrace) {
        boundBy = deadline + StoppedBoundGrace;
    }
    result.bound = lp_.safeBound(boundBy);
    result.lpValue = lp_.objective();
    if (result.bound == InfeasibleBound) {
        result.status = CuttingPlaneStatus::Infeasible;
    } else if (cutoff != InfeasibleBound && result.bound >= cutoff) {
        result.status = CuttingPlaneStatus::CutOff;
    } else {
        result.status = status;
    }
    if (lp_.status() == LpStatus::Optimal && result.status != CuttingPlaneStatus::Infeasible) {
        result.support = lp_.support();
        if (lp_.isIntegral()) {
            result.tour = tourOf(result.support, lp_.cityCount());
        }
    }
}

CuttingPlaneResult CuttingPlanes::bound(const ArcMask* mask, std::int64_t cutoff,
                                        Clock::time_point deadline) {
    CuttingPlaneResult result;
    if (options_.dropSlackAfter > 0) {
        lp_.dropSlackCuts(options_.dropSlackAfter);
    }
    if (mask != nullptr) {
        lp_.setAllowedArcs(*mask);
    } else {
        lp_.allowAllArcs();
    }
    // The LP's values after the rounds that added cuts, since the last
    // pricing (which may lower it: the columns grew).
    std::vector<double> values;
    const auto outOfTime = [&] { return Clock::now() >= deadline || lp_.stopRequested(); };
    // Adds the arcs that price negative as columns; true when any did. A
    // pass cut short by the deadline adds none: what follows must look at
    // outOfTime before it takes "none" for "none price negative".
    const auto priceArcsIn = [&] {
        const std::size_t priced =
            lp_.priceArcs(options_.pricingBatch, options_.pricingTolerance, deadline);
        result.arcsPriced += priced;
        if (priced > 0) {
            values.clear();
        }
        return priced > 0;
    };
    bool useCutoff = true;
    bool tailedOff = false;
    for (;;) {
        if (result.rounds >= options_.maxRounds) {
            finish(result, CuttingPlaneStatus::TailedOff, cutoff, deadline);
            return result;
        }
        ++result.rounds;
        const LpStatus status = lp_.solve(useCutoff ? cutoff : InfeasibleBound, deadline);
        if (status == LpStatus::Infeasible || status == LpStatus::CutOff) {
            const std::int64_t bound = lp_.safeBound();
            if (bound == InfeasibleBound || (cutoff != InfeasibleBound && bound >= cutoff)) {
                finish(result, CuttingPlaneStatus::CutOff, cutoff, deadline);
                return result;
            }
            // Arcs outside the columns break the ray's or the duals' verdict.
            if (priceArcsIn()) {
                continue;
            }
            if (outOfTime()) {
                finish(result, CuttingPlaneStatus::Stopped, cutoff, deadline);
                return result;
            }
            if (status == LpStatus::CutOff && useCutoff) {
                // CLP's value passed the cutoff, the safe bound not quite:
                // solve the LP out.
                useCutoff = false;
                continue;
            }
            finish(result, CuttingPlaneStatus::TailedOff, cutoff, deadline);
            return result;
        }
        if (status == LpStatus::Stopped) {
            finish(result,
                   outOfTime() ? CuttingPlaneStatus::Stopped : CuttingPlaneStatus::TailedOff,
                   cutoff, deadline);
            return result;
        }
        const std::size_t added = tailedOff ? 0 : addViolatedCuts(lp_.support());
        if (added > 0) {
            result.cutsAdded += added;
            values.push_back(lp_.objective());
            const std::size_t window = static_cast<std::size_t>(options_.tailingOffRounds);
            if (window > 0 && values.size() > window) {
                const double gain = values.back() - values[values.size() - 1 - window];
                const double enough =
                    options_.tailingOffGain * std::max(1.0, std::abs(values.back()));
                if (gain < enough) {
                    // No more cuts, but the LP is still solved out and priced:
                    // the safe bound counts every arc that prices negative,
                    // so duals of unpriced columns can leave it far below
                    // the LP's value.
                    tailedOff = true;
                }
            }
            if (outOfTime()) {
                finish(result, CuttingPlaneStatus::Stopped, cutoff, deadline);
                return result;
            }
            continue;
        }
        if (priceArcsIn()) {
            continue;
        }
        if (outOfTime()) {
            finish(result, CuttingPlaneStatus::Stopped, cutoff, deadline);
            return result;
        }
        // The LP of every arc, no cut the other separations find violated:
        // only now exact blossoms and combs. Before pricing is done the LP
        // over the columns lies above it, and its violations are partly the
        // missing columns': separated there, they raised the value by so
        // little a round that the loop tailed off early, below the bound it
        // reaches without them (measured on the 316-city tilted families). A
        // separation the deadline cut short finds none.
        if (!tailedOff) {
            if (const std::size_t added = addBlossomsAndCombsByFlows(deadline); added > 0) {
                result.cutsAdded += added;
                values.push_back(lp_.objective());
                continue;
            }
            if (outOfTime()) {
                finish(result, CuttingPlaneStatus::Stopped, cutoff, deadline);
                return result;
            }
        }
        finish(result, tailedOff ? CuttingPlaneStatus::TailedOff : CuttingPlaneStatus::Solved,
               cutoff, deadline);
        return result;
    }
}

}  // namespace atsp
