// The solver's options and TSPLIB input seen from outside: what each option
// prints and writes, its exit status, the stopped report that can never pass
// for an optimum, and how a wrong command line is answered.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "tests/support/RunProgram.h"

namespace atsp {

namespace {

using testing_support::ProgramRun;
using testing_support::readWholeFile;
using testing_support::runCommand;
using testing_support::ScratchFolder;
using testing_support::shellQuote;

const std::string solverPath = SOLVER_PATH;

// The starting tour 0-1-2-0 costs 30; the optimum 0-2-1-0 costs 3.
const std::string threeCities = "3\n-1 10 1\n1 -1 10\n10 1 -1\n";
const std::string threeCitiesTsplib =
    "NAME : three\nTYPE : ATSP\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EXPLICIT\n"
    "EDGE_WEIGHT_FORMAT : FULL_MATRIX\nEDGE_WEIGHT_SECTION\n0 10 1\n1 0 10\n10 1 0\nEOF\n";

// Twelve random points: a symmetric instance, whose every 2-cycle is an
// assignment, so that no search ends before its first expansion.
std::string twelvePoints() {
    std::mt19937_64 random(12);
    std::uniform_int_distribution<int> coordinate(0, 1000);
    std::ostringstream text;
    text << "NAME : twelve\nTYPE : TSP\nDIMENSION : 12\nEDGE_WEIGHT_TYPE : EUC_2D\n"
            "NODE_COORD_SECTION\n";
    for (int city = 1; city <= 12; ++city) {
        text << city << " " << coordinate(random) << " " << coordinate(random) << "\n";
    }
    return text.str() + "EOF\n";
}

const std::regex report("[0-9]+\nTime: [0-9]+\\.[0-9]{6} sec\n");

class SolverOptions : public ::testing::Test {
  protected:
    void SetUp() override {
        folder.write("three.txt", threeCities);
        folder.write("three.atsp", threeCitiesTsplib);
        folder.write("twelve.tsp", twelvePoints());
    }
    ProgramRun solve(const std::string& arguments) {
        return runCommand(shellQuote(solverPath) + " " + arguments, folder.path());
    }
    std::string file(const std::string& name) { return readWholeFile(folder.path() / name); }

