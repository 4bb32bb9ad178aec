#include "lp/LpRelaxation.h"

#include <ClpEventHandler.hpp>
#include <ClpSimplex.hpp>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "graph/RowPassDeadline.h"

namespace atsp {

namespace {

using Wide = __int128;

// Duals are rounded to multiples of 2^-DualBits: costs scaled by 2^30 stay
// below 2^61, and the rounding costs each reduced cost at most 3 * 2^-31
// plus 2^-31 per cut and unit of its coefficient, far below a unit even
// summed over a million arcs.
constexpr int DualBits = 30;
// A ray is scaled so that its largest entry is 2^RayBits.
constexpr int RayBits = 40;
// Multipliers are clipped to +-2^50: far beyond any useful dual (sums of
// 65535 costs of 2^31 stay below 2^47), and small enough that a reduced cost
// stays below 2^100 with up to 2^19 cuts. Sums over the arcs are checked for
// overflow; a bound that overflows gives up (the least int64).
constexpr double MultiplierLimit = 0x1p50;

constexpr double SupportThreshold = 1e-9;
constexpr double IntegralityTolerance = 1e-6;
constexpr double SlackTolerance = 1e-6;

Wide toGrid(double value, int bits, bool nonNegative) {
    if (!std::isfinite(value)) {
        return 0;
    }
    value = std::clamp(value, nonNegative ? 0.0 : -MultiplierLimit, MultiplierLimit);
    return static_cast<Wide>(std::nearbyint(std::ldexp(value, bits)));
}

// ceil(value / 2^bits): an arithmetic shift rounds toward -inf.
Wide ceilShift(Wide value, int bits) {
    return (value + ((Wide{1} << bits) - 1)) >> bits;
}

std::int64_t clampToInt64(Wide value) {
    if (value > std::numeric_limits<std::int64_t>::max()) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (value < std::numeric_limits<std::int64_t>::min()) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

// The last solve's duals on the grid, cut duals clipped at 0.
std::vector<Wide> gridDuals(const std::vector<double>& duals, std::size_t degreeRows) {
    std::vector<Wide> y(duals.size());
    for (std::size_t row = 0; row < duals.size(); ++row) {
        y[row] = toGrid(duals[row], DualBits, row >= degreeRows);
    }
    return y;
}

// The ray scaled so that its largest entry is 2^RayBits, cut entries
// clipped at 0; empty for a ray of zeros.
std::vector<Wide> gridRay(const std::vector<double>& ray, std::size_t degreeRows) {
    double largest = 0;
    for (const double value : ray) {
        if (std::isfinite(value)) {
            largest = std::max(largest, std::abs(value));
        }
    }
    if (largest == 0) {
        return {};
    }
    std::vector<Wide> y(ray.size());
    for (std::size_t row = 0; row < ray.size(); ++row) {
        y[row] = toGrid(ray[row] / largest, RayBits, row >= degreeRows);
    }
    return y;
}

}  // namespace

// One pass over every arc the mask allows with its exact reduced cost
// r = cost * costScale - y . A(arc) under integer multipliers y (one per row,
// cut entries >= 0), and what every use of it needs: L(y) = y . b + sum of
// min(0, r), whether some row or column has no allowed arc, and the sum of
// each row's costliest allowed arc.
class LpRelaxation::ArcPass {
  public:
    struct Summary {
        Wide lagrangian = 0;  // in the multipliers' units
        bool overflow = false;
        bool noTour = false;
        Wide costliestTour = 0;  // in cost units
        bool stopped = false;    // the deadline passed: the rows after it were not visited
    };

    ArcPass(const LpRelaxation& lp, std::vector<Wide> multipliers, Wide costScale)
        : lp(lp), y(std::move(multipliers)), costScale(costScale) {}

