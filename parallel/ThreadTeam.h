// Running one piece of work on every thread of an OpenMP team.
//
// A search detects its end by counting idle threads, so it must know its team
// size exactly: counting a thread that never runs, it would wait forever. The
// plan is therefore the lesser of the maximum thread count and the thread
// limit, or a single thread when no further nesting level can be active, and
// the region asks for exactly that many threads with dynamic adjustment off.
// Should the runtime still start fewer (a thread limit shared with an outer
// team), the work learns the real size before any thread starts it.
#pragma once

#include <omp.h>

#include <algorithm>
#include <cstdint>

namespace atsp {

// How many threads a parallel region started here for `wanted` threads (0:
// the runtime's default) will really have, as far as can be known before it
// starts.
inline std::int32_t plannedTeamSize(std::int32_t wanted = 0) {
    if (wanted == 1 || omp_get_active_level() >= omp_get_max_active_levels()) {
        return 1;
    }
    const std::int32_t asked = wanted > 0 ? wanted : omp_get_max_threads();
    return std::max(1, std::min(asked, omp_get_thread_limit()));
}

// Switches dynamic adjustment of team sizes off for its lifetime and then
// restores the caller's setting, also when an exception passes.
class DynamicAdjustmentOff {
  public:
    DynamicAdjustmentOff() : savedSetting(omp_get_dynamic()) { omp_set_dynamic(0); }
    ~DynamicAdjustmentOff() { omp_set_dynamic(savedSetting); }
    DynamicAdjustmentOff(const DynamicAdjustmentOff&) = delete;
    DynamicAdjustmentOff& operator=(const DynamicAdjustmentOff&) = delete;

  private:
    int savedSetting;
};

// Runs work(thread, teamSize) on each thread of a team of `threads` (at
// most; see the header), after teamStarted(teamSize) has run once on one of
// them while the others wait. One thread: on the calling thread, without a
// parallel region. Returns when every thread has returned from `work`. An
// exception escaping `work` inside a team ends the program.
template <typename TeamStarted, typename Work>
void runTeam(std::int32_t threads, TeamStarted teamStarted, Work work) {
    if (threads <= 1) {
        teamStarted(1);
        work(0, 1);
        return;
    }
    DynamicAdjustmentOff dynamicAdjustmentOff;
#pragma omp parallel num_threads(threads)
    {
        // The implied barrier of `single` holds every thread until the size
        // is known everywhere.
#pragma omp single
        teamStarted(omp_get_num_threads());
        work(omp_get_thread_num(), omp_get_num_threads());
    }
}

}  // namespace atsp
