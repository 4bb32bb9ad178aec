// The ATSP's linear relaxation on a graph, solved by COIN-OR CLP, and a lower
// bound from it that holds whatever the floating-point solver got wrong.
//
// The LP. x(a) in [0, 1] for arcs a; rows: out-degree 1 and in-degree 1 at
// every city (rows i and n + i), then cuts: subtour cuts x(out of S) >= 1,
// each over its side (CutPool.h), at most half the cities, and blossoms
// (BlossomSeparation.h), x(out of H) + the teeth's outflows >= (3t + 1) / 2,
// and lifted cycle inequalities (LiftedCycleSeparation.h), written as
// -(their left-hand side) >= 1 - k. Every cut row is a sum of outflows of
// sets plus integer multiples of single arcs, >= an integer b; CLP holds each
// set in the sparser of two forms equal under the out-degree rows (Cut), and
// what follows reads A and b as CLP holds them. Columns are arcs added
// on demand (a sparse start, then pricing); a node's mask gives blocked
// columns the upper bound 0. Re-solves start from the last basis: dual
// simplex after new rows or bounds (the basis stays dual feasible, boxed
// columns always can be), primal simplex after new columns alone.
//
// The safe bound. For any multipliers y, free on the degree rows and >= 0 on
// the cut rows, and reduced costs r(a) = c(a) - y . A(a),
//     L(y) = y . b + sum over the arcs a the mask allows of min(0, r(a))
// bounds every tour x the mask allows: c . x = y . A x + r . x, where y . A x
// >= y . b (degree rows hold with equality, cut rows hold for every tour in
// either form and their y are >= 0) and r . x >= sum min(0, r) (0 <= x <= 1).
// Columns or not, every allowed arc is in the sum. The last solve's duals are
// rounded to multiples of 2^-30 (cut duals clipped at 0) and L is summed
// exactly in 128-bit integers from the 32-bit costs; tours cost integers, so
// ceil(L) bounds them too, and so does the least cost >= L in the residue
// class that every tour of the graph costs (CostLattice.h; on most instances
// that is ceil(L) itself). Nothing trusts the LP's value: bad duals only
// weaken the bound. At optimal duals with no allowed arc pricing negative, L
// is the LP value.
//
// Infeasibility. Multipliers r prove that no x in [0, 1] meets the rows when
// G(r) = r . b + sum over allowed a of min(0, -r . A(a)) > 0, for then
// L(y + t r) >= L(y) + t G(r) grows without limit. r is CLP's ray, else the
// duals of the phase-one LP (least violation of the rows), whichever proves
// the columns infeasible; scaled to integers, G is summed exactly over all
// allowed arcs, and arcs that break it are what pricing adds. A row or column
// without allowed arcs, or L above every row's costliest arc summed, proves it
// as well.
//
// Reduced-cost fixing. A tour that uses an allowed arc a with r(a) > 0 costs
// at least L + r(a); one that avoids an arc with r(a) < 0 at least L - r(a).
//
// Cost: a solve is CLP's; the bound, pricing and fixing are a pass over all
// allowed arcs, O(m) plus the squared sizes of the cuts with a positive dual
// and their single arcs.
// One object per thread: CLP models are independent, this one is not shared.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <unordered_set>
#include <utility>
#include <vector>

#include "assignment/ArcMask.h"
#include "graph/CostLattice.h"
#include "graph/Graph.h"
#include "lp/BlossomSeparation.h"
#include "lp/CombSeparation.h"
#include "lp/CutPool.h"
#include "lp/LiftedCycleSeparation.h"
#include "lp/SubtourSeparation.h"

class ClpSimplex;

