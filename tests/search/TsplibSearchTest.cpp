// Every variant of the search on the TSPLIB asymmetric instances, each run
// under a time limit: a finished run reports exactly the published optimum,
// and a stopped one a bound and a tour on either side of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "graph/Tour.h"
#include "io/MatrixReader.h"
#include "io/TextFile.h"
#include "search/SearchEngine.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

class TsplibSearch : public testing::TestWithParam<testing_support::SearchVariant> {};

TEST_P(TsplibSearch, FinishedRunsReportThePublishedOptimumAndStoppedOnesBracketIt) {
    if (!std::filesystem::is_directory(TSPLIB_DIR)) {
        GTEST_SKIP() << "no TSPLIB instances at " << TSPLIB_DIR;
    }
    const std::vector<testing_support::PublishedOptimum> instances =
        testing_support::publishedOptima(TSPLIB_DIR);
    ASSERT_EQ(instances.size(), 19u);
    SearchOptions options = GetParam().options;
    options.timeLimitSeconds = 1;
    for (const testing_support::PublishedOptimum& instance : instances) {
        std::string text;
        ASSERT_TRUE(readFileText(std::string(TSPLIB_DIR) + "/" + instance.name + ".mat", text));
        const MatrixReadResult problem = parseCostMatrix(text);
        ASSERT_EQ(problem.error, "") << instance.name;
        SCOPED_TRACE(instance.name);
        const TourResult result = searchTour(problem.graph, options);
        EXPECT_TRUE(testing_support::isSingleCycle(result.tour));
        EXPECT_EQ(tourCost(problem.graph, result.tour), result.cost);
        EXPECT_LE(result.lowerBound, instance.optimum);
        if (result.stopped) {
            EXPECT_GE(result.cost, instance.optimum);
        } else {
            EXPECT_EQ(result.cost, instance.optimum);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, TsplibSearch,
                         testing::ValuesIn(testing_support::searchVariants()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace atsp