    ScratchFolder folder;
};

TEST_F(SolverOptions, TsplibFilesAreSolvedSeriallyAndInParallel) {
    for (const std::string mode : {"", "parallel "}) {
        const ProgramRun run = solve(mode + "three.atsp");
        EXPECT_TRUE(run.out.starts_with("3\nTime: ")) << run.out;
        EXPECT_EQ(run.exitStatus, 0);

        folder.write("bad.tsp", "NAME : bad\nTYPE : HCP\n");
        const ProgramRun bad = solve(mode + "bad.tsp");
        EXPECT_EQ(bad.out,
                  "Malformed file bad.tsp: line 2: TYPE HCP is not supported: only TSP and ATSP "
                  "are\n");
        EXPECT_EQ(bad.exitStatus, 1);
    }
}

TEST_F(SolverOptions, TourIsWrittenInTsplibFormatFromCityOne) {
    for (const std::string mode : {"", "parallel "}) {
        const ProgramRun run = solve("--tour best.tour " + mode + "three.txt");
        EXPECT_TRUE(std::regex_match(run.out, report)) << run.out;
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(file("best.tour"),
                  "NAME : best.tour\nCOMMENT : Cost 3, proven optimal\nTYPE : TOUR\n"
                  "DIMENSION : 3\nTOUR_SECTION\n1\n3\n2\n-1\nEOF\n");
    }
}

TEST_F(SolverOptions, AnUnwritableTourFileFailsBeforeTheSearchOrAfterTheReport) {
    const ProgramRun noFolder = solve("--tour no/such/folder/t.tour three.txt");
    EXPECT_EQ(noFolder.out, "Couldn't write tour file no/such/folder/t.tour\n");
    EXPECT_EQ(noFolder.exitStatus, 1);

    const ProgramRun full = solve("--tour /dev/full three.txt");
    EXPECT_TRUE(full.out.starts_with("3\nTime: ")) << full.out;
    EXPECT_TRUE(full.out.ends_with(" sec\nCouldn't write tour file /dev/full\n")) << full.out;
    EXPECT_EQ(full.exitStatus, 1);
}

TEST_F(SolverOptions, ASearchStoppedAtTheTimeLimitNeverReportsABareNumber) {
    static const std::regex stopped(
        "Stopped at the time limit: not proven optimal\nBest tour: ([0-9]+)\n"
        "Lower bound: ([0-9]+)\nGap: [0-9]+\\.[0-9]{2}%\nTime: [0-9]+\\.[0-9]{6} sec\n");
    for (const std::string mode : {"", "parallel "}) {
        const ProgramRun run = solve("--time-limit 0.000001 --tour t.tour " + mode + "twelve.tsp");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(run.out, match, stopped)) << run.out;
        EXPECT_LE(std::stol(match[2]), std::stol(match[1]));
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_NE(
            file("t.tour").find("COMMENT : Cost " + match[1].str() +
                                ", not proven optimal (lower bound " + match[2].str() + ")\n"),
            std::string::npos)
            << file("t.tour");

        const ProgramRun inTime = solve(mode + "--time-limit 600 three.txt");
        EXPECT_TRUE(std::regex_match(inTime.out, report)) << inTime.out;
        EXPECT_EQ(inTime.exitStatus, 0);
    }
}

TEST_F(SolverOptions, AStartTourIsTheIncumbentTheSearchStartsFrom) {
    const ProgramRun solved = solve("--tour optimum.tour twelve.tsp");
    ASSERT_EQ(solved.exitStatus, 0);
    const std::string optimum = solved.out.substr(0, solved.out.find('\n'));
    // Out of time at once, the search returns the tour it started from.
    for (const std::string mode : {"", "parallel "}) {
        const ProgramRun run =
            solve("--start-tour optimum.tour " + mode + "--time-limit 0.000001 twelve.tsp");
        EXPECT_NE(run.out.find("\nBest tour: " + optimum + "\n"), std::string::npos) << run.out;
        EXPECT_EQ(run.exitStatus, 2);
    }
    folder.write("short.tour", "TOUR_SECTION\n1 2\n-1\n");
    const ProgramRun bad = solve("--start-tour short.tour three.txt");
    EXPECT_EQ(bad.out,
              "Malformed tour file short.tour: the TOUR_SECTION names 2 of the 3 cities; city 3 "
              "is missing\n");
    EXPECT_EQ(bad.exitStatus, 1);

    const ProgramRun missing = solve("--start-tour none.tour three.txt");
    EXPECT_EQ(missing.out, "Couldn't open tour file none.tour\n");
    EXPECT_EQ(missing.exitStatus, 1);
}

TEST_F(SolverOptions, ProgressGoesToStandardErrorAndLeavesTheReportAlone) {
    static const std::regex progressLines(
        "(progress: [0-9]+\\.[0-9] s, [0-9]+ nodes, [0-9]+ open, best -?[0-9]+, bound -?[0-9]+, "
        "gap ([0-9]+\\.[0-9]{2}%|-)\n)+");
    for (const std::string mode : {"", "parallel "}) {
        const ProgramRun run = solve("--progress " + mode + "twelve.tsp");
        EXPECT_TRUE(std::regex_match(run.out, report)) << run.out;
        EXPECT_TRUE(std::regex_match(run.err, progressLines)) << run.err;
        EXPECT_EQ(run.exitStatus, 0);
    }
}

// Each bound, with and without the local search, on one thread and on the
// team, reports the same optimum.
TEST_F(SolverOptions, EveryBoundReportsTheOptimum) {
    for (const std::string mode :
         {"", "parallel ", "--no-local-search ", "parallel --no-local-search "}) {
        for (const std::string bound : {"assignment", "lp", "auto"}) {
            const ProgramRun run = solve("--bound " + bound + " " + mode + "twelve.tsp");
            const ProgramRun byDefault = solve(mode + "twelve.tsp");
            EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
                      byDefault.out.substr(0, byDefault.out.find('\n')))
                << bound;
            EXPECT_TRUE(std::regex_match(run.out, report)) << bound << ": " << run.out;
            EXPECT_EQ(run.exitStatus, 0);
        }
    }
}