    // visit(LpArc, head, reducedCost) for every allowed arc, row by row, up
    // to the deadline (looked at every 64 rows).
    template <class Visit>
    Summary run(Visit&& visit, Clock::time_point deadline = Clock::time_point::max()) {
        const std::size_t n = lp.n_;
        const Graph& graph = *lp.graph_;
        Summary summary;
        for (std::size_t row = 0; row < y.size(); ++row) {
            summary.lagrangian +=
                row < 2 * n ? y[row] : y[row] * Wide{lp.cuts_[row - 2 * n].rowLower};
        }
        // The sets of the cuts of positive multiplier, and for each tail the
        // sets that hold it.
        struct SetOf {
            std::uint32_t cut;
            std::uint32_t set;
            bool inside;
        };
        std::vector<SetOf> sets;
        std::vector<std::uint32_t> start(n + 1, 0);
        for (std::size_t cut = 0; cut < lp.cuts_.size(); ++cut) {
            if (y[2 * n + cut] > 0) {
                for (std::size_t set = 0; set < lp.cuts_[cut].sets.size(); ++set) {
                    sets.push_back({static_cast<std::uint32_t>(cut),
                                    static_cast<std::uint32_t>(set),
                                    lp.cuts_[cut].inside[set] != 0});
                    for (const std::uint32_t city : lp.cuts_[cut].sets[set]) {
                        ++start[city + 1];
                    }
                }
            }
        }
        std::partial_sum(start.begin(), start.end(), start.begin());
        std::vector<std::uint32_t> tailSets(start.back());
        {
            std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
            for (std::size_t k = 0; k < sets.size(); ++k) {
                for (const std::uint32_t city : lp.cuts_[sets[k].cut].sets[sets[k].set]) {
                    tailSets[fill[city]++] = static_cast<std::uint32_t>(k);
                }
            }
        }
        const auto members = [&](std::uint32_t k) -> const std::vector<std::uint32_t>& {
            return lp.cuts_[sets[k].cut].sets[sets[k].set];
        };
        // The single arcs of the cuts of positive multiplier, by tail, each
        // with its multiplier times its coefficient.
        struct Term {
            std::uint32_t head;
            Wide weight;
        };
        std::vector<std::uint32_t> termStart(n + 1, 0);
        for (std::size_t cut = 0; cut < lp.cuts_.size(); ++cut) {
            if (y[2 * n + cut] > 0) {
                for (const WeightedArc& arc : lp.cuts_[cut].arcs) {
                    ++termStart[arc.tail + 1];
                }
            }
        }
        std::partial_sum(termStart.begin(), termStart.end(), termStart.begin());
        std::vector<Term> terms(termStart.back());
        {
            std::vector<std::uint32_t> fill(termStart.begin(), termStart.end() - 1);
            for (std::size_t cut = 0; cut < lp.cuts_.size(); ++cut) {
                if (const Wide value = y[2 * n + cut]; value > 0) {
                    for (const WeightedArc& arc : lp.cuts_[cut].arcs) {
                        terms[fill[arc.tail]++] = {arc.head, value * arc.coefficient};
                    }
                }
            }
        }
        // leaving: the multipliers of the current tail's outflow sets, as if
        // every arc from it left them; within[j]: the multipliers of its sets
        // that hold j too (an arc that an outflow set's term does not count
        // after all, or that an inside set's term counts negatively), less
        // the weights of tail -> j as a single arc.
        std::vector<Wide> within(n, 0);
        std::vector<std::uint8_t> columnReached(n, 0);
        for (std::size_t row = 0; row < n; ++row) {
            if (rowPassOutOfTime(row, deadline)) {
                summary.stopped = true;
                return summary;
            }
            const Node tail = static_cast<Node>(row);
            Wide leaving = 0;
            for (std::uint32_t k = start[tail]; k < start[tail + 1]; ++k) {
                const Wide value = y[2 * n + sets[tailSets[k]].cut];
                if (!sets[tailSets[k]].inside) {
                    leaving += value;
                }
                for (const std::uint32_t city : members(tailSets[k])) {
                    within[city] += value;
                }
            }
            for (std::uint32_t k = termStart[tail]; k < termStart[tail + 1]; ++k) {
                within[terms[k].head] -= terms[k].weight;
            }
            const std::span<const Node> heads = graph.successors(tail);
            const std::span<const std::int32_t> costs = graph.costs(tail);
            ArcMask::RowScan scan{0, heads.size(), 0};
            if (lp.mask_ != nullptr) {
                scan = lp.mask_->scan(tail, heads.size());
            }
            const Wide rowDual = y[tail] + leaving;
            bool any = false;
            std::int32_t costliest = std::numeric_limits<std::int32_t>::min();
            for (std::size_t position = scan.begin; position < scan.end; ++position) {
                const Node head = heads[position];
                if (lp.mask_ != nullptr && lp.mask_->blocked(head, scan.stamp)) {
                    continue;
                }
                any = true;
                columnReached[head] = 1;
                costliest = std::max(costliest, costs[position]);
                const Wide reduced =
                    Wide{costs[position]} * costScale - rowDual - y[n + head] + within[head];
                if (reduced < 0 &&
                    __builtin_add_overflow(summary.lagrangian, reduced, &summary.lagrangian)) {
                    summary.overflow = true;
                }
                visit(LpArc{tail, static_cast<Node>(position)}, head, reduced);
            }
            if (any) {
                summary.costliestTour += costliest;
            } else {
                summary.noTour = true;
            }
            for (std::uint32_t k = start[tail]; k < start[tail + 1]; ++k) {
                for (const std::uint32_t city : members(tailSets[k])) {
                    within[city] = 0;
                }
            }
            for (std::uint32_t k = termStart[tail]; k < termStart[tail + 1]; ++k) {
                within[terms[k].head] = 0;
            }
        }
        for (std::size_t column = 0; column < n; ++column) {
            summary.noTour = summary.noTour || columnReached[column] == 0;
        }
        return summary;
    }

  private:
    const LpRelaxation& lp;
    std::vector<Wide> y;
    Wide costScale;
};

namespace {

// Ends CLP's simplex after the iteration in which another thread set the
// flag: the model's status becomes 5 (stopped by an event).
class StopOnFlag : public ClpEventHandler {
  public:
    explicit StopOnFlag(const std::atomic<bool>* flag) : flag(flag) {}
    int event(Event whichEvent) override {
        return whichEvent == endOfIteration && flag->load(std::memory_order_relaxed) ? 0 : -1;
    }
    ClpEventHandler* clone() const override { return new StopOnFlag(*this); }

