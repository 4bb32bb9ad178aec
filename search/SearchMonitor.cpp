#include "search/SearchMonitor.h"

#include <algorithm>

namespace atsp {

namespace {

std::int64_t toNanoseconds(double seconds) {
    // Beyond about 292 years the count would overflow; no search runs so long.
    return static_cast<std::int64_t>(std::min(seconds, 9.0e9) * 1e9);
}

}  // namespace

SearchMonitor::SearchMonitor(const SearchOptions* options)
    : options(options),
      timeLimited(options != nullptr && options->timeLimitSeconds > 0),
      start(Clock::now()),
      limitNanoseconds(timeLimited ? toNanoseconds(options->timeLimitSeconds) : 0),
      intervalNanoseconds(
          options != nullptr
              ? std::max<std::int64_t>(1, toNanoseconds(options->progressIntervalSeconds))
              : 1),
      nextReportNanoseconds(intervalNanoseconds) {}

std::int64_t SearchMonitor::elapsedNanoseconds() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

bool SearchMonitor::timeIsUp() const {
    return timeLimited && elapsedNanoseconds() >= limitNanoseconds;
}

bool SearchMonitor::claimReport() {
    if (!reportsProgress()) {
        return false;
    }
    const std::int64_t now = elapsedNanoseconds();
    std::int64_t due = nextReportNanoseconds.load(std::memory_order_relaxed);
    if (now < due) {
        return false;
    }
    // Whoever moves the due time on first makes this report.
    return nextReportNanoseconds.compare_exchange_strong(due, now + intervalNanoseconds,
                                                         std::memory_order_relaxed);
}

void SearchMonitor::report(SearchProgress progress) {
    const std::lock_guard<std::mutex> guard(reportLock);
    progress.elapsedSeconds = static_cast<double>(elapsedNanoseconds()) / 1e9;
    options->progress(progress);
}

}  // namespace atsp
