// Fuzz target for the whole solve on tiny instances: n from 1 to 8 cities
// with any 32-bit costs, negative ones included, read from the input bytes.
// Both searches, each as first built and fast, are checked against an
// independent Held-Karp optimum, and their two serial variants against each
// other:
// - costs of 0 or more: both return the optimum;
// - negative costs: the serial search returns the optimum or -1 (it stops
//   once a bound goes negative); the parallel search returns -1 exactly when
//   the starting tour's cost is negative, and the optimum otherwise;
// - every tour returned with a cost other than -1 is one cycle through all
//   cities and costs what was returned.

#include <omp.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "search/balasChristofides.h"
#include "search/balasChristofidesParallel.h"
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
    const int threads = 1 + (data[0] / 8) % 4;
    ++data;
    --size;
    Matrix matrix(n, std::vector<std::int32_t>(n, -1));
    bool anyNegative = false;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            std::int32_t cost = 0;
            const std::size_t take = size < sizeof cost ? size : sizeof cost;
            std::memcpy(&cost, data, take);
            data += take;
            size -= take;
            if (i != j) {
                matrix[i][j] = cost;
                anyNegative = anyNegative || cost < 0;
            }
        }
    }
    const testing_support::Graph graph = testing_support::completeGraph(matrix);
    const std::int64_t optimum = testing_support::heldKarpOptimum(matrix);
    std::vector<Node> firstTour(n);
    for (int i = 0; i < n; ++i) {
        firstTour[i] = static_cast<Node>((i + 1) % n);
    }
    const std::int64_t startingCost = testing_support::tourCost(matrix, firstTour);

    // Both variants, the search as first built and the fast one, must agree.
    std::int64_t describedSerialCost = 0;
    for (const testing_support::SearchVariant& variant : testing_support::searchVariants()) {
        const TourResult serial =
            balasChristofides(graph.successors, graph.costs, nullptr, nullptr, &variant.options);
        if (serial.cost == -1 && anyNegative) {
            // a negative bound stopped the search
        } else if (serial.cost != optimum) {
            fault();
        } else {
            checkTour(serial, matrix);
        }
        if (&variant == &testing_support::searchVariants().front()) {
            describedSerialCost = serial.cost;
        } else if (serial.cost != describedSerialCost) {
            fault();
        }

        omp_set_num_threads(threads);
        const TourResult parallel = balasChristofidesParallel(graph.successors, graph.costs,
                                                              nullptr, nullptr, &variant.options);
        if (startingCost < 0) {
            if (parallel.cost != -1) {
                fault();
            }
        } else if (parallel.cost != optimum) {
            fault();
        } else {
            checkTour(parallel, matrix);
        }
    }
    return 0;
}