  private:
    const std::atomic<bool>* flag;
};

}  // namespace

void LpRelaxation::watchStopFlag(const std::atomic<bool>* flag) {
    stopFlag_ = flag;
    if (flag != nullptr) {
        const StopOnFlag handler(flag);
        model_->passInEventHandler(&handler);  // CLP keeps a clone
    } else {
        const ClpEventHandler none;
        model_->passInEventHandler(&none);
    }
}

namespace {

std::uint64_t newLpId() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

LpRelaxation::LpRelaxation(const Graph& graph) : LpRelaxation(graph, CostLattice(graph)) {}

LpRelaxation::LpRelaxation(const Graph& graph, CostLattice lattice)
    : graph_(&graph),
      n_(graph.cityCount()),
      lattice_(lattice),
      model_(std::make_unique<ClpSimplex>()),
      id_(newLpId()) {
    tailColumns_.resize(n_);
    model_->setLogLevel(0);
    // The matrix is 0/1, and rows added later would reset the scaling.
    model_->scaling(0);
    // Rays after any number of pivots: without one, infeasibility over the
    // columns neither proves anything nor tells which arcs to price in.
    model_->setSpecialOptions(model_->specialOptions() | 2097152);
    if (n_ >= 2) {
        model_->resize(static_cast<int>(2 * n_), 0);
        for (std::size_t row = 0; row < 2 * n_; ++row) {
            model_->setRowBounds(static_cast<int>(row), 1.0, 1.0);
        }
        rowDuals_.assign(2 * n_, 0.0);
    }
}

LpRelaxation::~LpRelaxation() = default;
LpRelaxation::LpRelaxation(LpRelaxation&&) noexcept = default;
LpRelaxation& LpRelaxation::operator=(LpRelaxation&&) noexcept = default;

bool LpRelaxation::hasColumn(LpArc arc) const {
    return arc.tail < n_ && arc.position < graph_->rowLength(arc.tail) && columnOf(arc) >= 0;
}

std::int32_t LpRelaxation::columnOf(LpArc arc) const {
    for (const std::uint32_t column : tailColumns_[arc.tail]) {
        if (columns_[column].position == arc.position) {
            return static_cast<std::int32_t>(column);
        }
    }
    return -1;
}

bool LpRelaxation::maskAllows(LpArc arc) const {
    if (mask_ == nullptr) {
        return true;
    }
    const ArcMask::RowScan scan = mask_->scan(arc.tail, graph_->rowLength(arc.tail));
    return arc.position >= scan.begin && arc.position < scan.end &&
           !mask_->blocked(headOf(arc), scan.stamp);
}

std::size_t LpRelaxation::addArcs(std::span<const LpArc> arcs) {
    std::vector<CoinBigIndex> starts{0};
    std::vector<int> rows;
    std::vector<double> elements, lower, upper, costs;
    // Each new column is listed at once, so that an arc given twice becomes
    // one column; on a throw the lists go back to the columns CLP has.
    const std::size_t before = columns_.size();
    const auto unlist = [&] {
        for (std::size_t column = before; column < columns_.size(); ++column) {
            tailColumns_[columns_[column].tail].pop_back();
        }
        columns_.resize(before);
    };
    try {
        for (const LpArc arc : arcs) {
            if (arc.tail >= n_ || arc.position >= graph_->rowLength(arc.tail)) {
                throw std::out_of_range("an LP arc is not in the graph");
            }
            if (columnOf(arc) >= 0) {
                continue;
            }
            tailColumns_[arc.tail].push_back(static_cast<std::uint32_t>(columns_.size()));
            columns_.push_back(arc);
            const Node head = headOf(arc);
            rows.push_back(arc.tail);
            rows.push_back(static_cast<int>(n_ + head));
            elements.push_back(1.0);
            elements.push_back(1.0);
            for (std::size_t cut = 0; cut < cuts_.size(); ++cut) {
                if (const int count = coefficient(cuts_[cut], arc.tail, head); count != 0) {
                    rows.push_back(static_cast<int>(2 * n_ + cut));
                    elements.push_back(count);
                }
            }
            starts.push_back(static_cast<CoinBigIndex>(rows.size()));
            lower.push_back(0.0);
            upper.push_back(maskAllows(arc) ? 1.0 : 0.0);
            costs.push_back(graph_->costs(arc.tail)[arc.position]);
        }
        const std::size_t added = columns_.size() - before;
        if (added > 0) {
            model_->addColumns(static_cast<int>(added), lower.data(), upper.data(), costs.data(),
                               starts.data(), rows.data(), elements.data());
        }
    } catch (...) {
        unlist();
        throw;
    }
    for (const double bound : upper) {
        columnOpen_.push_back(bound > 0 ? 1 : 0);
    }
    return upper.size();
}

std::size_t LpRelaxation::addCheapestArcs(std::size_t perCity, Clock::time_point deadline) {
    // Heads and tails alike: on graphs whose cheap arcs crowd into a few
    // heads, rows alone leave most columns without an arc.
    struct Candidate {
        std::int32_t cost;
        LpArc arc;
        bool operator<(const Candidate& other) const {
            if (cost != other.cost) {
                return cost < other.cost;
            }
            return arc.tail != other.arc.tail ? arc.tail < other.arc.tail
                                              : arc.position < other.arc.position;
        }
    };
    std::vector<std::vector<Candidate>> into(n_);
    std::vector<LpArc> arcs;
    std::vector<Candidate> row;
    for (std::size_t city = 0; city < n_; ++city) {
        if (rowPassOutOfTime(city, deadline)) {
            return 0;
        }
        const Node tail = static_cast<Node>(city);
        const std::span<const Node> heads = graph_->successors(tail);
        const std::span<const std::int32_t> costs = graph_->costs(tail);
        row.clear();
        for (std::size_t position = 0; position < heads.size(); ++position) {
            const Candidate candidate{costs[position], {tail, static_cast<Node>(position)}};
            row.push_back(candidate);
            std::vector<Candidate>& column = into[heads[position]];
            // Keeps each column's perCity cheapest as a max-heap.
            if (column.size() < perCity) {
                column.push_back(candidate);
                std::push_heap(column.begin(), column.end());
            } else if (perCity > 0 && candidate < column.front()) {
                std::pop_heap(column.begin(), column.end());
                column.back() = candidate;
                std::push_heap(column.begin(), column.end());
            }
        }
        const std::size_t take = std::min(perCity, row.size());
        std::partial_sort(row.begin(), row.begin() + take, row.end());
        for (std::size_t k = 0; k < take; ++k) {
            arcs.push_back(row[k].arc);
        }
    }
    for (std::vector<Candidate>& column : into) {
        std::sort_heap(column.begin(), column.end());
        for (const Candidate& candidate : column) {
            arcs.push_back(candidate.arc);
        }
    }
    return addArcs(arcs);
}

std::size_t LpRelaxation::addCuts(std::span<const SubtourCut> cuts) {
    std::vector<Cut> rows;
    for (const SubtourCut& given : cuts) {
        std::vector<std::uint32_t> side = cutSide(given.cities, n_);
        if (side.size() < 2) {
            continue;
        }
        Cut cut;
        cut.key = side;
        cut.sets.push_back(std::move(side));
        rows.push_back(std::move(cut));
    }
    return appendRows(std::move(rows));
}

std::size_t LpRelaxation::addBlossoms(std::span<const Blossom> blossoms) {
    std::vector<Cut> rows;
    for (const Blossom& blossom : blossoms) {
        Cut cut;
        cut.rhs = blossom.rhs();
        cut.sets.push_back(blossom.handle);
        for (const auto& [inside, outside] : blossom.teeth) {
            cut.sets.push_back({std::min(inside, outside), std::max(inside, outside)});
        }
        rows.push_back(std::move(cut));
    }
    return appendCombRows(std::move(rows));
}

std::size_t LpRelaxation::addCombs(std::span<const Comb> combs) {
    std::vector<Cut> rows;
    for (const Comb& comb : combs) {
        Cut cut;
        cut.rhs = comb.rhs();
        cut.sets.push_back(comb.handle);
        cut.sets.insert(cut.sets.end(), comb.teeth.begin(), comb.teeth.end());
        rows.push_back(std::move(cut));
    }
    return appendCombRows(std::move(rows));
}

std::size_t LpRelaxation::appendCombRows(std::vector<Cut> rows) {
    for (Cut& cut : rows) {
        for (const std::vector<std::uint32_t>& set : cut.sets) {
            if (set.empty() || *std::max_element(set.begin(), set.end()) >= n_) {
                throw std::invalid_argument("a comb's sets need cities of the graph");
            }
        }
        // Set after set, each closed by n: no city, so that no subtour
        // cut's side (which holds cities only) is the same key.
        for (const std::vector<std::uint32_t>& set : cut.sets) {
            cut.key.insert(cut.key.end(), set.begin(), set.end());
            cut.key.push_back(static_cast<std::uint32_t>(n_));
        }
    }
    return appendRows(std::move(rows));
}

CutRows LpRelaxation::cutRows() const {
    CutRows rows;
    for (const Cut& cut : cuts_) {
        if (cut.sets.empty()) {
            // A lifted cycle: its key is n + 1, whether reversed, the cities.
            rows.liftedCycles.push_back({{cut.key.begin() + 2, cut.key.end()}, cut.key[1] != 0, 0});
        } else if (cut.sets.size() == 1) {
            rows.subtours.push_back({cut.sets.front(), 0});
        } else if (std::all_of(
                       cut.sets.begin() + 1, cut.sets.end(),
                       [](const std::vector<std::uint32_t>& set) { return set.size() == 2; })) {
            Blossom blossom{cut.sets.front(), {}, 0};
            for (std::size_t tooth = 1; tooth < cut.sets.size(); ++tooth) {
                const std::uint32_t first = cut.sets[tooth][0];
                const std::uint32_t second = cut.sets[tooth][1];
                const bool firstInside =
                    std::binary_search(blossom.handle.begin(), blossom.handle.end(), first);
                blossom.teeth.emplace_back(firstInside ? first : second,
                                           firstInside ? second : first);
            }
            rows.blossoms.push_back(std::move(blossom));
        } else {
            rows.combs.push_back({cut.sets.front(), {cut.sets.begin() + 1, cut.sets.end()}, 0});
        }
    }
    return rows;
}

std::size_t LpRelaxation::addCutRows(const CutRows& rows) {
    return addCuts(rows.subtours) + addBlossoms(rows.blossoms) + addCombs(rows.combs) +
           addLiftedCycles(rows.liftedCycles);
}

std::size_t LpRelaxation::addLiftedCycles(std::span<const LiftedCycle> cycles) {
    std::vector<Cut> rows;
    for (const LiftedCycle& cycle : cycles) {
        const std::size_t k = cycle.cities.size();
        std::vector<std::uint32_t> sorted = cycle.cities;
        std::sort(sorted.begin(), sorted.end());
        if (k < 3 || k >= n_ || sorted.back() >= n_ ||
            std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
            throw std::invalid_argument("a lifted cycle needs 3 to n - 1 distinct cities");
        }
        Cut cut;
        cut.rhs = 1 - static_cast<std::int64_t>(k);
        cut.arcs = liftedCycleArcs(cycle);
        for (WeightedArc& arc : cut.arcs) {
            arc.coefficient = -arc.coefficient;
        }
        // n + 1, no city, first: no subtour side or blossom begins so.
        cut.key.push_back(static_cast<std::uint32_t>(n_ + 1));
        cut.key.push_back(cycle.reversed ? 1 : 0);
        cut.key.insert(cut.key.end(), cycle.cities.begin(), cycle.cities.end());
        rows.push_back(std::move(cut));
    }
    return appendRows(std::move(rows));
}

std::size_t LpRelaxation::appendRows(std::vector<Cut> cuts) {
    const std::size_t words = (n_ + 63) / 64;
    std::vector<CoinBigIndex> starts{0};
    std::vector<int> columns;
    std::vector<double> elements, lower;
    std::vector<int> count(columns_.size(), 0);
    std::vector<char> isTouched(columns_.size(), 0);
    std::vector<std::uint32_t> touched;
    // A set's columns that leave it, and those within it.
    std::vector<std::uint32_t> leaving;
    std::vector<std::uint32_t> within;
    const auto addTo = [&](std::uint32_t column, int coefficient) {
        if (isTouched[column] == 0) {
            isTouched[column] = 1;
            touched.push_back(column);
        }
        count[column] += coefficient;
    };
    std::size_t added = 0;
    for (Cut& cut : cuts) {
        if (cutSides_.contains(cut.key)) {
            continue;
        }
        cut.rowLower = cut.rhs;
        for (const std::vector<std::uint32_t>& set : cut.sets) {
            std::vector<std::uint64_t> members(words, 0);
            for (const std::uint32_t city : set) {
                members[city / 64] |= std::uint64_t{1} << (city % 64);
            }
            // The form with fewer nonzeros (Cut); ties stay outflows.
            leaving.clear();
            within.clear();
            for (const std::uint32_t tail : set) {
                for (const std::uint32_t column : tailColumns_[tail]) {
                    const std::size_t head = headOf(columns_[column]);
                    ((members[head / 64] >> (head % 64) & 1u) == 0 ? leaving : within)
                        .push_back(column);
                }
            }
            const bool inside = within.size() < leaving.size();
            for (const std::uint32_t column : inside ? within : leaving) {
                addTo(column, inside ? -1 : 1);
            }
            if (inside) {
                cut.rowLower -= static_cast<std::int64_t>(set.size());
            }
            cut.members.push_back(std::move(members));
            cut.inside.push_back(inside ? 1 : 0);
        }
        for (const WeightedArc& arc : cut.arcs) {
            const Node position = graph_->arcPosition(arc.tail, arc.head);
            if (position == NoNode) {
                continue;
            }
            if (const std::int32_t column = columnOf({static_cast<Node>(arc.tail), position});
                column >= 0) {
                addTo(static_cast<std::uint32_t>(column), arc.coefficient);
            }
        }
        for (const std::uint32_t column : touched) {
            if (count[column] != 0) {
                columns.push_back(static_cast<int>(column));
                elements.push_back(count[column]);
            }
            count[column] = 0;
            isTouched[column] = 0;
        }
        touched.clear();
        starts.push_back(static_cast<CoinBigIndex>(columns.size()));
        lower.push_back(static_cast<double>(cut.rowLower));
        cutSides_.insert(cut.key);
        cut.id = nextCutId_++;
        cuts_.push_back(std::move(cut));
        ++added;
    }
    if (added == 0) {
        return 0;
    }
    const std::vector<double> upper(added, COIN_DBL_MAX);
    model_->addRows(static_cast<int>(added), lower.data(), upper.data(), starts.data(),
                    columns.data(), elements.data());
    // A new row's multiplier 0 leaves L(y), and so the cached bound, as it was.
    rowDuals_.resize(rowDuals_.size() + added, 0.0);
    ray_.clear();
    onlyColumnsAdded_ = false;
    return added;
}

void LpRelaxation::countSlackCuts() {
    const double* activity = model_->getRowActivity();
    for (std::size_t cut = 0; cut < cuts_.size(); ++cut) {
        const int row = static_cast<int>(2 * n_ + cut);
        const bool slack =
            activity[row] > static_cast<double>(cuts_[cut].rowLower) + SlackTolerance &&
            model_->getRowStatus(row) == ClpSimplex::basic;
        cuts_[cut].slackSolves = slack ? cuts_[cut].slackSolves + 1 : 0;
    }
}

std::size_t LpRelaxation::dropSlackCuts(int solves) {
    std::vector<int> rows;
    for (std::size_t cut = 0; cut < cuts_.size(); ++cut) {
        const int row = static_cast<int>(2 * n_ + cut);
        // Only a basic slack's row leaves the basis a basis when it goes.
        if (cuts_[cut].slackSolves >= solves && model_->getRowStatus(row) == ClpSimplex::basic) {
            rows.push_back(row);
        }
    }
    if (rows.empty()) {
        return 0;
    }
    model_->deleteRows(static_cast<int>(rows.size()), rows.data());
    std::vector<Cut> kept;
    std::vector<double> keptDuals(rowDuals_.begin(), rowDuals_.begin() + 2 * n_);
    std::size_t next = 0;
    for (std::size_t cut = 0; cut < cuts_.size(); ++cut) {
        const int row = static_cast<int>(2 * n_ + cut);
        if (next < rows.size() && rows[next] == row) {
            cutSides_.erase(cuts_[cut].key);
            ++next;
        } else {
            kept.push_back(std::move(cuts_[cut]));
            keptDuals.push_back(rowDuals_[row]);
        }
    }
    cuts_ = std::move(kept);
    rowDuals_ = std::move(keptDuals);
    onlyColumnsAdded_ = false;
    ray_.clear();
    boundKnown_ = false;
    return rows.size();
}

void LpRelaxation::setAllowedArcs(const ArcMask& mask) {
    if (mask.size() != n_) {
        throw std::invalid_argument("the arc mask is not of the graph's size");
    }
    mask_ = &mask;
    applyMask();
}

void LpRelaxation::allowAllArcs() {
    mask_ = nullptr;
    applyMask();
}

void LpRelaxation::applyMask() {
    boundKnown_ = false;
    for (std::size_t row = 0; row < n_; ++row) {
        const Node tail = static_cast<Node>(row);
        if (tailColumns_[tail].empty()) {
            continue;
        }
        ArcMask::RowScan scan{0, graph_->rowLength(tail), 0};
        if (mask_ != nullptr) {
            scan = mask_->scan(tail, graph_->rowLength(tail));
        }
        for (const std::uint32_t column : tailColumns_[tail]) {
            const LpArc arc = columns_[column];
            const bool open = arc.position >= scan.begin && arc.position < scan.end &&
                              (mask_ == nullptr || !mask_->blocked(headOf(arc), scan.stamp));
            if (open != (columnOpen_[column] != 0)) {
                model_->setColumnUpper(static_cast<int>(column), open ? 1.0 : 0.0);
                onlyColumnsAdded_ = false;
                columnOpen_[column] = open ? 1 : 0;
            }
        }
    }
}

double LpRelaxation::dualObjectiveLimit(std::int64_t cutoff) const {
    // Tours below the cutoff cost at most the greatest lattice value below
    // it; an LP value half past that leaves none (the safe bound, which
    // rounds up into the lattice, confirms it before anything is pruned).
    return cutoff == InfeasibleBound
               ? COIN_DBL_MAX
               : static_cast<double>(lattice_.roundDown(cutoff - 1)) + 0.5;
}

LpBasis LpRelaxation::basis() const {
    LpBasis basis;
    if (n_ <= 1) {
        return basis;
    }
    basis.owner = id_;
    basis.columns.resize(columns_.size());
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        basis.columns[column] =
            static_cast<std::uint8_t>(model_->getColumnStatus(static_cast<int>(column)));
    }
    basis.degreeRows.resize(2 * n_);
    for (std::size_t row = 0; row < 2 * n_; ++row) {
        basis.degreeRows[row] =
            static_cast<std::uint8_t>(model_->getRowStatus(static_cast<int>(row)));
    }
    for (std::size_t cut = 0; cut < cuts_.size(); ++cut) {
        const ClpSimplex::Status status = model_->getRowStatus(static_cast<int>(2 * n_ + cut));
        if (status != ClpSimplex::basic) {
            basis.tightCuts.emplace_back(cuts_[cut].id, static_cast<std::uint8_t>(status));
        }
    }
    return basis;
}

bool LpRelaxation::restoreBasis(const LpBasis& basis) {
    if (basis.owner != id_ || n_ <= 1) {
        return false;
    }
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        model_->setColumnStatus(static_cast<int>(column),
                                column < basis.columns.size()
                                    ? static_cast<ClpSimplex::Status>(basis.columns[column])
                                    : ClpSimplex::atLowerBound);
    }
    for (std::size_t row = 0; row < 2 * n_; ++row) {
        model_->setRowStatus(static_cast<int>(row),
                             static_cast<ClpSimplex::Status>(basis.degreeRows[row]));
    }
    // Both in ascending id: one merge.
    auto tight = basis.tightCuts.begin();
    for (std::size_t cut = 0; cut < cuts_.size(); ++cut) {
        while (tight != basis.tightCuts.end() && tight->first < cuts_[cut].id) {
            ++tight;
        }
        const bool stored = tight != basis.tightCuts.end() && tight->first == cuts_[cut].id;
        model_->setRowStatus(
            static_cast<int>(2 * n_ + cut),
            stored ? static_cast<ClpSimplex::Status>(tight->second) : ClpSimplex::basic);
    }
    // The primal solution no longer fits the basis: dual simplex, which
    // factorizes it afresh.
    onlyColumnsAdded_ = false;
    return true;
}

LpStatus LpRelaxation::solve(std::int64_t cutoff, Clock::time_point deadline) {
    boundKnown_ = false;
    ray_.clear();
    if (n_ <= 1) {
        status_ = LpStatus::Optimal;
        objective_ = 0;
        return status_;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline || stopRequested()) {
        // The duals of the last solve stay: they bound this mask too.
        status_ = LpStatus::Stopped;
        return status_;
    }
    if (columns_.empty()) {
        // CLP fails on a model without columns. No x meets a degree row
        // then, and a ray of ones on them shows it; every arc breaks it.
        status_ = LpStatus::Infeasible;
        objective_ = 0;
        std::fill(rowDuals_.begin(), rowDuals_.end(), 0.0);
        ray_.assign(rowDuals_.size(), 0.0);
        std::fill(ray_.begin(), ray_.begin() + 2 * n_, 1.0);
        return status_;
    }
    model_->setMaximumWallSeconds(deadline == Clock::time_point::max()
                                      ? COIN_DBL_MAX
                                      : std::chrono::duration<double>(deadline - now).count());
    model_->setDualObjectiveLimit(dualObjectiveLimit(cutoff));
    if (onlyColumnsAdded_ && status_ == LpStatus::Optimal) {
        model_->primal();
    } else {
        model_->dual();
    }
    onlyColumnsAdded_ = true;
    const int rows = model_->numberRows();
    rowDuals_.assign(model_->getRowPrice(), model_->getRowPrice() + rows);
    objective_ = model_->objectiveValue();
    switch (model_->status()) {
        case 0:
            status_ = LpStatus::Optimal;
            countSlackCuts();
            break;
        case 1:
            // Secondary status 1: stopped at the dual objective limit.
            if (cutoff != InfeasibleBound && model_->secondaryStatus() == 1) {
                status_ = LpStatus::CutOff;
            } else {
                status_ = LpStatus::Infeasible;
                findCertificate(deadline);
            }
            break;
        default:
            status_ = LpStatus::Stopped;
            break;
    }
    return status_;
}

std::vector<LpRelaxation::BranchEstimate> LpRelaxation::estimateBranches(
    std::span<const LpArc> arcs, int iterations, std::int64_t cutoff, Clock::time_point deadline,
    std::span<const LpArc> partners) {
    std::vector<BranchEstimate> estimates(arcs.size());
    if (status_ != LpStatus::Optimal || columns_.empty()) {
        return estimates;
    }
    constexpr double Infinite = std::numeric_limits<double>::infinity();
    // One copy per call: the model the search goes on with is never touched.
    ClpSimplex trial(*model_);
    trial.setLogLevel(0);
    trial.setMaximumIterations(iterations);
    trial.setMaximumWallSeconds(COIN_DBL_MAX);
    trial.setDualObjectiveLimit(dualObjectiveLimit(cutoff));
    // The parent's basis and solution, which every child starts from: the
    // arrays CLP reads its warm start from, with their lengths.
    const int rows = trial.numberRows();
    const int columns = trial.numberColumns();
    const auto kept = [](auto* begin, int size) { return std::vector(begin, begin + size); };
    const auto status = kept(trial.statusArray(), rows + columns);
    const auto primalColumns = kept(trial.primalColumnSolution(), columns);
    const auto primalRows = kept(trial.primalRowSolution(), rows);
    const auto dualRows = kept(trial.dualRowSolution(), rows);
    const auto dualColumns = kept(trial.dualColumnSolution(), columns);
    for (std::size_t k = 0; k < arcs.size(); ++k) {
        const std::int32_t column = columnOf(arcs[k]);
        if (column < 0) {
            continue;
        }
        const double lower = trial.getColLower()[column];
        const double upper = trial.getColUpper()[column];
        const std::int32_t partner =
            k < partners.size() && partners[k].tail != NoNode ? columnOf(partners[k]) : -1;
        const double partnerLower = partner >= 0 ? trial.getColLower()[partner] : 0;
        const double partnerUpper = partner >= 0 ? trial.getColUpper()[partner] : 0;
        for (const bool up : {false, true}) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline || stopRequested()) {
                return estimates;
            }
            if (deadline != Clock::time_point::max()) {
                trial.setMaximumWallSeconds(std::chrono::duration<double>(deadline - now).count());
            }
            std::copy(status.begin(), status.end(), trial.statusArray());
            std::copy(primalColumns.begin(), primalColumns.end(), trial.primalColumnSolution());
            std::copy(primalRows.begin(), primalRows.end(), trial.primalRowSolution());
            std::copy(dualRows.begin(), dualRows.end(), trial.dualRowSolution());
            std::copy(dualColumns.begin(), dualColumns.end(), trial.dualColumnSolution());
            if (up) {
                trial.setColumnBounds(column, 1.0, upper);
            } else {
                trial.setColumnBounds(column, lower, 0.0);
                if (partner >= 0) {
                    trial.setColumnBounds(partner, partnerLower, 0.0);
                }
            }
            trial.dual();
            // Status 1: infeasible or past the cutoff; 0 or 3 (the pivots ran
            // out): the dual objective, a bound on the child's LP.
            const double value = trial.status() == 1 ? Infinite : trial.objectiveValue();
            (up ? estimates[k].up : estimates[k].down) = value;
            trial.setColumnBounds(column, lower, upper);
            if (partner >= 0) {
                trial.setColumnBounds(partner, partnerLower, partnerUpper);
            }
        }
    }
    return estimates;
}

