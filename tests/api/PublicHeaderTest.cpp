// The usage at the top of <atsp/atsp.h>, line for line, compiled with that
// header alone: the example a reader copies has to build and say the truth.
#include <atsp/atsp.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// clang-format off: the lines as the header shows them.
TEST(PublicHeader, UsageExampleSolvesAsItSays) {
    const std::vector<std::int32_t> costs = {0, 10, 1,  // row i: the arcs from city i
                                             1, 0,  10, 10, 1, 0};
    const atsp::Problem problem = atsp::Problem::fromMatrix(3, costs);
    atsp::SolveOptions options;
    options.timeLimitSeconds = 60;
    const atsp::Solution solution = atsp::solve(problem, options);

    EXPECT_EQ(solution.tour, (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(solution.cost, 3);
    EXPECT_TRUE(solution.optimal);
}
// clang-format on

}  // namespace