namespace atsp {

// An arc by its place in the graph: entry `position` of row `tail`.
struct LpArc {
    Node tail;
    Node position;
    bool operator==(const LpArc&) const = default;
};

enum class LpStatus {
    Optimal,     // optimal over the columns
    Infeasible,  // the columns admit no solution (the graph's arcs may)
    CutOff,      // the dual objective passed the cutoff
    Stopped,     // the deadline, or CLP gave up: no verdict
};

// Cut rows of each kind, as the LP takes them.
struct CutRows {
    std::vector<SubtourCut> subtours;
    std::vector<Blossom> blossoms;  // combs whose teeth are all pairs
    std::vector<Comb> combs;        // the others
    std::vector<LiftedCycle> liftedCycles;
};

// A basis of one LpRelaxation, kept to warm-start a later solve of the same LP
// (LpRelaxation::restoreBasis) after other solves have moved it: CLP's status
// of every column and degree row, and of the cut rows whose slack is not
// basic, by their ids, as rows come and go between the two. What the LP has
// gained since (columns: at 0; cut rows: slack basic) extends it to a basis
// again, but for one basic variable too many per tight cut row dropped
// meanwhile (the row goes, the variable basic in its place stays), which the
// solve repairs.
struct LpBasis {
    std::uint64_t owner = 0;            // the LP's id; 0: none
    std::vector<std::uint8_t> columns;  // in column order
    std::vector<std::uint8_t> degreeRows;
    std::vector<std::pair<std::uint64_t, std::uint8_t>> tightCuts;  // by id, ascending
};

// Arcs that reduced-cost fixing takes out of every tour cheaper than a bound.
struct FixedArcs {
    std::vector<LpArc> forbidden;  // on no such tour
    std::vector<LpArc> forced;     // on every such tour
};

class LpRelaxation {
  public:
    using Clock = std::chrono::steady_clock;

    // The degree rows of the graph (not owned; it must outlive this), no
    // columns, no cuts, every arc allowed. Nothing is solved.
    explicit LpRelaxation(const Graph& graph);
    // The same with the lattice of the graph's tours given, CostLattice(graph):
    // a pass over every arc that each thread's LP of one graph need not repeat.
    LpRelaxation(const Graph& graph, CostLattice lattice);
    ~LpRelaxation();
    LpRelaxation(LpRelaxation&&) noexcept;
    LpRelaxation& operator=(LpRelaxation&&) noexcept;
    LpRelaxation(const LpRelaxation&) = delete;
    LpRelaxation& operator=(const LpRelaxation&) = delete;

    const Graph& graph() const { return *graph_; }
    std::size_t cityCount() const { return n_; }
    std::size_t columnCount() const { return columns_.size(); }
    std::size_t cutCount() const { return cuts_.size(); }

    // Columns. Adds the arcs not yet columns, with their cut coefficients and
    // the current mask's bound; returns how many. Positions must lie in
    // their rows (std::out_of_range otherwise).
    std::size_t addArcs(std::span<const LpArc> arcs);
    // The `perCity` cheapest arcs out of each city and into each city (ties:
    // lower tail, then first in the row); returns how many were new. None
    // once `deadline` has passed (looked at every 64 rows of the pass over
    // all arcs, 60 ms at n = 5000).
    std::size_t addCheapestArcs(std::size_t perCity,
                                Clock::time_point deadline = Clock::time_point::max());
    bool hasColumn(LpArc arc) const;
    const std::vector<LpArc>& columns() const { return columns_; }