std::vector<SupportArc> LpRelaxation::support() const {
    std::vector<SupportArc> arcs;
    if (columns_.empty()) {
        return arcs;
    }
    const double* x = model_->getColSolution();
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        if (x[column] > SupportThreshold) {
            arcs.push_back({columns_[column].tail, headOf(columns_[column]), x[column]});
        }
    }
    return arcs;
}

bool LpRelaxation::isIntegral() const {
    if (columns_.empty()) {
        return true;
    }
    const double* x = model_->getColSolution();
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        if (std::min(std::abs(x[column]), std::abs(1 - x[column])) > IntegralityTolerance) {
            return false;
        }
    }
    return true;
}

bool LpRelaxation::certifiesColumns(const std::vector<double>& ray) const {
    const std::vector<Wide> y = gridRay(ray, 2 * n_);
    if (y.empty()) {
        return false;
    }
    Wide gain = 0;
    for (std::size_t row = 0; row < y.size(); ++row) {
        gain += row < 2 * n_ ? y[row] : y[row] * Wide{cuts_[row - 2 * n_].rowLower};
    }
    std::vector<std::size_t> usedCuts;
    for (std::size_t cut = 0; cut < cuts_.size(); ++cut) {
        if (y[2 * n_ + cut] != 0) {
            usedCuts.push_back(cut);
        }
    }
    for (std::size_t column = 0; column < columns_.size(); ++column) {
        if (columnOpen_[column] == 0) {
            continue;
        }
        const LpArc arc = columns_[column];
        const Node head = headOf(arc);
        Wide weight = y[arc.tail] + y[n_ + head];
        for (const std::size_t cut : usedCuts) {
            weight += y[2 * n_ + cut] * coefficient(cuts_[cut], arc.tail, head);
        }
        gain -= std::max<Wide>(weight, 0);
    }
    return gain > 0;
}

