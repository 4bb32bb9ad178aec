#include "lp/LiftedCycleSeparation.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace atsp {

std::vector<WeightedArc> liftedCycleArcs(const LiftedCycle& cycle) {
    const std::vector<std::uint32_t>& c = cycle.cities;
    const std::size_t k = c.size();
    std::vector<WeightedArc> arcs;
    const auto add = [&](std::uint32_t tail, std::uint32_t head, std::int32_t coefficient) {
        if (cycle.reversed) {
            std::swap(tail, head);
        }
        arcs.push_back({tail, head, coefficient});
    };
    // 0-based: the cycle, 2 x(c0, ch) for h >= 2, x(ch, cj) for 2 <= j < h.
    for (std::size_t h = 0; h < k; ++h) {
        add(c[h], c[(h + 1) % k], 1);
    }
    for (std::size_t h = 2; h < k; ++h) {
        add(c[0], c[h], 2);
        for (std::size_t j = 2; j < h; ++j) {
            add(c[h], c[j], 1);
        }
    }
    std::sort(arcs.begin(), arcs.end(), [](const WeightedArc& a, const WeightedArc& b) {
        return std::tie(a.tail, a.head) < std::tie(b.tail, b.head);
    });
    return arcs;
}

namespace {

// The support by tail, heaviest arc first, repeated arcs summed; with
// `reversed`, every arc turned round.
class SupportLists {
  public:
    SupportLists(std::span<const SupportArc> arcs, std::size_t n, bool reversed)
        : start_(n + 1, 0) {
        std::vector<SupportArc> turned;
        for (const SupportArc& arc : arcs) {
            if (arc.value > 0 && arc.tail != arc.head) {
                turned.push_back(reversed ? SupportArc{arc.head, arc.tail, arc.value} : arc);
            }
        }
        std::sort(turned.begin(), turned.end(), [](const SupportArc& a, const SupportArc& b) {
            return std::tie(a.tail, a.head) < std::tie(b.tail, b.head);
        });
        for (std::size_t k = 0; k < turned.size(); ++k) {
            const SupportArc& arc = turned[k];
            if (k > 0 && turned[k - 1].tail == arc.tail && turned[k - 1].head == arc.head) {
                entries_.back().value += arc.value;
            } else {
                entries_.push_back({arc.head, arc.value});
                ++start_[arc.tail + 1];
            }
        }
        for (std::size_t city = 0; city < n; ++city) {
            start_[city + 1] += start_[city];
        }
        for (std::size_t city = 0; city < n; ++city) {
            std::stable_sort(entries_.begin() + start_[city], entries_.begin() + start_[city + 1],
                             [](const Entry& a, const Entry& b) { return a.value > b.value; });
        }
    }

    struct Entry {
        std::uint32_t head;
        double value;
    };
    std::span<const Entry> out(std::uint32_t tail) const {
        return {entries_.data() + start_[tail], start_[tail + 1] - start_[tail]};
    }
    double value(std::uint32_t tail, std::uint32_t head) const {
        for (const Entry& entry : out(tail)) {
            if (entry.head == head) {
                return entry.value;
            }
        }
        return 0;
    }

  private:
    std::vector<std::size_t> start_;
    std::vector<Entry> entries_;
};

struct Search {
    const SupportLists& x;
    std::size_t n;
    std::size_t maxLength;
    std::size_t branching;
    double tolerance;
    bool reversed;
    std::vector<std::uint32_t> sequence;
    // A city's 0-based place in the sequence, NotInSequence outside it.
    std::vector<std::uint32_t> place;
    // x(first city, c) for every c: the chords from the first city are read
    // once per city added, so they are spread out when the first is chosen.
    std::vector<double> fromFirst;
    std::vector<LiftedCycle>& found;

    static constexpr std::uint32_t NotInSequence = ~std::uint32_t{0};

    void start(std::uint32_t first) {
        sequence.assign(1, first);
        place[first] = 0;
        for (const SupportLists::Entry& entry : x.out(first)) {
            fromFirst[entry.head] = entry.value;
        }
        extend(0);
        for (const SupportLists::Entry& entry : x.out(first)) {
            fromFirst[entry.head] = 0;
        }
        place[first] = NotInSequence;
    }

    // `lhs`: the inequality's left-hand side over the sequence so far, all
    // but the closing arc back to its first city.
    void extend(double lhs) {
        const std::size_t k = sequence.size();
        const std::uint32_t first = sequence.front();
        const std::uint32_t last = sequence.back();
        if (k >= 3) {
            const double closed = lhs + x.value(last, first);
            if (closed > static_cast<double>(k - 1) + tolerance) {
                found.push_back({sequence, reversed, closed});
            }
        }
        if (k == maxLength || k + 1 >= n) {
            return;
        }
        std::size_t tried = 0;
        for (const SupportLists::Entry& next : x.out(last)) {
            if (tried == branching) {
                break;
            }
            if (place[next.head] != NotInSequence) {
                continue;
            }
            ++tried;
            const std::uint32_t city = next.head;
            // City k (0-based) joins: its cycle arc in, the chord from the
            // first city, and its backward chords to cities 2..k-1 (the
            // support arcs out of it that end there).
            double added = next.value;
            if (k >= 2) {
                added += 2 * fromFirst[city];
                for (const SupportLists::Entry& chord : x.out(city)) {
                    if (const std::uint32_t j = place[chord.head]; j != NotInSequence && j >= 2) {
                        added += chord.value;
                    }
                }
            }
            sequence.push_back(city);
            place[city] = static_cast<std::uint32_t>(k);
            extend(lhs + added);
            place[city] = NotInSequence;
            sequence.pop_back();
        }
    }
};

}  // namespace

std::vector<LiftedCycle> LiftedCycleSeparation::separate(std::span<const SupportArc> arcs,
                                                         double tolerance,
                                                         std::size_t maxCount) const {
    const std::size_t n = cityCount_;
    for (const SupportArc& arc : arcs) {
        if (arc.tail >= n || arc.head >= n) {
            throw std::invalid_argument("a support arc's city is out of range");
        }
    }
    std::vector<LiftedCycle> found;
    // Three cities and one outside them.
    if (n < 4 || maxLength_ < 3 || maxCount == 0) {
        return found;
    }
    const auto moreViolated = [](const LiftedCycle& a, const LiftedCycle& b) {
        const double violationA = a.lhs - static_cast<double>(a.rhs());
        const double violationB = b.lhs - static_cast<double>(b.rhs());
        if (violationA != violationB) {
            return violationA > violationB;
        }
        return std::tie(a.reversed, a.cities) < std::tie(b.reversed, b.cities);
    };
    // Keeps the best maxCount once the list passes a few times that, so
    // that a support with violations everywhere costs bounded memory.
    const auto trim = [&] {
        if (found.size() > maxCount) {
            std::nth_element(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(maxCount),
                             found.end(), moreViolated);
            found.resize(maxCount);
        }
    };
    for (const bool reversed : {false, true}) {
        const SupportLists lists(arcs, n, reversed);
        Search search{lists,
                      n,
                      maxLength_,
                      branching_,
                      tolerance,
                      reversed,
                      {},
                      std::vector<std::uint32_t>(n, Search::NotInSequence),
                      std::vector<double>(n, 0),
                      found};
        for (std::uint32_t first = 0; first < n; ++first) {
            search.start(first);
            if (found.size() > 4 * maxCount) {
                trim();
            }
        }
    }
    trim();
    std::sort(found.begin(), found.end(), moreViolated);
    return found;
}

}  // namespace atsp
