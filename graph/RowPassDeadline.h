// When a pass over a graph's rows looks at the clock.
//
// A pass over every arc (the cost lattice, the LP's cheapest arcs, pricing,
// safe bounds, copies of the graph) takes tens of milliseconds at n = 5000
// and more beyond, and a search must end within a tenth of a second of its
// limit. Reading the clock at every row would cost more than the rows of
// small graphs; every 64 rows is at most 64 n arcs between looks (0.3 M at
// n = 5000, well under a millisecond).
#pragma once

#include <chrono>
#include <cstddef>

namespace atsp {

// Whether a pass that has reached `row` should end: `deadline` has passed,
// looked at on every 64th row only, and never when there is none (max()).
inline bool rowPassOutOfTime(std::size_t row, std::chrono::steady_clock::time_point deadline) {
    return deadline != std::chrono::steady_clock::time_point::max() && row % 64 == 0 &&
           std::chrono::steady_clock::now() >= deadline;
}

}  // namespace atsp
