// The clock of one search run: whether its time limit is up, and when its next
// progress report is due (see SearchOptions.h for what a caller may ask).
//
// Both are read from a steady clock started when the monitor is made, at the
// start of the search. Threads of a parallel search share one monitor: the
// limit is a constant, and a report is claimed by exactly one thread per
// interval through an atomic compare-and-exchange on the time of the next one,
// and the reports themselves are made one at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "search/SearchOptions.h"

namespace atsp {

class SearchMonitor {
  public:
    // `options` may be null (no limit, no reports); it must outlive the monitor.
    explicit SearchMonitor(const SearchOptions* options);

    SearchMonitor(const SearchMonitor&) = delete;
    SearchMonitor& operator=(const SearchMonitor&) = delete;

    bool hasTimeLimit() const { return timeLimited; }
    bool reportsProgress() const { return options != nullptr && options->progress != nullptr; }

    // Whether the time limit has passed; false without a limit.
    bool timeIsUp() const;

    using Clock = std::chrono::steady_clock;

    // When the time limit passes; the clock's end without a limit. For work
    // that takes a deadline of its own (a linear program's solve).
    Clock::time_point deadline() const {
        return timeLimited ? start + std::chrono::nanoseconds(limitNanoseconds)
                           : Clock::time_point::max();
    }

    // True for one caller once the next report is due, and then not again
    // until an interval later; false without reports.
    bool claimReport();

    // Hands `progress`, with its elapsed time filled in, to the caller's report
    // function, one call at a time. Only with reports.
    void report(SearchProgress progress);

  private:
    std::int64_t elapsedNanoseconds() const;

    const SearchOptions* options;
    const bool timeLimited;
    const Clock::time_point start;
    const std::int64_t limitNanoseconds;
    const std::int64_t intervalNanoseconds;
    std::atomic<std::int64_t> nextReportNanoseconds;
    std::mutex reportLock;  // the caller's function is not expected to be thread-safe
};

}  // namespace atsp
