#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

#include "app/MemoryCeiling.h"

namespace atsp {

namespace {

constexpr const char* kMeminfo =
    "MemTotal:       24634060 kB\n"
    "MemFree:        23000000 kB\n"
    "MemAvailable:   23500000 kB\n"
    "Buffers:           12000 kB\n"
    "SwapTotal:       2097148 kB\n"
    "SwapFree:        1000000 kB\n";

TEST(MemoryCeiling, AvailableMemoryIsMemAvailablePlusFreeSwapInBytes) {
    EXPECT_EQ(availableMemoryBytes(kMeminfo), (23500000ULL + 1000000ULL) * 1024);
    EXPECT_EQ(availableMemoryBytes("MemAvailable: 100 kB\nSwapTotal: 0 kB\n"), 100ULL * 1024);
    EXPECT_EQ(availableMemoryBytes("MemAvailable:\t  7 kB"), 7ULL * 1024)
        << "a last line without a newline, tabs before the number";
}

TEST(MemoryCeiling, AvailableMemoryIsUnknownWithoutAReadableMemAvailable) {
    EXPECT_EQ(availableMemoryBytes(""), 0U);
    EXPECT_EQ(availableMemoryBytes("MemTotal: 1000 kB\nSwapFree: 500 kB\n"), 0U);
    EXPECT_EQ(availableMemoryBytes("MemAvailable: lots\nSwapFree: 500 kB\n"), 0U);
    EXPECT_EQ(availableMemoryBytes("MemAvailableSoon: 9 kB\n"), 0U);
}

// Runs `check` in a child process, whose limits the test may change freely;
// returns the child's exit status.
template <typename Check>
int inChildProcess(Check check) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(check());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST(MemoryCeiling, TheCapKeepsALowerLimitAndOtherwiseLimitsTheAddressSpace) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "no cap with AddressSanitizer";
#endif
    const int keptLowerLimit = inChildProcess([] {
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = rlim_t{1} << 32;
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            return 2;
        }
        capAddressSpaceAtAvailableMemory();
        getrlimit(RLIMIT_AS, &limit);
        return limit.rlim_cur == (rlim_t{1} << 32) ? 0 : 1;
    });
    EXPECT_EQ(keptLowerLimit, 0);

    const int capped = inChildProcess([] {
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            return 2;
        }
        capAddressSpaceAtAvailableMemory();
        getrlimit(RLIMIT_AS, &limit);
        return limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur > (rlim_t{1} << 20) ? 0 : 1;
    });
    EXPECT_EQ(capped, 0);
}

}  // namespace

}  // namespace atsp
