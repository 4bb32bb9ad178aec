// The cutting-plane loop that bounds one search node by the LP with subtour
// cuts (the Held-Karp bound of the ATSP when it runs to the end), raised
// further by blossoms and lifted cycle inequalities where heuristics find
// them.
//
// Method. Restrict the LP to the node's arcs (its mask) and solve by warm
// dual simplex. While the solution violates subtour cuts, add them and solve
// again: first the pool's known cuts (measuring a set is cheap), else the
// support's connected components, else the exact minimum-cut separation, and
// the new ones go to the pool as well; where no subtour cut is violated,
// blossoms found by a heuristic, and where none is found either, lifted
// cycle inequalities found by another. When no cut is violated, price arcs
// outside the columns in and solve again while any prices negative; at the
// end no cut is violated beyond the tolerance and no arc prices negative:
// the node's LP is solved. Where the options ask for them, blossoms separated
// exactly then (ExactBlossomSeparation.h) and combs whose teeth are paths
// (CombSeparation.h), and the loop goes on while they find any. Columns
// without a solution get the arcs that break their certificate; one that
// holds over all the node's arcs ends the node as infeasible. The loop also
// ends when the safe bound reaches the cutoff (the incumbent's cost), after a
// number of rounds, at the deadline, or when the LP's stop flag is set
// (LpRelaxation::watchStopFlag). When the LP's value has risen by less than a
// fraction in the last rounds that added cuts (tailing off: the rest is the
// tree's work), no more cuts are separated, but the LP is still solved and
// priced to the end: the safe bound counts every arc that prices negative, so
// stopping with columns unpriced could leave it far below the LP's value,
// even below the assignment bound.
//
// Why the bound cannot exceed the optimum: it is always LpRelaxation's safe
// bound, ceil(L(y)) summed exactly over every arc the mask allows (raised to
// the next cost a tour can have, CostLattice.h), which holds for any duals y
// (LpRelaxation.h), whatever cuts, columns or solver state led to them. Cuts
// only remove non-tours (blossoms, combs and lifted cycles hold for every
// tour: BlossomSeparation.h, CombSeparation.h, LiftedCycleSeparation.h); a
// set and its complement are the same cut. An integral LP solution that is
// one tour is optimal for the node exactly when the bound reaches its cost.
//
// Cost per round: one warm re-solve (a few pivots after a branch, more after
// many cuts), a pass over the support per pooled cut, the separation
// (SubtourSeparation.h), and a pass over the node's arcs when pricing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "assignment/ArcMask.h"
#include "graph/Graph.h"
#include "lp/BlossomSeparation.h"
#include "lp/CombSeparation.h"
#include "lp/CutPool.h"
#include "lp/ExactBlossomSeparation.h"
#include "lp/LiftedCycleSeparation.h"
#include "lp/LpRelaxation.h"
#include "lp/SubtourSeparation.h"