    // Cut rows for the given sets (their outflow is not read). Sets whose
    // side is already a row, or has fewer than two cities, are skipped;
    // returns how many rows were added. Throws as `cutSide` does.
    std::size_t addCuts(std::span<const SubtourCut> cuts);
    // Rows for the given blossoms, skipping those the LP already has; returns
    // how many were added. Throws std::invalid_argument for a city out of
    // range (as addCombs does).
    std::size_t addBlossoms(std::span<const Blossom> blossoms);
    // Rows for the given combs, skipping those the LP already has (a comb
    // whose teeth are pairs is the blossom's row); returns how many were
    // added. Throws std::invalid_argument for an empty set or a city out of
    // range; the sets' shape is the caller's (CombSeparation.h).
    std::size_t addCombs(std::span<const Comb> combs);
    // The cut rows by kind, each kind in row order (measured values 0).
    // They are written in terms of cities, so they hold on any graph of the
    // same cities: another LP can start from them (addCutRows).
    CutRows cutRows() const;
    // Adds the rows the LP does not have yet, as addCuts, addBlossoms,
    // addCombs and addLiftedCycles do; returns how many.
    std::size_t addCutRows(const CutRows& rows);
    // Rows for the given lifted cycle inequalities, skipping those the LP
    // already has; returns how many were added. Each must have 3 to n - 1
    // distinct cities (std::invalid_argument otherwise): with n it would cut
    // off the tour along its cycle.
    std::size_t addLiftedCycles(std::span<const LiftedCycle> cycles);
    // The side each cut row is written over, in row order. (A blossom's
    // first set is its handle; a lifted cycle has none: empty.)
    const std::vector<std::uint32_t>& cutSideOf(std::size_t cut) const {
        static const std::vector<std::uint32_t> none;
        return cuts_[cut].sets.empty() ? none : cuts_[cut].sets.front();
    }
    // Deletes the cut rows whose slack was basic and positive at each of the
    // last `solves` optimal solves (and still is basic); returns how many.
    std::size_t dropSlackCuts(int solves);

    // The node's restrictions: columns the mask blocks get the upper bound
    // 0, the others 1, and pricing, the bound and fixing see only the arcs it
    // allows. The mask is not owned and must not change until the next call
    // of either; allowAllArcs lifts it.
    void setAllowedArcs(const ArcMask& mask);
    void allowAllArcs();

    // The current basis, and a return to one this LP had: the next solve
    // starts from it by dual simplex. Only a start: any basis, even a
    // singular one (CLP repairs it), leaves solve() exact. A basis of
    // another LP is ignored: false.
    LpBasis basis() const;
    bool restoreBasis(const LpBasis& basis);

    // Simplex from the current basis (see the header). Dual simplex stops
    // once its objective passes U + 1/2, U the greatest cost below the cutoff
    // that a tour can have (CostLattice.h; cutoff - 1 on most instances), as
    // no tour below the cutoff costs more (CutOff; InfeasibleBound: no
    // cutoff); either
    // stops at the deadline (Stopped). With n <= 1 there are no rows:
    // Optimal, value 0. Without columns: Infeasible, CLP is not called.
    LpStatus solve(std::int64_t cutoff = InfeasibleBound,
                   Clock::time_point deadline = Clock::time_point::max());
    // Another thread's request to stop (null: none). Once `*flag` is set, a
    // solve returns Stopped, within one simplex iteration when it is running.
    // The flag must outlive the solves.
    void watchStopFlag(const std::atomic<bool>* flag);
    bool stopRequested() const {
        return stopFlag_ != nullptr && stopFlag_->load(std::memory_order_relaxed);
    }

    LpStatus status() const { return status_; }
    // CLP's objective of the last solve: over the columns, not safe.
    double objective() const { return objective_; }
    // Columns with x > 1e-9, as graph tail and head.
    std::vector<SupportArc> support() const;
    // Whether every column's x lies within 1e-6 of 0 or 1.
    bool isIntegral() const;

    // ceil(L(y)) for the last solve's duals y (see the header), raised into
    // the residue class of the graph's tour costs, or
    // InfeasibleBound once no tour is allowed, as proven by the last solve's
    // certificate or by the checks above. Valid for every tour the mask allows,
    // whatever the solver's accuracy; the duals of an earlier mask serve too.
    // Computed once per solve and mask. Past `deadline` (looked at every 64
    // rows of its pass over all arcs) it gives up: the lowest value, not
    // kept.
    std::int64_t safeBound(Clock::time_point deadline = Clock::time_point::max());

    // Adds as columns the allowed arcs, not yet columns, of the most negative
    // reduced costs below -tolerance under the last duals, most negative
    // first, at most two out of and two into each city, up to `maxCount`.
    // After an infeasible solve: by its certificate instead (the arcs that
    // break it), or without one the cheapest allowed arcs. Returns how many:
    // none once `deadline` has passed, looked at as safeBound does.
    std::size_t priceArcs(std::size_t maxCount, double tolerance = 1e-9,
                          Clock::time_point deadline = Clock::time_point::max());

