// Subtour separation against certificates: fractional solutions built as
// convex combinations of permutations, so that the degree equations hold, with
// dyadic weights, so that every sum below is exact; each reported cut is
// measured again here, and the least outflow of all sets comes from brute
// force over the subsets (n <= 12) or from 2 (n - 1) maximum flows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "lp/SubtourSeparation.h"

namespace atsp {

namespace {

using Successors = std::vector<std::uint32_t>;

std::vector<std::uint32_t> shuffledCities(std::mt19937_64& random, std::size_t n) {
    std::vector<std::uint32_t> cities(n);
    std::iota(cities.begin(), cities.end(), 0u);
    std::shuffle(cities.begin(), cities.end(), random);
    return cities;
}

// Each block of `order`, given by its sizes, closed into a cycle.
Successors cyclesOf(const std::vector<std::uint32_t>& order,
                    const std::vector<std::size_t>& sizes) {
    Successors successors(order.size());
    std::size_t begin = 0;
    for (const std::size_t size : sizes) {
        for (std::size_t k = 0; k < size; ++k) {
            successors[order[begin + k]] = order[begin + (k + 1) % size];
        }
        begin += size;
    }
    return successors;
}

Successors randomTour(std::mt19937_64& random, std::size_t n) {
    return cyclesOf(shuffledCities(random, n), {n});
}

// A permutation without fixed points (the LP has no loop variables) of one of
// three shapes: uniform, one tour, or cycles on random blocks of two or more
// cities, which leave sets of small outflow. n >= 2.
Successors randomDerangement(std::mt19937_64& random, std::size_t n) {
    switch (random() % 3) {
        case 0:
            for (;;) {
                Successors successors = shuffledCities(random, n);
                bool fixedPoint = false;
                for (std::size_t city = 0; city < n; ++city) {
                    fixedPoint = fixedPoint || successors[city] == city;
                }
                if (!fixedPoint) {
                    return successors;
                }
            }
        case 1:
            return randomTour(random, n);
        default: {
            std::vector<std::size_t> sizes;
            std::size_t left = n;
            while (left > 0) {
                std::size_t size = left < 4 ? left : 2 + random() % (left - 1);
                if (left - size == 1) {
                    size = left;
                }
                sizes.push_back(size);
                left -= size;
            }
            return cyclesOf(shuffledCities(random, n), sizes);
        }
    }
}

// The arcs of sum_k weight[k] / denominator * permutation[k], in random order;
// now and then one arc given as two parts. A power-of-two denominator keeps
// every value and every sum of values exact.
std::vector<SupportArc> combine(std::mt19937_64& random, std::size_t n,
                                const std::vector<Successors>& permutations,
                                const std::vector<std::uint32_t>& weights,
                                std::uint32_t denominator) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> numerators;
    for (std::size_t k = 0; k < permutations.size(); ++k) {
        for (std::uint32_t city = 0; city < n; ++city) {
            numerators[{city, permutations[k][city]}] += weights[k];
        }
    }
    std::vector<SupportArc> arcs;
    for (const auto& [arc, numerator] : numerators) {
        if (numerator >= 2 && random() % 8 == 0) {
            const std::uint32_t part = 1 + static_cast<std::uint32_t>(random() % (numerator - 1));
            arcs.push_back({arc.first, arc.second, double(part) / denominator});
            arcs.push_back({arc.first, arc.second, double(numerator - part) / denominator});
        } else {
            arcs.push_back({arc.first, arc.second, double(numerator) / denominator});
        }
    }
    std::shuffle(arcs.begin(), arcs.end(), random);
    return arcs;
}

// One to four random derangements with positive weights summing to 1: in
// quarters (many ties), in 1024ths, or in 1024ths with all but one at most
// 8 / 1024 (outflows just below 1).
std::vector<SupportArc> randomSolution(std::mt19937_64& random, std::size_t n) {
    if (n < 2) {
        return {};
    }
    const std::uint64_t shape = random() % 3;
    const std::uint32_t denominator = shape == 0 ? 4 : 1024;
    const std::uint32_t lastCutPoint = shape == 2 ? 8 : denominator - 1;
    const std::size_t count = 1 + random() % 4;
    std::set<std::uint32_t> cutPoints;
    while (cutPoints.size() + 1 < count) {
        cutPoints.insert(1 + static_cast<std::uint32_t>(random() % lastCutPoint));
    }
    std::vector<std::uint32_t> weights;
    std::uint32_t previous = 0;
    for (const std::uint32_t point : cutPoints) {
        weights.push_back(point - previous);
        previous = point;
    }
    weights.push_back(denominator - previous);
    std::vector<Successors> permutations;
    for (std::size_t k = 0; k < count; ++k) {
        permutations.push_back(randomDerangement(random, n));
    }
    return combine(random, n, permutations, weights, denominator);
}

double outflowOf(const std::vector<SupportArc>& arcs, const std::vector<char>& inside) {
    double outflow = 0.0;
    for (const SupportArc& arc : arcs) {
        if (inside[arc.tail] && !inside[arc.head]) {
            outflow += arc.value;
        }
    }
    return outflow;
}

double bruteForceLeastOutflow(std::size_t n, const std::vector<SupportArc>& arcs) {
    double least = std::numeric_limits<double>::infinity();
    std::vector<char> inside(n);
    for (std::uint32_t set = 1; set + 1 < (1u << n); ++set) {
        for (std::size_t city = 0; city < n; ++city) {
            inside[city] = (set >> city) & 1;
        }
        least = std::min(least, outflowOf(arcs, inside));
    }
    return least;
}

// Edmonds-Karp on a dense capacity matrix; exact on dyadic capacities.
double maximumFlow(std::vector<std::vector<double>> residual, std::size_t source,
                   std::size_t sink) {
    const std::size_t n = residual.size();
    double flow = 0.0;
    for (;;) {
        std::vector<std::size_t> parent(n, n);
        parent[source] = source;
        std::deque<std::size_t> queue{source};
        while (!queue.empty() && parent[sink] == n) {
            const std::size_t city = queue.front();
            queue.pop_front();
            for (std::size_t next = 0; next < n; ++next) {
                if (parent[next] == n && residual[city][next] > 0.0) {
                    parent[next] = city;
                    queue.push_back(next);
                }
            }
        }
        if (parent[sink] == n) {
            return flow;
        }
        double bottleneck = std::numeric_limits<double>::infinity();
        for (std::size_t city = sink; city != source; city = parent[city]) {
            bottleneck = std::min(bottleneck, residual[parent[city]][city]);
        }
        for (std::size_t city = sink; city != source; city = parent[city]) {
            residual[parent[city]][city] -= bottleneck;
            residual[city][parent[city]] += bottleneck;
        }
        flow += bottleneck;
    }
}

// A set holds city 0 or not: its least outflow is a minimum cut from 0 to some
// other city or from that city to 0.
double flowLeastOutflow(std::size_t n, const std::vector<SupportArc>& arcs) {
    std::vector<std::vector<double>> capacity(n, std::vector<double>(n, 0.0));
    for (const SupportArc& arc : arcs) {
        capacity[arc.tail][arc.head] += arc.value;
    }
    double least = std::numeric_limits<double>::infinity();
    for (std::size_t city = 1; city < n; ++city) {
        least = std::min({least, maximumFlow(capacity, 0, city), maximumFlow(capacity, city, 0)});
    }
    return least;
}

// What every answer must satisfy: sorted proper nonempty sets, no set twice,
// each violated as measured here, outflows as reported and in order.
void expectValidCuts(const std::vector<SubtourCut>& cuts, std::size_t n,
                     const std::vector<SupportArc>& arcs, double tolerance) {
    std::set<std::vector<std::uint32_t>> seen;
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        const SubtourCut& cut = cuts[k];
        SCOPED_TRACE("cut " + std::to_string(k));
        ASSERT_FALSE(cut.cities.empty());
        ASSERT_LT(cut.cities.size(), n);
        ASSERT_LT(cut.cities.back(), n);
        ASSERT_TRUE(std::adjacent_find(cut.cities.begin(), cut.cities.end(),
                                       std::greater_equal<>()) == cut.cities.end())
            << "cities not strictly ascending";
        EXPECT_TRUE(seen.insert(cut.cities).second) << "set reported twice";
        std::vector<char> inside(n, 0);
        for (const std::uint32_t city : cut.cities) {
            inside[city] = 1;
        }
        const double outflow = outflowOf(arcs, inside);
        EXPECT_NEAR(cut.outflow, outflow, 1e-12);
        EXPECT_LT(outflow, 1.0 - tolerance);
        if (k > 0) {
            EXPECT_LE(cuts[k - 1].outflow, cut.outflow);
        }
    }
}

