// The solver program seen from outside: its command line, its messages on
// standard output (never standard error), its exit statuses, and the report.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "tests/support/RunProgram.h"

namespace atsp {

namespace {

using testing_support::ProgramRun;
using testing_support::runCommand;
using testing_support::ScratchFolder;
using testing_support::shellQuote;

const std::string solverPath = SOLVER_PATH;

ProgramRun solve(const std::string& arguments, const std::filesystem::path& folder = ".") {
    return runCommand(shellQuote(solverPath) + " " + arguments, folder);
}

// The cost printed by a normal report, after checking the report's shape:
// the cost, then "Time: " with exactly six decimals and " sec".
std::string reportedCost(const ProgramRun& run) {
    static const std::regex report("(-?[0-9]+)\nTime: [0-9]+\\.[0-9]{6} sec\n");
    std::smatch match;
    EXPECT_TRUE(std::regex_match(run.out, match, report)) << "output: " << run.out;
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    return match.size() > 1 ? match[1].str() : std::string("<no report>");
}

class SolverCommandLine : public ::testing::Test {
  protected:
    ScratchFolder folder;
    std::string file(const std::string& name, const std::string& content) {
        return shellQuote(folder.write(name, content).string());
    }
};

// The usage goes on with the options and ends with what is wrong; its first
// line is what it always was.
std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n') + 1);
}

TEST_F(SolverCommandLine, WrongArgumentCountsPrintUsageWithProgramNameAsInvokedAndFail) {
    for (const std::string arguments : {"", "a b c", "parallel a b"}) {
        const ProgramRun run = solve(arguments);
        EXPECT_EQ(firstLine(run.out), "Usage: " + solverPath + " [parallel] FILE_NAME\n")
            << arguments;
        EXPECT_EQ(run.exitStatus, 1) << arguments;
        EXPECT_EQ(run.err, "") << arguments;
    }
}

TEST_F(SolverCommandLine, UsageNamesTheProgramExactlyAsTyped) {
    const std::filesystem::path binFolder = std::filesystem::path(solverPath).parent_path();
    const ProgramRun relative = runCommand("./solver", binFolder);
    EXPECT_EQ(firstLine(relative.out), "Usage: ./solver [parallel] FILE_NAME\n");

    std::filesystem::create_symlink(solverPath, folder.path() / "atsp");
    const ProgramRun renamed = runCommand("./atsp x y", folder.path());
    EXPECT_EQ(firstLine(renamed.out), "Usage: ./atsp [parallel] FILE_NAME\n");
    EXPECT_EQ(renamed.exitStatus, 1);
}

TEST_F(SolverCommandLine, ParallelIsMatchedCaseSensitively) {
    const std::string matrix = file("m.txt", "2\n-1 1\n2 -1\n");
    const ProgramRun run = solve("Parallel " + matrix);
    EXPECT_EQ(firstLine(run.out), "Usage: " + solverPath + " [parallel] FILE_NAME\n");
    EXPECT_EQ(run.exitStatus, 1);
}

TEST_F(SolverCommandLine, ALoneParallelIsAFileName) {
    const ProgramRun missing = solve("parallel", folder.path());
    EXPECT_EQ(missing.out, "Couldn't open file parallel\n");
    EXPECT_EQ(missing.exitStatus, 1);

    folder.write("parallel", "2\n-1 3\n4 -1\n");
    EXPECT_EQ(reportedCost(solve("parallel", folder.path())), "7");
}

TEST_F(SolverCommandLine, UnopenableFilesAreReportedByTheNameAsTyped) {
    for (const std::string mode : {"", "parallel "}) {
        const ProgramRun missing = solve(mode + "./no/such/file.txt", folder.path());
        EXPECT_EQ(missing.out, "Couldn't open file ./no/such/file.txt\n");
        EXPECT_EQ(missing.exitStatus, 1);
        EXPECT_EQ(missing.err, "");

        const ProgramRun directory = solve(mode + ".", folder.path());
        EXPECT_EQ(directory.out, "Couldn't open file .\n");
        EXPECT_EQ(directory.exitStatus, 1);
    }
}

TEST_F(SolverCommandLine, UnreadableFilesAreReportedAsUnopenable) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads files whatever their permissions";
    }
    const auto matrix = folder.write("locked.txt", "2\n-1 1\n1 -1\n");
    std::filesystem::permissions(matrix, std::filesystem::perms::none);
    const ProgramRun run = solve("locked.txt", folder.path());
    EXPECT_EQ(run.out, "Couldn't open file locked.txt\n");
    EXPECT_EQ(run.exitStatus, 1);
}

TEST_F(SolverCommandLine, ReportsTheOptimumSeriallyAndInParallel) {
    // The starting tour 0-1-2-0 costs 30; 0-2-1-0 costs 3.
    const std::string matrix = file("m.txt", "3\n-1 10 1\n1 -1 10\n10 1 -1\n");
    EXPECT_EQ(reportedCost(solve(matrix)), "3");
    EXPECT_EQ(reportedCost(solve("parallel " + matrix)), "3");
}

