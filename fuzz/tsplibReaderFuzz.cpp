// Fuzz target for the TSPLIB readers, problem and tour alike. Any crash or
// sanitizer report is a fault, and so is:
// - an accepted problem whose graph is not the complete graph without loops
//   that every reader builds (row i lists every j != i ascending, one cost
//   each), or whose text the front end would not hand to this reader;
// - a rejected problem or tour that leaves anything half built;
// - a different reading of the same text with CRLF line ends;
// - an accepted tour (of 0 to 7 cities) that is not one cycle through all
//   cities, or that does not read back the same from the text written for it.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/TourFile.h"
#include "io/TsplibReader.h"

namespace atsp {
namespace {

[[noreturn]] void fault() {
    std::abort();
}

void checkCompleteGraph(const Graph& graph) {
    const std::size_t n = graph.cityCount();
    if (n == 0) {
        fault();
    }
    for (std::size_t i = 0; i < n; ++i) {
        const auto heads = graph.successors(static_cast<Node>(i));
        if (heads.size() != n - 1 || graph.costs(static_cast<Node>(i)).size() != n - 1) {
            fault();
        }
        for (std::size_t k = 0; k + 1 < n; ++k) {
            if (heads[k] != (k < i ? k : k + 1)) {
                fault();
            }
        }
    }
}

bool sameGraph(const Graph& a, const Graph& b) {
    if (a.cityCount() != b.cityCount()) {
        return false;
    }
    for (std::size_t i = 0; i < a.cityCount(); ++i) {
        const Node row = static_cast<Node>(i);
        if (!std::ranges::equal(a.successors(row), b.successors(row)) ||
            !std::ranges::equal(a.costs(row), b.costs(row))) {
            return false;
        }
    }
    return true;
}

bool isSingleCycle(const std::vector<Node>& tour, std::size_t n) {
    if (tour.size() != n) {
        return false;
    }
    std::vector<bool> visited(n, false);
    std::size_t city = 0;
    for (std::size_t step = 0; step < n; ++step) {
        if (tour[city] >= n || visited[city]) {
            return false;
        }
        visited[city] = true;
        city = tour[city];
    }
    return city == 0;
}

std::string withCrlf(const std::string& text) {
    std::string converted;
    for (const char c : text) {
        converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return converted;
}

}  // namespace
}  // namespace atsp

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace atsp;
    const std::string text(reinterpret_cast<const char*>(data), size);

    const MatrixReadResult problem = parseTsplib(text);
    if (problem.error.empty()) {
        checkCompleteGraph(problem.graph);
        if (!isTsplibText(text)) {
            fault();
        }
    } else if (problem.graph.cityCount() != 0) {
        fault();
    }
    const MatrixReadResult crlf = parseTsplib(withCrlf(text));
    if (crlf.error != problem.error || !sameGraph(crlf.graph, problem.graph)) {
        fault();
    }

    for (std::size_t n = 0; n < 8; ++n) {
        const TourReadResult read = parseTsplibTour(text, n);
        if (!read.error.empty()) {
            if (!read.tour.empty()) {
                fault();
            }
            continue;
        }
        if (!isSingleCycle(read.tour, n) ||
            parseTsplibTour(tsplibTourText("fuzz", "", read.tour), n).tour != read.tour) {
            fault();
        }
    }
    return 0;
}