void LpRelaxation::findCertificate(Clock::time_point deadline) {
    ray_.clear();
    if (double* ray = model_->infeasibilityRay(); ray != nullptr) {
        std::vector<double> candidate(ray, ray + model_->numberRows());
        delete[] ray;
        // CLP's sign convention for rays varies with the algorithm's path.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (certifiesColumns(candidate)) {
                ray_ = std::move(candidate);
                return;
            }
            for (double& value : candidate) {
                value = -value;
            }
        }
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline || stopRequested()) {
        return;
    }
    // Without a ray that proves it: the duals of the phase-one LP, which
    // minimises the rows' violations s over x in [0, 1]. At its optimum the
    // duals y (|y| <= 1) give y . b + sum over the columns of
    // min(0, -y . A(column)) = its value, > 0 for infeasible columns.
    ClpSimplex phaseOne(*model_);
    const int rows = phaseOne.numberRows();
    for (int column = 0; column < phaseOne.numberColumns(); ++column) {
        phaseOne.setObjectiveCoefficient(column, 0.0);
    }
    std::vector<CoinBigIndex> starts{0};
    std::vector<int> indices;
    std::vector<double> elements;
    for (int row = 0; row < rows; ++row) {
        for (const double sign : {1.0, -1.0}) {
            if (sign < 0 && row >= static_cast<int>(2 * n_)) {
                continue;  // a cut row is only ever short
            }
            indices.push_back(row);
            elements.push_back(sign);
            starts.push_back(static_cast<CoinBigIndex>(indices.size()));
        }
    }
    const std::size_t artificial = indices.size();
    const std::vector<double> lower(artificial, 0.0), upper(artificial, COIN_DBL_MAX),
        cost(artificial, 1.0);
    phaseOne.addColumns(static_cast<int>(artificial), lower.data(), upper.data(), cost.data(),
                        starts.data(), indices.data(), elements.data());
    phaseOne.setDualObjectiveLimit(COIN_DBL_MAX);
    phaseOne.setMaximumWallSeconds(deadline == Clock::time_point::max()
                                       ? COIN_DBL_MAX
                                       : std::chrono::duration<double>(deadline - now).count());
    phaseOne.primal();
    if (phaseOne.status() == 0) {
        std::vector<double> duals(phaseOne.getRowPrice(), phaseOne.getRowPrice() + rows);
        if (certifiesColumns(duals)) {
            ray_ = std::move(duals);
        }
    }
}

