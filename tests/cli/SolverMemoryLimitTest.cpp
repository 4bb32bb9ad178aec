// Memory exhaustion seen from outside: under an address-space limit the
// solver ends with a message on standard output and status 1, whether memory
// runs out while the file is read, while the serial search runs, or on a
// thread of the parallel search's team — never with the runtime's abort
// message on standard error.

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "tests/support/RunProgram.h"

namespace {

using testing_support::ProgramRun;
using testing_support::runCommand;
using testing_support::ScratchFolder;
using testing_support::shellQuote;

class SolverUnderMemoryLimit : public ::testing::Test {
protected:
    // 3000 cities: about 62 MB of text and 54 MB per copy of the arcs, so
    // that the limits below fall while reading, in the serial search, and
    // inside the parallel search's thread team.
    static void SetUpTestSuite() {
        folder = new ScratchFolder;
        std::ofstream file(folder->path() / "large.txt");
        std::mt19937_64 random(3000);
        std::uniform_int_distribution<int> cost(0, 1000000);
        constexpr int cities = 3000;
        file << cities << "\n";
        for (int i = 0; i < cities; ++i) {
            for (int j = 0; j < cities; ++j) {
                file << (i == j ? -1 : cost(random)) << ' ';
            }
            file << '\n';
        }
    }
    static void TearDownTestSuite() { delete folder; }

    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "AddressSanitizer reserves far more address space than any limit here";
#endif
    }

    static ProgramRun solveWithin(int kilobytes, const std::string& mode) {
        return runCommand("ulimit -v " + std::to_string(kilobytes) + " && " +
                              shellQuote(SOLVER_PATH) + " " + mode + "large.txt",
                          folder->path());
    }

    static inline ScratchFolder* folder = nullptr;
};

struct MemoryLimitCase {
    const char* where;
    const char* mode;
    int kilobytes;
};

TEST_F(SolverUnderMemoryLimit, RunningOutOfMemoryIsReportedOnStandardOutputWithStatusOne) {
    const MemoryLimitCase cases[] = {
        {"while reading", "", 60000},
        {"in the serial search", "", 150000},
        {"while reading, parallel", "parallel ", 60000},
        {"inside the thread team", "parallel ", 400000},
    };
    for (const MemoryLimitCase& limit : cases) {
        const ProgramRun run = solveWithin(limit.kilobytes, limit.mode);
        EXPECT_EQ(run.out, "Out of memory: large.txt needs more memory than is available\n")
            << limit.where;
        EXPECT_EQ(run.err, "") << limit.where;
        EXPECT_EQ(run.exitStatus, 1) << limit.where;
    }
}

}  // namespace
