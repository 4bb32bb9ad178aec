// Fuzz target for the whole solve on tiny instances: n from 1 to 8 cities
// with any 32-bit costs, negative ones included, read from the input bytes.
// Every variant of the search (as first built and fast, on one thread and on
// teams) is checked against an independent Held-Karp optimum:
// - a starting tour of negative cost stops the search at once with -1;
// - otherwise every variant returns the optimum, negative or not, as one
//   cycle through all cities that costs what was returned.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "search/SearchEngine.h"
#include "tests/support/TestGraphs.h"

namespace atsp {
namespace {

using testing_support::Matrix;

[[noreturn]] void fault() {
    std::abort();
}

void checkTour(const TourResult& result, const Matrix& matrix) {
    if (result.tour.size() != matrix.size() || !testing_support::isSingleCycle(result.tour) ||
        testing_support::tourCost(matrix, result.tour) != result.cost) {
        fault();
    }
}

}  // namespace
}  // namespace atsp

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace atsp;
    if (size == 0) {
        return 0;
    }
    const int n = 1 + data[0] % 8;
    ++data;
    --size;
    Matrix matrix(n, std::vector<std::int32_t>(n, -1));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            std::int32_t cost = 0;
            const std::size_t take = size < sizeof cost ? size : sizeof cost;
            std::memcpy(&cost, data, take);
            data += take;
            size -= take;
            if (i != j) {
                matrix[i][j] = cost;
            }
        }
    }
    const Graph graph = testing_support::completeGraph(matrix);
    const std::int64_t optimum = testing_support::heldKarpOptimum(matrix);
    std::vector<Node> firstTour(n);
    for (int i = 0; i < n; ++i) {
        firstTour[i] = static_cast<Node>((i + 1) % n);
    }
    const std::int64_t startingCost = testing_support::tourCost(matrix, firstTour);

    for (const testing_support::SearchVariant& variant : testing_support::searchVariants()) {
        const TourResult result = searchTour(graph, variant.options);
        if (startingCost < 0) {
            if (result.cost != -1 || !result.negativeStart) {
                fault();
            }
        } else if (result.cost != optimum) {
            fault();
        } else {
            checkTour(result, matrix);
        }
    }
    return 0;
}