std::int64_t LpRelaxation::safeBound(Clock::time_point deadline) {
    if (boundKnown_) {
        return bound_;
    }
    constexpr std::int64_t unknown = std::numeric_limits<std::int64_t>::min();
    if (n_ <= 1) {
        boundKnown_ = true;
        bound_ = 0;
        return bound_;
    }
    const auto ignore = [](LpArc, Node, Wide) {};
    if (std::vector<Wide> ray = gridRay(ray_, 2 * n_); !ray.empty()) {
        const ArcPass::Summary certificate =
            ArcPass(*this, std::move(ray), 0).run(ignore, deadline);
        if (certificate.stopped) {
            return unknown;
        }
        if (certificate.noTour || (!certificate.overflow && certificate.lagrangian > 0)) {
            boundKnown_ = true;
            bound_ = InfeasibleBound;
            return bound_;
        }
    }
    const ArcPass::Summary summary =
        ArcPass(*this, gridDuals(rowDuals_, 2 * n_), Wide{1} << DualBits).run(ignore, deadline);
    if (summary.stopped) {
        return unknown;
    }
    boundKnown_ = true;
    if (summary.noTour) {
        bound_ = InfeasibleBound;
    } else if (summary.overflow) {
        bound_ = unknown;
    } else {
        const Wide bound = ceilShift(summary.lagrangian, DualBits);
        bound_ = bound > summary.costliestTour ? InfeasibleBound
                                               : lattice_.roundUp(clampToInt64(bound));
    }
    return bound_;
}

