// Both variants of both searches on the TSPLIB asymmetric instances, each run
// under a time limit: a finished run reports exactly the published optimum,
// and a stopped one a bound and a tour on either side of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/MatrixReader.h"
#include "search/balasChristofides.h"
#include "search/balasChristofidesParallel.h"
#include "tests/support/TestGraphs.h"
#include "tours/StartingTour.h"

namespace atsp {

namespace {

struct Instance {
    std::string name;
    std::int64_t optimum;
};

std::vector<Instance> publishedOptima() {
    std::vector<Instance> instances;
    std::ifstream optima(std::string(TSPLIB_DIR) + "/optima.tsv");
    std::string header;
    std::getline(optima, header);
    Instance instance;
    int n = 0;
    while (optima >> instance.name >> n >> instance.optimum) {
        instances.push_back(instance);
    }
    return instances;
}

class TsplibSearch : public testing::TestWithParam<testing_support::SearchVariant> {};

TEST_P(TsplibSearch, FinishedRunsReportThePublishedOptimumAndStoppedOnesBracketIt) {
    if (!std::filesystem::is_directory(TSPLIB_DIR)) {
        GTEST_SKIP() << "no TSPLIB instances at " << TSPLIB_DIR;
    }
    const std::vector<Instance> instances = publishedOptima();
    ASSERT_EQ(instances.size(), 19u);
    SearchOptions options = GetParam().options;
    options.timeLimitSeconds = 1;
    for (const Instance& instance : instances) {
        std::string text;
        ASSERT_TRUE(readFileText(std::string(TSPLIB_DIR) + "/" + instance.name + ".mat", text));
        const MatrixReadResult graph = parseCostMatrix(text);
        ASSERT_EQ(graph.error, "") << instance.name;
        for (const bool parallel : {false, true}) {
            SCOPED_TRACE(instance.name + (parallel ? ", parallel" : ", serial"));
            const TourResult result =
                parallel
                    ? balasChristofidesParallel(graph.successors, graph.costs, nullptr, nullptr,
                                                &options)
                    : balasChristofides(graph.successors, graph.costs, nullptr, nullptr, &options);
            EXPECT_TRUE(testing_support::isSingleCycle(result.tour));
            EXPECT_EQ(tourCost(graph.successors, graph.costs, result.tour), result.cost);
            EXPECT_LE(result.lowerBound, instance.optimum);
            if (result.stoppedAtTimeLimit) {
                EXPECT_GE(result.cost, instance.optimum);
            } else {
                EXPECT_EQ(result.cost, instance.optimum);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothVariants, TsplibSearch,
                         testing::ValuesIn(testing_support::searchVariants()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace atsp
