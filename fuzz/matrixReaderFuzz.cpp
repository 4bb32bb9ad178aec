// Fuzz target for the cost-matrix reader. Any crash or sanitizer report is a
// fault, and so is any disagreement with an independent reading of the same
// text by formatted stream extraction, the format's reference semantics: a
// text is valid exactly when extraction reads a count from 0 to 65535 and
// then count x count 32-bit integers, and the graph must hold exactly the
// off-diagonal values it read.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "io/MatrixReader.h"

namespace atsp {
namespace {

// Keeps the reference reading cheap: a huge count with a short text is read
// only up to the end of the text anyway.
constexpr long long largestCount = 65535;

[[noreturn]] void fault() {
    std::abort();
}

}  // namespace
}  // namespace atsp

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace atsp;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const MatrixReadResult read = parseCostMatrix(text);
    const Graph& graph = read.graph;

    std::istringstream reference(text);
    long long count = -1;
    bool valid = static_cast<bool>(reference >> count) && count >= 0 && count <= largestCount;
    const long long n = valid ? count : 0;
    std::size_t arcsChecked = 0;
    for (long long i = 0; valid && i < n; ++i) {
        for (long long j = 0; j < n; ++j) {
            int value = 0;
            if (!(reference >> value)) {
                valid = false;
                break;
            }
            if (i == j || !read.error.empty()) {
                continue;
            }
            // Row i lists every other city in order: column j sits at j or j-1.
            const std::size_t position = static_cast<std::size_t>(j < i ? j : j - 1);
            if (graph.cityCount() != static_cast<std::size_t>(n) ||
                graph.rowLength(static_cast<Node>(i)) != static_cast<std::size_t>(n - 1) ||
                graph.successors(static_cast<Node>(i))[position] != j ||
                graph.costs(static_cast<Node>(i))[position] != value) {
                fault();
            }
            ++arcsChecked;
        }
    }

    if (valid != read.error.empty()) {
        fault();  // accepted a malformed text, or rejected a valid one
    }
    if (!valid && graph.cityCount() != 0) {
        fault();  // a rejected text must leave no half-built graph
    }
    if (valid && arcsChecked != static_cast<std::size_t>(n * (n - 1))) {
        fault();
    }
    return 0;
}