std::size_t LpRelaxation::priceArcs(std::size_t maxCount, double tolerance,
                                    Clock::time_point deadline) {
    if (n_ <= 1 || maxCount == 0) {
        return 0;
    }
    struct Candidate {
        Wide reducedCost;
        LpArc arc;
    };
    std::vector<Candidate> candidates;
    // The pass goes row by row: the heads of a row's columns are marked
    // (with the row) when the row first has an arc that prices negative.
    std::vector<Node> columnRowOfHead(n_, NoNode);
    Node markedRow = NoNode;
    const auto isColumn = [&](LpArc arc, Node head) {
        if (arc.tail != markedRow) {
            markedRow = arc.tail;
            for (const std::uint32_t column : tailColumns_[arc.tail]) {
                columnRowOfHead[headOf(columns_[column])] = arc.tail;
            }
        }
        return columnRowOfHead[head] == arc.tail;
    };
    bool stopped = false;
    const auto collect = [&](std::vector<Wide> y, Wide costScale, Wide threshold) {
        stopped = ArcPass(*this, std::move(y), costScale)
                      .run(
                          [&](LpArc arc, Node head, Wide reduced) {
                              if (reduced < -threshold && !isColumn(arc, head)) {
                                  candidates.push_back({reduced, arc});
                              }
                          },
                          deadline)
                      .stopped;
    };
    if (status_ == LpStatus::Infeasible && !ray_.empty()) {
        // The arcs that break the certificate of the columns' infeasibility.
        collect(gridRay(ray_, 2 * n_), 0, toGrid(tolerance, RayBits, true));
    } else if (status_ == LpStatus::Infeasible) {
        // No certificate to go by: the cheapest allowed arcs not yet
        // columns, so that the columns grow towards all allowed arcs.
        collect(std::vector<Wide>(rowDuals_.size(), 0), 1, -(Wide{1} << 120));
    } else {
        collect(gridDuals(rowDuals_, 2 * n_), Wide{1} << DualBits,
                toGrid(tolerance, DualBits, true));
    }
    if (stopped) {
        return 0;
    }
    // Most negative first; ties stay in row order.
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const Candidate& a, const Candidate& b) { return a.reducedCost < b.reducedCost; });
    // At most PerCity arcs out of a city and into a city per round: reduced
    // costs (and rays) tie in whole rows and columns, and arcs spread over
    // the graph change the next basis more than a batch of one row's.
    constexpr std::uint8_t PerCity = 2;
    std::vector<std::uint8_t> outOf(n_, 0), into(n_, 0);
    std::vector<LpArc> arcs;
    for (const Candidate& candidate : candidates) {
        if (arcs.size() == maxCount) {
            break;
        }
        const Node head = headOf(candidate.arc);
        if (outOf[candidate.arc.tail] < PerCity && into[head] < PerCity) {
            ++outOf[candidate.arc.tail];
            ++into[head];
            arcs.push_back(candidate.arc);
        }
    }
    return addArcs(arcs);
}