// On a connected support: the side reported when both are violated, as they
// are together under exact degree equations, is the smaller, or of equal
// halves the one with city 0; and no set comes with its complement.
void expectSmallerSides(const std::vector<SubtourCut>& cuts, std::size_t n) {
    std::set<std::vector<std::uint32_t>> sets;
    for (const SubtourCut& cut : cuts) {
        EXPECT_TRUE(2 * cut.cities.size() < n ||
                    (2 * cut.cities.size() == n && cut.cities.front() == 0))
            << cut.cities.size() << " cities from " << cut.cities.front();
        sets.insert(cut.cities);
    }
    for (const SubtourCut& cut : cuts) {
        std::vector<std::uint32_t> complement;
        for (std::uint32_t city = 0; city < n; ++city) {
            if (!std::binary_search(cut.cities.begin(), cut.cities.end(), city)) {
                complement.push_back(city);
            }
        }
        EXPECT_EQ(sets.count(complement), 0u) << "a set and its complement";
    }
}

std::string trace(std::uint64_t seed, std::size_t n) {
    return "seed " + std::to_string(seed) + ", n " + std::to_string(n);
}

constexpr double kTolerances[] = {0.0, 1e-9, 0.125, 0.3};

// Tolerance 0.125 on values in quarters puts sets exactly on the limit:
// those are not violated.
TEST(SubtourSeparation, FindsTheLeastOutflowOfAllSubsetsExactly) {
    std::map<std::size_t, SubtourSeparation> separators;  // reused across seeds
    for (std::uint64_t seed = 0; seed < 800; ++seed) {
        std::mt19937_64 random(seed);
        const std::size_t n = 2 + seed % 11;
        const double tolerance = kTolerances[seed / 11 % 4];
        SCOPED_TRACE(trace(seed, n) + ", tolerance " + std::to_string(tolerance));
        const std::vector<SupportArc> arcs = randomSolution(random, n);
        SubtourSeparation& separation = separators.try_emplace(n, n).first->second;
        const std::vector<SubtourCut> cuts = separation.exact(arcs, tolerance);
        expectValidCuts(cuts, n, arcs, tolerance);
        const double least = bruteForceLeastOutflow(n, arcs);
        if (least < 1.0 - tolerance) {
            ASSERT_FALSE(cuts.empty()) << "least outflow " << least;
            EXPECT_NEAR(cuts.front().outflow, least, 1e-9);
        } else {
            EXPECT_TRUE(cuts.empty());
        }
        const std::vector<SubtourCut> components = separation.components(arcs);
        expectValidCuts(components, n, arcs, tolerance);
        if (components.empty()) {
            expectSmallerSides(cuts, n);
        } else {
            ASSERT_EQ(cuts.size(), components.size());
            for (std::size_t k = 0; k < cuts.size(); ++k) {
                EXPECT_EQ(cuts[k].cities, components[k].cities);
            }
        }
    }
}