TEST_F(SolverOptions, HelpPrintsTheUsageAndSucceeds) {
    const ProgramRun help = solve("--help");
    EXPECT_TRUE(help.out.starts_with("Usage: " + solverPath + " [parallel] FILE_NAME\n"));
    EXPECT_NE(help.out.find("--time-limit SECONDS"), std::string::npos);
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(solve("--progress --help three.txt").out, help.out);
}

TEST_F(SolverOptions, TheLastArgumentIsAFileNameWhateverItSays) {
    for (const std::string name : {"--help", "--tour", "--progress", "--time-limit", "parallel"}) {
        folder.write(name, threeCities);
    }
    for (const std::string arguments :
         {"--tour", "--progress", "parallel", "./--help", "parallel --help", "parallel --tour",
          "--progress --help", "--tour t.tour --time-limit"}) {
        const ProgramRun run = solve(arguments);
        EXPECT_TRUE(std::regex_match(run.out, report)) << arguments << ": " << run.out;
    }
}

struct WrongCommandLine {
    const char* arguments;
    const char* problem;
};

TEST_F(SolverOptions, WrongCommandLinesPrintTheUsageWithWhatIsWrong) {
    const WrongCommandLine cases[] = {
        {"--tour three.txt", "--tour is missing its FILE"},
        {"parallel --start-tour three.txt", "--start-tour is missing its FILE"},
        {"--time-limit three.txt", "--time-limit is missing its SECONDS"},
        {"--tour '' three.txt", "--tour takes a file name, not an empty argument"},
        {"--time-limit 0 three.txt",
         "--time-limit takes a positive decimal number of seconds, not \"0\""},
        {"--time-limit -1 three.txt",
         "--time-limit takes a positive decimal number of seconds, not \"-1\""},
        {"--time-limit 1e3 three.txt",
         "--time-limit takes a positive decimal number of seconds, not \"1e3\""},
        {"--time-limit . three.txt",
         "--time-limit takes a positive decimal number of seconds, not \".\""},
        {"--time-limit 1 --time-limit 2 three.txt", "--time-limit is given twice"},
        {"--progress parallel --progress three.txt", "--progress is given twice"},
        {"parallel parallel three.txt", "parallel is given twice"},
        {"--verbose three.txt", "unknown option \"--verbose\""},
        {"--bound three.txt", "--bound is missing its KIND"},
        {"--bound simplex three.txt", "--bound takes assignment, lp or auto, not \"simplex\""},
        {"--no-local-search --no-local-search three.txt", "--no-local-search is given twice"},
        {"three.txt three.txt",
         "unexpected argument \"three.txt\" (only the last argument is the file name)"},
    };
    for (const WrongCommandLine& wrong : cases) {
        const ProgramRun run = solve(wrong.arguments);
        EXPECT_TRUE(run.out.starts_with("Usage: " + solverPath + " [parallel] FILE_NAME\n"))
            << wrong.arguments;
        EXPECT_TRUE(run.out.ends_with(std::string("\nError: ") + wrong.problem + "\n"))
            << wrong.arguments << ": " << run.out;
        EXPECT_EQ(run.exitStatus, 1) << wrong.arguments;
        EXPECT_EQ(run.err, "") << wrong.arguments;
    }
}

}  // namespace

}  // namespace atsp