TEST_F(SolverCommandLine, DiagonalValuesAreIgnored) {
    for (const std::string diagonal : {"-1", "0", "999", "-2147483648"}) {
        const std::string matrix =
            file("m.txt", "3\n" + diagonal + " 5 7\n2 " + diagonal + " 9\n4 6 " + diagonal + "\n");
        EXPECT_EQ(reportedCost(solve(matrix)), "15") << diagonal;
    }
}

TEST_F(SolverCommandLine, ZeroOneAndTwoCities) {
    for (const std::string mode : {"", "parallel "}) {
        EXPECT_EQ(reportedCost(solve(mode + file("zero.txt", "0\n"))), "0");
        EXPECT_EQ(reportedCost(solve(mode + file("one.txt", "1\n42\n"))), "0");
        EXPECT_EQ(reportedCost(solve(mode + file("two.txt", "2\n-1 5\n8 -1\n"))), "13");
    }
}

// "Overflow!" stands for a tour that costs less than zero: the starting
// tour's (the search then stops at once) or the optimum. A negative bound on
// the way to a non-negative optimum is no reason to stop, in either mode.
TEST_F(SolverCommandLine, OnlyANegativeTourCostPrintsOverflowInEitherMode) {
    const std::string negativeStart = file("m.txt", "3\n-1 -5 0\n0 -1 -5\n-5 0 -1\n");
    const std::string negativeOptimum = file("o.txt", "3\n-1 5 -1\n0 -1 5\n-6 0 -1\n");
    const std::string negativeBound =
        file("b.txt", "4\n-1 -100 50 50\n-100 -1 50 50\n50 50 -1 50\n50 50 50 -1\n");
    for (const std::string mode : {"", "parallel "}) {
        for (const std::string& matrix : {negativeStart, negativeOptimum}) {
            const ProgramRun run = solve(mode + matrix);
            EXPECT_EQ(run.out, "Overflow!\n") << mode << matrix;
            EXPECT_EQ(run.exitStatus, 0);
        }
        EXPECT_EQ(reportedCost(solve(mode + negativeBound)), "50") << mode;
    }
}

TEST_F(SolverCommandLine, CostsBeyondThe32BitRangeArePrintedInFull) {
    const std::string matrix = file("m.txt",
                                    "3\n-1 2000000000 2000000000\n2000000000 -1 2000000000\n"
                                    "2000000000 2000000000 -1\n");
    EXPECT_EQ(reportedCost(solve(matrix)), "6000000000");
    EXPECT_EQ(reportedCost(solve("parallel " + matrix)), "6000000000");
}

struct MalformedCase {
    const char* content;
    const char* problem;
};

TEST_F(SolverCommandLine, MalformedFilesAreRejectedWithWhatAndWhere) {
    const MalformedCase cases[] = {
        {"", "the city count is missing"},
        {"  \n\t", "the city count is missing"},
        {"three\n", "the city count is not a decimal integer"},
        {"-3\n", "the city count -3 is negative"},
        {"65536\n", "the city count 65536 is above 65535"},
        {"2\n-1 1\n1\n", "found 3 of 4 cell values"},
        {"2\n-1 x\n1 -1\n", "the cell at row 0, column 1 is not a decimal integer"},
        {"2\n-1 1\n2147483648 -1\n",
         "the cell at row 1, column 0 lies outside the signed 32-bit range"},
        {"2\n-1 1\n-2147483649 -1\n",
         "the cell at row 1, column 0 lies outside the signed 32-bit range"},
        {"2\n-1 1.5\n1 -1\n", "the cell at row 1, column 0 is not a decimal integer"},
    };
    for (const MalformedCase& malformed : cases) {
        for (const std::string mode : {"", "parallel "}) {
            folder.write("bad.txt", malformed.content);
            const ProgramRun rejected = solve(mode + "bad.txt", folder.path());
            EXPECT_EQ(rejected.out,
                      std::string("Malformed file bad.txt: ") + malformed.problem + "\n")
                << "content: " << malformed.content;
            EXPECT_EQ(rejected.exitStatus, 1);
            EXPECT_EQ(rejected.err, "");
        }
    }
}

// The kind of a file is told from its start, but a pipe cannot be read from
// its start a second time.
TEST_F(SolverCommandLine, APipedFileOfEitherKindIsReadWhole) {
    const std::string matrix = file("m.txt", "3\n-1 10 1\n1 -1 10\n10 1 -1\n");
    const std::string tsplib =
        file("t.atsp",
             "NAME: t\nTYPE: ATSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
             "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_SECTION\n"
             "0 10 1\n1 0 10\n10 1 0\nEOF\n");
    for (const std::string& piped : {matrix, tsplib}) {
        EXPECT_EQ(reportedCost(
                      runCommand("cat " + piped + " | " + shellQuote(solverPath) + " /dev/stdin")),
                  "3")
            << piped;
    }
}

TEST_F(SolverCommandLine, TextAfterTheLastCellIsIgnored) {
    EXPECT_EQ(reportedCost(solve(file("m.txt", "2\n-1 3\n4 -1\nthis is a note\n"))), "7");
    EXPECT_EQ(reportedCost(solve(file("m.txt", "2\n-1 3\n4 -1x"))), "7");
}

}  // namespace

}  // namespace atsp