TEST(SubtourSeparation, FindsTheLeastOutflowOfMaximumFlowsOnLargerSupports) {
    for (std::uint64_t seed = 0; seed < 800; ++seed) {
        std::mt19937_64 random(seed);
        const std::size_t n = 13 + seed % 28;
        SCOPED_TRACE(trace(seed, n));
        const std::vector<SupportArc> arcs = randomSolution(random, n);
        SubtourSeparation separation(n);
        const std::vector<SubtourCut> cuts = separation.exact(arcs, 1e-9);
        expectValidCuts(cuts, n, arcs, 1e-9);
        if (separation.components(arcs).empty()) {
            expectSmallerSides(cuts, n);
        }
        const double least = flowLeastOutflow(n, arcs);
        if (least < 1.0 - 1e-9) {
            ASSERT_FALSE(cuts.empty()) << "least outflow " << least;
            EXPECT_NEAR(cuts.front().outflow, least, 1e-9);
        } else {
            EXPECT_TRUE(cuts.empty());
        }
    }
}

// Blocks, each a cycle at 1/2, strung on a tour at 1/2: every block and every
// run of consecutive blocks has outflow 1/2, and any set that splits a block
// has at least 1, so the answer is made of unions of blocks, all tied.
TEST(SubtourSeparation, ReportsOnlyUnionsOfBlocksWhenManyCutsTie) {
    for (std::uint64_t seed = 0; seed < 40; ++seed) {
        std::mt19937_64 random(seed);
        const std::size_t blockCount = 2 + seed % 7;
        std::vector<std::size_t> sizes;
        for (std::size_t block = 0; block < blockCount; ++block) {
            sizes.push_back(2 + random() % 5);
        }
        const std::size_t n = std::accumulate(sizes.begin(), sizes.end(), std::size_t{0});
        SCOPED_TRACE(trace(seed, n));
        const std::vector<std::uint32_t> order = shuffledCities(random, n);
        std::vector<std::size_t> blockOf(n);
        for (std::size_t block = 0, begin = 0; block < blockCount; begin += sizes[block++]) {
            for (std::size_t k = begin; k < begin + sizes[block]; ++k) {
                blockOf[order[k]] = block;
            }
        }
        const std::vector<SupportArc> arcs =
            combine(random, n, {cyclesOf(order, sizes), cyclesOf(order, {n})}, {1, 1}, 2);
        SubtourSeparation separation(n);
        const std::vector<SubtourCut> cuts = separation.exact(arcs, 1e-9);
        expectValidCuts(cuts, n, arcs, 1e-9);
        ASSERT_FALSE(cuts.empty());
        for (const SubtourCut& cut : cuts) {
            EXPECT_EQ(cut.outflow, 0.5);
            std::vector<std::size_t> citiesOfBlock(blockCount, 0);
            for (const std::uint32_t city : cut.cities) {
                ++citiesOfBlock[blockOf[city]];
            }
            for (std::size_t block = 0; block < blockCount; ++block) {
                EXPECT_TRUE(citiesOfBlock[block] == 0 || citiesOfBlock[block] == sizes[block])
                    << "block " << block << " split";
            }
        }
    }
}

