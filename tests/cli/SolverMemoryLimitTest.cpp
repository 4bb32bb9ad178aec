// Memory exhaustion seen from outside: under an address-space limit the
// solver ends with a message on standard output and status 1, whether memory
// runs out while the file is read, while the serial search runs, or on a
// thread of the parallel search's team — never with the runtime's abort
// message on standard error.

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/RunProgram.h"

namespace atsp {

namespace {

using testing_support::ProgramRun;
using testing_support::runCommand;
using testing_support::ScratchFolder;
using testing_support::shellQuote;

class SolverUnderMemoryLimit : public ::testing::Test {
  protected:
    // large.txt, 3000 cities: about 62 MB of text and 54 MB of arcs, so that
    // the limits below fall while reading. hard.txt, 120 cities with
    // symmetric costs 0..1000: every 2-cycle is an assignment, and the search
    // tree under the assignment bound outgrows the limits below within
    // seconds, on one thread and inside the thread team.
    static void SetUpTestSuite() {
        folder = new ScratchFolder;
        writeInstance("large.txt", 3000, 1000000, false);
        writeInstance("hard.txt", 120, 1000, true);
    }
    static void TearDownTestSuite() { delete folder; }

    static void writeInstance(const char* name, int cities, int highestCost, bool symmetric) {
        std::mt19937_64 random(cities);
        std::uniform_int_distribution<int> cost(0, highestCost);
        std::vector<std::vector<int>> matrix(cities, std::vector<int>(cities, -1));
        for (int i = 0; i < cities; ++i) {
            for (int j = 0; j < cities; ++j) {
                if (i != j) {
                    matrix[i][j] = symmetric && j < i ? matrix[j][i] : cost(random);
                }
            }
        }
        std::ofstream file(folder->path() / name);
        file << cities << "\n";
        for (const std::vector<int>& row : matrix) {
            for (const int value : row) {
                file << value << ' ';
            }
            file << '\n';
        }
    }

    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "AddressSanitizer reserves far more address space than any limit here";
#endif
    }

    static ProgramRun solveWithin(int kilobytes, const std::string& arguments) {
        return runCommand("ulimit -v " + std::to_string(kilobytes) + " && " +
                              shellQuote(SOLVER_PATH) + " " + arguments,
                          folder->path());
    }

    static inline ScratchFolder* folder = nullptr;
};

struct MemoryLimitCase {
    const char* where;
    const char* mode;
    const char* file;
    int kilobytes;
};

TEST_F(SolverUnderMemoryLimit, RunningOutOfMemoryIsReportedOnStandardOutputWithStatusOne) {
    const MemoryLimitCase cases[] = {
        {"while reading", "", "large.txt", 60000},
        {"in the serial search", "--bound assignment ", "hard.txt", 60000},
        {"while reading, parallel", "parallel ", "large.txt", 60000},
        {"inside the thread team", "--bound assignment parallel ", "hard.txt", 100000},
    };
    for (const MemoryLimitCase& limit : cases) {
        const ProgramRun run = solveWithin(limit.kilobytes, std::string(limit.mode) + limit.file);
        EXPECT_EQ(run.out, std::string("Out of memory: ") + limit.file +
                               " needs more memory than is available\n")
            << limit.where;
        EXPECT_EQ(run.err, "") << limit.where;
        EXPECT_EQ(run.exitStatus, 1) << limit.where;
    }
}

}  // namespace

}  // namespace atsp