FixedArcs LpRelaxation::reducedCostFixing(std::int64_t upperBound, Clock::time_point deadline) {
    FixedArcs fixed;
    if (n_ <= 1 || safeBound() >= upperBound) {
        return fixed;
    }
    std::vector<Wide> y = gridDuals(rowDuals_, 2 * n_);
    std::vector<std::uint32_t> allowedInRow(n_, 0);
    const auto countAllowed = [&](LpArc arc, Node, Wide) { ++allowedInRow[arc.tail]; };
    const ArcPass::Summary summary =
        ArcPass(*this, y, Wide{1} << DualBits).run(countAllowed, deadline);
    if (summary.overflow || summary.noTour || summary.stopped) {
        return fixed;
    }
    // A tour cheaper than U costs at most U' = the greatest cost below U that
    // the lattice allows, so an arc goes once the bound with it (or without
    // it) passes U' 2^30.
    const Wide limit = Wide{lattice_.roundDown(upperBound - 1)} * (Wide{1} << DualBits);
    const ArcPass::Summary fixing = ArcPass(*this, std::move(y), Wide{1} << DualBits).run(
        [&](LpArc arc, Node, Wide reduced) {
            if (reduced > 0 && summary.lagrangian + reduced > limit) {
                fixed.forbidden.push_back(arc);
            } else if (reduced < 0 && summary.lagrangian - reduced > limit &&
                       allowedInRow[arc.tail] > 1) {
                fixed.forced.push_back(arc);
            }
        },
        deadline);
    return fixing.stopped ? FixedArcs{} : fixed;
}

std::vector<std::vector<Node>> LpRelaxation::leastReducedCostArcs(
    std::size_t perRow, Clock::time_point deadline) const {
    std::vector<std::vector<Node>> least(n_);
    if (perRow == 0 || n_ == 0) {
        return least;
    }
    struct Candidate {
        Wide reduced;
        Node position;
    };
    // The pass visits the arcs row by row: one row's candidates at a time,
    // so the memory is one row's, not all n^2 arcs'.
    std::vector<Candidate> candidates;
    Node row = 0;
    const auto keepLeast = [&] {
        const std::size_t kept = std::min(perRow, candidates.size());
        std::partial_sort(
            candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(kept),
            candidates.end(), [](const Candidate& first, const Candidate& second) {
                return first.reduced != second.reduced ? first.reduced < second.reduced
                                                       : first.position < second.position;
            });
        for (std::size_t k = 0; k < kept; ++k) {
            least[row].push_back(candidates[k].position);
        }
        candidates.clear();
    };
    const ArcPass::Summary summary =
        ArcPass(*this, gridDuals(rowDuals_, 2 * n_), Wide{1} << DualBits)
            .run([&](LpArc arc, Node, Wide reduced) {
                if (arc.tail != row) {
                    keepLeast();
                    row = arc.tail;
                }
                candidates.push_back({reduced, arc.position});
            }, deadline);
    keepLeast();
    if (summary.overflow || summary.stopped) {
        return std::vector<std::vector<Node>>(n_);
    }
    return least;
}

}  // namespace atsp