TEST(SubtourSeparation, FindsNoCutInATour) {
    for (std::uint64_t seed = 0; seed < 30; ++seed) {
        std::mt19937_64 random(seed);
        const std::size_t n = 2 + seed * 3;
        SCOPED_TRACE(trace(seed, n));
        const std::vector<SupportArc> arcs = combine(random, n, {randomTour(random, n)}, {1}, 1);
        SubtourSeparation separation(n);
        EXPECT_TRUE(separation.components(arcs).empty());
        EXPECT_TRUE(separation.exact(arcs, 0.0).empty());
    }
}

TEST(SubtourSeparation, GivesTheCitiesOfTwoDisjointCycles) {
    for (std::uint64_t seed = 0; seed < 30; ++seed) {
        std::mt19937_64 random(seed);
        const std::size_t n = 4 + seed;
        const std::size_t firstSize = 2 + random() % (n - 3);
        SCOPED_TRACE(trace(seed, n));
        const std::vector<std::uint32_t> order = shuffledCities(random, n);
        const std::vector<SupportArc> arcs =
            combine(random, n, {cyclesOf(order, {firstSize, n - firstSize})}, {1}, 1);
        std::vector<std::uint32_t> first(order.begin(),
                                         order.begin() + static_cast<std::ptrdiff_t>(firstSize));
        std::vector<std::uint32_t> second(order.begin() + static_cast<std::ptrdiff_t>(firstSize),
                                          order.end());
        std::sort(first.begin(), first.end());
        std::sort(second.begin(), second.end());
        if (second.front() < first.front()) {
            std::swap(first, second);
        }
        SubtourSeparation separation(n);
        for (const std::vector<SubtourCut>& cuts :
             {separation.components(arcs), separation.exact(arcs, 1e-9)}) {
            ASSERT_EQ(cuts.size(), 2u);
            EXPECT_EQ(cuts[0].cities, first);
            EXPECT_EQ(cuts[1].cities, second);
            EXPECT_EQ(cuts[0].outflow, 0.0);
            EXPECT_EQ(cuts[1].outflow, 0.0);
        }
    }
}

TEST(SubtourSeparation, HandlesZeroOneAndTwoCities) {
    SubtourSeparation none(0);
    EXPECT_TRUE(none.components({}).empty());
    EXPECT_TRUE(none.exact({}, 1e-9).empty());

    SubtourSeparation one(1);
    EXPECT_TRUE(one.components({}).empty());
    EXPECT_TRUE(one.exact({}, 1e-9).empty());

    SubtourSeparation two(2);
    const std::vector<SupportArc> tour = {{0, 1, 1.0}, {1, 0, 1.0}};
    EXPECT_TRUE(two.components(tour).empty());
    EXPECT_TRUE(two.exact(tour, 1e-9).empty());

    const std::vector<SubtourCut> apart = two.exact({}, 1e-9);
    ASSERT_EQ(apart.size(), 2u);
    EXPECT_EQ(apart[0].cities, std::vector<std::uint32_t>{0});
    EXPECT_EQ(apart[1].cities, std::vector<std::uint32_t>{1});

    // Half a tour: both singletons have outflow 1/2, one of them is the cut.
    const std::vector<SupportArc> half = {{0, 1, 0.5}, {1, 0, 0.5}};
    const std::vector<SubtourCut> cuts = two.exact(half, 1e-9);
    expectValidCuts(cuts, 2, half, 1e-9);
    ASSERT_EQ(cuts.size(), 1u);
    EXPECT_EQ(cuts[0].outflow, 0.5);
}