    // Strong branching: for each arc, the LP values of the two children
    // (the arc's upper bound 0, its lower bound 1), each estimated by at most
    // `iterations` pivots of dual simplex from the last optimal basis on a
    // copy of the LP, whose value is then still a bound on that child's LP. A
    // child the pivots prove infeasible or cut off at `cutoff` gets +inf. For
    // choosing an arc only: the values are floating point, never a prune.
    // NaN (not estimated) for an arc that is no column, and for the arcs not
    // reached when the deadline passes or a stop is requested (a child's
    // pivots stop then too): any number could be a child's true value, 0 and
    // negative ones included.
    struct BranchEstimate {
        double down = std::numeric_limits<double>::quiet_NaN();
        double up = std::numeric_limits<double>::quiet_NaN();
    };
    // `partners`, k-th for k-th: an arc that the child forbidding the k-th
    // arc forbids as well, as edge branching forbids an arc's reverse with
    // it. None where the span ends or the partner's tail is NoNode; a
    // partner that is no column is at 0 already.
    std::vector<BranchEstimate> estimateBranches(
        std::span<const LpArc> arcs, int iterations, std::int64_t cutoff,
        Clock::time_point deadline = Clock::time_point::max(),
        std::span<const LpArc> partners = {});

    // With U = upperBound, the allowed arcs that lie on no tour cheaper than
    // U (L + r above the greatest tour cost below U, r > 0) and those that
    // lie on every such tour (L - r above it, r < 0), exact under the
    // rounded duals of `safeBound`. A row's only allowed arc is never listed
    // as forced. None when safeBound() >= U: then there is no such tour.
    // None either once `deadline` passes: its two passes over the arcs take
    // a tenth of a second at n = 2000, and a search must end within a tenth
    // of one of its limit.
    FixedArcs reducedCostFixing(std::int64_t upperBound,
                                Clock::time_point deadline = Clock::time_point::max());

    // For each row, the positions of its `perRow` allowed arcs of least
    // reduced cost under the last solve's duals, least first (ties: first in
    // the row): the arcs a good tour is likely to use, cut duals counted.
    // Any duals rank them (an infeasible solve's too; before the first
    // solve, zeros: by cost). Lists are empty where the sums overflow, and
    // once `deadline` passes.
    std::vector<std::vector<Node>> leastReducedCostArcs(
        std::size_t perRow, Clock::time_point deadline = Clock::time_point::max()) const;

  private:
    // The row sum over `sets` of x(out of set) + sum over `arcs` of
    // coefficient x(arc) >= rhs. CLP holds each set S in the form with fewer
    // of the columns at the time the row is added: x(out of S), or
    // |S| - x(arcs within S), equal on every x that meets the out-degree
    // rows. Large sets are crossed by fewer columns than they hold, small
    // ones (a blossom's teeth of two cities: 2 columns against about 11 at
    // n = 316) hold fewer than cross them. On the tilted families at n = 316
    // this takes the cut rows' nonzeros down by half or more, and their LP
    // roots from 7.1 to 3.4 s (sum) and 5.6 to 2.6 s (max). The LP's value
    // and solutions are the same either way; only the degree rows'
    // multipliers differ.
    struct Cut {
        std::vector<std::vector<std::uint32_t>> sets;
        std::vector<std::vector<std::uint64_t>> members;  // per set, bit c: city c is in it
        // Per set, 1 where CLP holds it as -x(arcs within the set).
        std::vector<std::uint8_t> inside;
        std::vector<WeightedArc> arcs;  // sorted by tail, then head; each arc once
        std::int64_t rhs = 1;
        // The row's lower bound in CLP: rhs less the sizes of the sets held
        // inside.
        std::int64_t rowLower = 1;
        // The key it is known by in cutSides_.
        std::vector<std::uint32_t> key;
        // Unique in this LP, rising in row order: how a basis names the row.
        std::uint64_t id = 0;
        int slackSolves = 0;
    };
    class ArcPass;

