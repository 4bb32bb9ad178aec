// The cut pool: one form per cut whatever side it comes as, and the violated
// ones of a support as brute-force measurement finds them, also while other
// threads add.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "lp/CutPool.h"

namespace atsp {

namespace {

using Cities = std::vector<std::uint32_t>;

double outflow(const Cities& side, const std::vector<SupportArc>& support) {
    std::vector<bool> inSide(64, false);
    for (const std::uint32_t city : side) {
        inSide[city] = true;
    }
    double sum = 0;
    for (const SupportArc& arc : support) {
        if (arc.value > 0 && arc.tail != arc.head && inSide[arc.tail] && !inSide[arc.head]) {
            sum += arc.value;
        }
    }
    return sum;
}

Cities randomSet(std::mt19937_64& random, std::uint32_t n) {
    Cities set;
    for (std::uint32_t city = 0; city < n; ++city) {
        if (random() % 2 != 0) {
            set.push_back(city);
        }
    }
    return set;
}

// Two random cycle covers with weights 1/2 each: the degree equations hold,
// and the sums are exact.
std::vector<SupportArc> randomSupport(std::mt19937_64& random, std::uint32_t n) {
    std::vector<SupportArc> support;
    for (int cover = 0; cover < 2; ++cover) {
        std::vector<std::uint32_t> order(n);
        std::iota(order.begin(), order.end(), 0u);
        std::shuffle(order.begin(), order.end(), random);
        std::uint32_t begin = 0;
        while (begin < n) {
            std::uint32_t size = std::min<std::uint32_t>(n - begin, 2 + random() % 4);
            if (n - begin - size == 1) {
                ++size;
            }
            for (std::uint32_t k = 0; k < size; ++k) {
                support.push_back({order[begin + k], order[begin + (k + 1) % size], 0.5});
            }
            begin += size;
        }
    }
    return support;
}

TEST(CutSide, IsTheSmallerSideAndOfEqualHalvesTheOneHoldingCityZero) {
    EXPECT_EQ(cutSide(Cities{1, 2}, 6), (Cities{1, 2}));
    EXPECT_EQ(cutSide(Cities{0, 2, 3, 5}, 6), (Cities{1, 4}));
    EXPECT_EQ(cutSide(Cities{0, 4, 5}, 6), (Cities{0, 4, 5}));
    EXPECT_EQ(cutSide(Cities{1, 2, 3}, 6), (Cities{0, 4, 5}));
    EXPECT_EQ(cutSide(Cities{3}, 4), (Cities{3}));
    EXPECT_EQ(cutSide(Cities{0, 1, 2}, 4), (Cities{3}));
}

TEST(CutSide, TheEmptySetAndAllCitiesAreNoCut) {
    EXPECT_TRUE(cutSide(Cities{}, 5).empty());
    EXPECT_TRUE(cutSide(Cities{0, 1, 2, 3, 4}, 5).empty());
    EXPECT_TRUE(cutSide(Cities{}, 0).empty());
}

TEST(CutSide, RejectsUnsortedRepeatedAndForeignCities) {
    EXPECT_THROW(cutSide(Cities{2, 1}, 5), std::invalid_argument);
    EXPECT_THROW(cutSide(Cities{1, 1}, 5), std::invalid_argument);
    EXPECT_THROW(cutSide(Cities{1, 5}, 5), std::invalid_argument);
}

TEST(CutPool, KeepsASetAndItsComplementOnceAndLeavesOutSingleCities) {
    CutPool pool(6);
    const std::vector<SubtourCut> cuts{{{0, 1}, 0},          {{2, 3, 4, 5}, 0}, {{3}, 0},
                                       {{0, 1, 2, 4, 5}, 0}, {{0, 1, 2}, 0},    {{3, 4, 5}, 0},
                                       {{0, 1}, 0}};
    EXPECT_EQ(pool.add(cuts), 2u);
    EXPECT_EQ(pool.size(), 2u);
    EXPECT_EQ(pool.add(cuts), 0u);
    EXPECT_THROW(pool.add(std::vector<SubtourCut>{{{4, 2}, 0}}), std::invalid_argument);
    EXPECT_EQ(pool.size(), 2u);
}

TEST(CutPool, FindsExactlyTheViolatedSetsAsMeasuredOrderedByOutflow) {
    std::mt19937_64 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        const std::uint32_t n = 4 + random() % 12;
        CutPool pool(n);
        std::set<Cities> sides;
        std::vector<SubtourCut> cuts;
        for (int k = 0; k < 30; ++k) {
            const Cities set = randomSet(random, n);
            cuts.push_back({set, 0});
            const Cities side = cutSide(set, n);
            if (side.size() >= 2) {
                sides.insert(side);
            }
        }
        ASSERT_EQ(pool.add(cuts), sides.size());
        const std::vector<SupportArc> support = randomSupport(random, n);
        // Halves are exact, so 1 - 0.25 separates outflows of 1/2 from 1.
        const double tolerance = trial % 2 == 0 ? 0.25 : 0.0;
        std::vector<SubtourCut> expected;
        for (const Cities& side : sides) {
            const double flow = outflow(side, support);
            if (flow < 1 - tolerance) {
                expected.push_back({side, flow});
            }
        }
        const std::vector<SubtourCut> found = pool.violated(support, tolerance, 1000);
        ASSERT_EQ(found.size(), expected.size());
        for (std::size_t k = 0; k < found.size(); ++k) {
            EXPECT_EQ(found[k].outflow, outflow(found[k].cities, support));
            EXPECT_TRUE(sides.contains(found[k].cities));
            if (k > 0) {
                EXPECT_LE(found[k - 1].outflow, found[k].outflow);
            }
        }
        const std::size_t limit = found.size() / 2;
        const std::vector<SubtourCut> first = pool.violated(support, tolerance, limit);
        ASSERT_EQ(first.size(), limit);
        for (std::size_t k = 0; k < limit; ++k) {
            EXPECT_EQ(first[k].cities, found[k].cities);
        }
    }
}

TEST(CutPool, IgnoresLoopsAndArcsWithoutValue) {
    CutPool pool(4);
    pool.add(std::vector<SubtourCut>{{{0, 1}, 0}});
    const std::vector<SupportArc> support{{0, 1, 1}, {1, 0, 1}, {2, 3, 1}, {3, 2, 1},
                                          {0, 0, 5}, {1, 2, 0}, {0, 3, -1}};
    const std::vector<SubtourCut> found = pool.violated(support, 1e-6, 10);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].cities, (Cities{0, 1}));
    EXPECT_EQ(found[0].outflow, 0);
}