TEST(SubtourSeparation, IgnoresLoopsAndZeroValues) {
    const std::size_t n = 6;
    // The cycles 0-1-2 and 3-4-5, with a loop and an arc of value 0 between
    // them.
    const std::vector<SupportArc> arcs = {{0, 1, 1.0}, {1, 2, 1.0}, {2, 0, 1.0}, {3, 4, 1.0},
                                          {4, 5, 1.0}, {5, 3, 1.0}, {2, 2, 0.5}, {2, 3, 0.0}};
    SubtourSeparation separation(n);
    const std::vector<SubtourCut> cuts = separation.exact(arcs, 1e-9);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(cuts[0].cities, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(cuts[1].cities, (std::vector<std::uint32_t>{3, 4, 5}));

    const std::vector<SupportArc> tourWithLoop = {{0, 1, 1.0}, {1, 0, 1.0}, {1, 1, 0.25}};
    SubtourSeparation two(2);
    EXPECT_TRUE(two.exact(tourWithLoop, 0.0).empty());
}

// Outflows are never negative: with a tolerance of 1 or more, not even the
// components of a support that falls apart are violated.
TEST(SubtourSeparation, FindsNothingViolatedAtAToleranceOfOne) {
    const std::vector<SupportArc> apart = {{0, 1, 1.0}, {1, 0, 1.0}, {2, 3, 1.0}, {3, 2, 1.0}};
    // The cycles 0-1 and 2-3 at 1/2 and the tour 0-1-2-3 at 1/2: {0, 1} and
    // {2, 3} have outflow 1/2.
    const std::vector<SupportArc> halves = {{0, 1, 1.0}, {1, 0, 0.5}, {2, 3, 1.0},
                                            {3, 2, 0.5}, {1, 2, 0.5}, {3, 0, 0.5}};
    SubtourSeparation separation(4);
    EXPECT_EQ(separation.components(apart).size(), 2u);
    for (const double tolerance : {1.0, 1.5}) {
        EXPECT_TRUE(separation.exact(apart, tolerance).empty());
        EXPECT_TRUE(separation.exact(halves, tolerance).empty());
    }
    EXPECT_FALSE(separation.exact(halves, 0.0).empty());
}

TEST(SubtourSeparation, RejectsCitiesOutOfRangeAndANaNTolerance) {
    SubtourSeparation separation(3);
    const std::vector<SupportArc> arcs = {{0, 1, 1.0}, {1, 3, 1.0}};
    EXPECT_THROW(separation.components(arcs), std::invalid_argument);
    EXPECT_THROW(separation.exact(arcs, 1e-9), std::invalid_argument);
    EXPECT_THROW(separation.exact({}, std::numeric_limits<double>::quiet_NaN()),
                 std::invalid_argument);
}

// Values off by up to 1e-10, as an LP solver leaves them: every set reported
// must still be violated as measured, and the bounds of the guarantee, with
// the imbalance D measured here, must hold.
TEST(SubtourSeparation, ReportsOnlyViolatedSetsUnderTinyDegreeViolations) {
    for (std::uint64_t seed = 0; seed < 400; ++seed) {
        std::mt19937_64 random(seed);
        const std::size_t n = 2 + seed % 11;
        const double tolerance = kTolerances[seed / 11 % 4];
        SCOPED_TRACE(trace(seed, n) + ", tolerance " + std::to_string(tolerance));
        std::vector<SupportArc> arcs = randomSolution(random, n);
        std::uniform_real_distribution<double> noise(-1e-10, 1e-10);
        std::vector<double> excess(n, 0.0);
        for (SupportArc& arc : arcs) {
            arc.value += noise(random);
            excess[arc.tail] += arc.value;
            excess[arc.head] -= arc.value;
        }
        double imbalance = 0.0;
        for (const double value : excess) {
            imbalance += std::max(value, 0.0);
        }
        SubtourSeparation separation(n);
        const std::vector<SubtourCut> cuts = separation.exact(arcs, tolerance);
        expectValidCuts(cuts, n, arcs, tolerance);
        const double least = bruteForceLeastOutflow(n, arcs);
        if (least < 1.0 - tolerance - imbalance / 2 - 1e-12) {
            ASSERT_FALSE(cuts.empty()) << "least outflow " << least;
        }
        if (!cuts.empty()) {
            EXPECT_LE(cuts.front().outflow, least + imbalance + 1e-12);
        } else {
            EXPECT_GE(least, 1.0 - tolerance - imbalance / 2 - 1e-12);
        }
    }
}

}  // namespace

}  // namespace atsp