    Node headOf(LpArc arc) const { return graph_->successors(arc.tail)[arc.position]; }
    // The arc's column, or -1: a scan of its row's columns, a few dozen at
    // most. (An index over every arc of the graph would cost 4 bytes an arc
    // and, at n = 5000, 40 ms to build: more than the rest of an LP's set-up.)
    std::int32_t columnOf(LpArc arc) const;
    // The coefficient of the arc tail -> head in the cut's CLP row: the
    // number of its outflow sets the arc leaves, less the number of its
    // inside sets the arc lies within, plus its own coefficient.
    static int coefficient(const Cut& cut, std::size_t tail, std::size_t head) {
        int count = 0;
        for (std::size_t set = 0; set < cut.members.size(); ++set) {
            const std::vector<std::uint64_t>& members = cut.members[set];
            const bool tailIn = (members[tail / 64] >> (tail % 64) & 1u) != 0;
            const bool headIn = (members[head / 64] >> (head % 64) & 1u) != 0;
            if (cut.inside[set] != 0) {
                count -= tailIn && headIn ? 1 : 0;
            } else {
                count += tailIn && !headIn ? 1 : 0;
            }
        }
        const auto arc = std::lower_bound(
            cut.arcs.begin(), cut.arcs.end(), std::pair{tail, head},
            [](const WeightedArc& a, const std::pair<std::size_t, std::size_t>& key) {
                return a.tail != key.first ? a.tail < key.first : a.head < key.second;
            });
        if (arc != cut.arcs.end() && arc->tail == tail && arc->head == head) {
            count += arc->coefficient;
        }
        return count;
    }
    // Adds the rows of the cuts (sets, rhs and key filled in) whose key is
    // not known yet; returns how many.
    std::size_t appendRows(std::vector<Cut> cuts);
    // appendRows for combs (blossoms among them): sets filled in, key made.
    std::size_t appendCombRows(std::vector<Cut> rows);
    bool maskAllows(LpArc arc) const;
    // CLP's dual objective limit for a cutoff (InfeasibleBound: none).
    double dualObjectiveLimit(std::int64_t cutoff) const;
    // Whether the ray, scaled to integers, proves exactly that no x in
    // [0, 1] on the open columns meets the rows.
    bool certifiesColumns(const std::vector<double>& ray) const;
    // After an infeasible solve: CLP's ray if it proves the columns
    // infeasible, else the duals of a phase-one LP if they do, else none.
    void findCertificate(Clock::time_point deadline);
    void applyMask();
    void countSlackCuts();

    const Graph* graph_;
    std::size_t n_;
    // The residue class of the graph's tour costs: bounds round up into it.
    CostLattice lattice_;
    std::unique_ptr<ClpSimplex> model_;
    const ArcMask* mask_ = nullptr;
    const std::atomic<bool>* stopFlag_ = nullptr;

    std::vector<LpArc> columns_;                           // in column order
    std::vector<std::vector<std::uint32_t>> tailColumns_;  // columns by tail
    std::vector<std::uint8_t> columnOpen_;                 // upper bound 1, not 0

    std::vector<Cut> cuts_;  // row 2n + k is cut k
    std::uint64_t nextCutId_ = 1;
    std::uint64_t id_;  // for LpBasis::owner
    std::unordered_set<std::vector<std::uint32_t>, CutSideHash> cutSides_;

    // What changed since the last solve: only columns added to an optimal
    // basis keep it primal feasible, and primal simplex continues from it.
    bool onlyColumnsAdded_ = false;

    LpStatus status_ = LpStatus::Stopped;
    double objective_ = 0;
    std::vector<double> rowDuals_;  // of the last solve, one per row; zero before it
    // A certificate of the last infeasible solve (see certifiesColumns);
    // empty if none.
    std::vector<double> ray_;

    // The safe bound of the current duals and mask, once computed.
    bool boundKnown_ = false;
    std::int64_t bound_ = 0;
};

}  // namespace atsp