namespace atsp {

struct CuttingPlaneOptions {
    // A cut is violated when its outflow is below 1 - this.
    double violationTolerance = 1e-6;
    std::size_t maxCutsPerRound = 100;
    // Blossoms (BlossomSeparation.h) once no subtour cut is violated; they
    // are not pooled, each LP finds its own.
    bool blossoms = true;
    // Once the LP is solved and priced out and no other cut is violated,
    // blossoms separated exactly (ExactBlossomSeparation.h), on graphs of up
    // to exactBlossomCityLimit cities. Its n - 1 maximum flows take 6 to 30
    // ms a round at n = 316: worth it at a root, whose blossoms the tree's
    // LPs start from (LpRoot.h), not at every node. In 60 s runs from the
    // same tour, tilted-sum-316-1 and -2 ended with gaps of 0.22 and 0.11 %
    // with them at the root, 0.31 and 0.15 % without; separated at every
    // node too they slowed the tree (0.27 and 0.13 %). At n = 1000
    // (tilted-max) they took the root from 3.2 to 20 s for 0.18 % more
    // bound.
    bool exactBlossoms = false;
    // At the same point, combs whose teeth are paths of the support
    // (CombSeparation.h): blossoms separated exactly on the support with its
    // paths of 1 merged, on up to exactBlossomCityLimit cities too. They
    // pay where the instance is symmetric up to potentials (tilted-sum):
    // there the root's gap fell by another third (LpRoot.h, which
    // separates them, and SearchEngine.cpp, which asks the tree for them).
    bool combs = false;
    std::size_t exactBlossomCityLimit = 500;
    // Lifted cycle inequalities (LiftedCycleSeparation.h) once no blossom
    // is found either; also per LP, not pooled.
    bool liftedCycles = true;
    // Arcs priced in per round, and the reduced cost they must fall below.
    std::size_t pricingBatch = 200;
    double pricingTolerance = 1e-9;
    int maxRounds = 1000;
    // Tailing off: the LP value rose by less than tailingOffGain x |value|
    // (at least tailingOffGain) over the last tailingOffRounds cut rounds.
    int tailingOffRounds = 10;
    double tailingOffGain = 1e-5;
    // Cut rows slack in this many optimal solves in a row are dropped when a
    // node starts (0: never).
    int dropSlackAfter = 20;
};

enum class CuttingPlaneStatus {
    Solved,      // no cut violated, no arc prices negative: the node's full LP
    TailedOff,   // stopped early (tailing off, rounds, or the solver gave up)
    CutOff,      // the safe bound reached the cutoff
    Infeasible,  // proven: the mask allows no tour
    Stopped,     // the deadline passed, or a stop was requested
};

struct CuttingPlaneResult {
    CuttingPlaneStatus status = CuttingPlaneStatus::Stopped;
    // A lower bound on every tour the mask allows; InfeasibleBound when
    // there is none. Stopped, the bound of the last solve's duals if their
    // pass over the arcs ends within StoppedBoundGrace of the deadline, else
    // the lowest value: nothing known.
    std::int64_t bound = 0;
    // CLP's value of the last solve; not safe.
    double lpValue = 0;
    // The last optimal solution's support; empty when the last solve was not
    // optimal.
    std::vector<SupportArc> support;
    // The solution in successor form when it is integral and one tour;
    // otherwise empty.
    std::vector<Node> tour;
    int rounds = 0;  // LP solves
    std::size_t cutsAdded = 0;
    std::size_t arcsPriced = 0;
};

class CuttingPlanes {
  public:
    using Clock = LpRelaxation::Clock;

    // Works on `lp` (one per thread) and shares cuts through `pool` (may be
    // null); neither is owned.
    CuttingPlanes(LpRelaxation& lp, CutPool* pool, CuttingPlaneOptions options = {});

    const CuttingPlaneOptions& options() const { return options_; }

    // Bounds the node of `mask` (null: the whole graph). `cutoff`: the
    // incumbent's cost, InfeasibleBound when none. The LP keeps its columns,
    // cuts and basis for the next node.
    CuttingPlaneResult bound(const ArcMask* mask, std::int64_t cutoff = InfeasibleBound,
                             Clock::time_point deadline = Clock::time_point::max());

    // How long past its deadline a stopped loop may spend on the bound of its
    // last duals: the pass over the arcs takes 7 ms at n = 2000 and 40 ms
    // at n = 5000, and a run should end within 0.1 s of its limit.
    static constexpr std::chrono::milliseconds StoppedBoundGrace{50};

  private:
    std::size_t addViolatedCuts(const std::vector<SupportArc>& support);
    // Rows for the blossoms that exact separation finds and for the combs,
    // as far as the options ask for them; returns how many.
    std::size_t addBlossomsAndCombsByFlows(Clock::time_point deadline);
    // `deadline`: that of the loop; a Stopped result's bound gets
    // StoppedBoundGrace beyond it.
    void finish(CuttingPlaneResult& result, CuttingPlaneStatus status, std::int64_t cutoff,
                Clock::time_point deadline);

    LpRelaxation& lp_;
    CutPool* pool_;
    CuttingPlaneOptions options_;
    SubtourSeparation separation_;
    BlossomSeparation blossomSeparation_;
    ExactBlossomSeparation exactBlossomSeparation_;
    CombSeparation combSeparation_;
    LiftedCycleSeparation liftedCycleSeparation_;
};

}  // namespace atsp