TEST(CutPool, AnEmptyPoolAndAnEmptySupportFindNothingOrEverything) {
    CutPool empty(5);
    EXPECT_TRUE(empty.violated(std::vector<SupportArc>{{0, 1, 1}}, 1e-6, 10).empty());
    CutPool pool(5);
    pool.add(std::vector<SubtourCut>{{{0, 1}, 0}, {{2, 3}, 0}});
    EXPECT_EQ(pool.violated({}, 1e-6, 10).size(), 2u);
    CutPool none(0);
    EXPECT_EQ(none.add(std::vector<SubtourCut>{{{}, 0}}), 0u);
}

// Threads add overlapping cuts while others read: every distinct side ends
// up once, and every read reports only violated, stored sides.
TEST(CutPool, ParallelAddsAndReadsKeepEachSideOnce) {
    constexpr std::uint32_t n = 12;
    std::mt19937_64 random(11);
    std::vector<std::vector<SubtourCut>> batches(8);
    std::set<Cities> sides;
    for (std::vector<SubtourCut>& batch : batches) {
        for (int k = 0; k < 200; ++k) {
            const Cities set = randomSet(random, n);
            batch.push_back({set, 0});
            const Cities side = cutSide(set, n);
            if (side.size() >= 2) {
                sides.insert(side);
            }
        }
    }
    const std::vector<SupportArc> support = randomSupport(random, n);
    CutPool pool(n);
    std::vector<std::size_t> added(batches.size(), 0);
    std::vector<char> readsGood(batches.size(), 1);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < batches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < batches[t].size(); k += 20) {
                const std::size_t end = std::min(batches[t].size(), k + 20);
                added[t] += pool.add(std::span(batches[t]).subspan(k, end - k));
                for (const SubtourCut& cut : pool.violated(support, 1e-6, 1000)) {
                    readsGood[t] = readsGood[t] && sides.contains(cut.cities) &&
                                   cut.outflow == outflow(cut.cities, support) &&
                                   cut.outflow < 1 - 1e-6;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::accumulate(added.begin(), added.end(), std::size_t{0}), sides.size());
    EXPECT_EQ(pool.size(), sides.size());
    for (const char good : readsGood) {
        EXPECT_TRUE(good);
    }
}

}  // namespace

}  // namespace atsp
