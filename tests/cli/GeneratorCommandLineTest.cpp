// The generator program seen from outside: argument checks, messages, exit
// statuses and the exact layout of the file it writes.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/RunProgram.h"

namespace atsp {

namespace {

using testing_support::ProgramRun;
using testing_support::readWholeFile;
using testing_support::runCommand;
using testing_support::ScratchFolder;
using testing_support::shellQuote;

const std::string generatorPath = GENERATOR_PATH;
const std::string solverPath = SOLVER_PATH;

class GeneratorCommandLine : public ::testing::Test {
  protected:
    ScratchFolder folder;
    ProgramRun generate(const std::string& arguments) {
        return runCommand(shellQuote(generatorPath) + " " + arguments, folder.path());
    }
};

TEST_F(GeneratorCommandLine, BadArgumentsPrintUsageCreateNothingAndFail) {
    const std::vector<std::string> badArguments = {
        "",
        "5",
        "5 a.txt extra",
        "-5 a.txt",
        "+5 a.txt",
        "5x a.txt",
        "'' a.txt",
        "' 5' a.txt",
        "2147483648 a.txt",
        "99999999999999999999 a.txt",
        "--seed 5 a.txt",
        "--seed x 5 a.txt",
        "--seed -1 5 a.txt",
        "--seed 4294967296 5 a.txt",
        "--seed 1 x a.txt",
        "--sed 1 5 a.txt",
        "5 a.txt --seed 1",
    };
    for (const std::string& arguments : badArguments) {
        const ProgramRun run = generate(arguments);
        EXPECT_TRUE(run.out.starts_with("Usage: " + generatorPath + " SIZE FILE_NAME\n" +
                                        "       " + generatorPath + " --seed N SIZE FILE_NAME\n"))
            << arguments << ": " << run.out;
        EXPECT_EQ(run.exitStatus, 1) << arguments;
        EXPECT_EQ(run.err, "") << arguments;
        EXPECT_FALSE(std::filesystem::exists(folder.path() / "a.txt")) << arguments;
    }
}

TEST_F(GeneratorCommandLine, UsageNamesTheProgramAsTyped) {
    std::filesystem::create_symlink(generatorPath, folder.path() / "gen");
    EXPECT_TRUE(
        runCommand("./gen", folder.path()).out.starts_with("Usage: ./gen SIZE FILE_NAME\n"));
}

TEST_F(GeneratorCommandLine, UncreatableAndUnwritableFilesFail) {
    const ProgramRun uncreatable = generate("3 no/such/folder/m.txt");
    EXPECT_EQ(uncreatable.out, "Couldn't create file no/such/folder/m.txt\n");
    EXPECT_EQ(uncreatable.exitStatus, 1);

    const ProgramRun full = generate("3 /dev/full");
    EXPECT_EQ(full.out, "Couldn't write file /dev/full\n");
    EXPECT_EQ(full.exitStatus, 1);
    EXPECT_EQ(full.err, "");
}

TEST_F(GeneratorCommandLine, SmallSizesHaveTheExactLayout) {
    ASSERT_EQ(generate("0 zero.txt").exitStatus, 0);
    EXPECT_EQ(readWholeFile(folder.path() / "zero.txt"), "0\n");

    ASSERT_EQ(generate("1 one.txt").exitStatus, 0);
    EXPECT_EQ(readWholeFile(folder.path() / "one.txt"), "1\n-1 \n");
}

TEST_F(GeneratorCommandLine, EveryValueIsFollowedByABlankWithMinusOneOnTheDiagonal) {
    const ProgramRun run = generate("007 m.txt");  // leading zeros are accepted
    ASSERT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    std::istringstream lines(readWholeFile(folder.path() / "m.txt"));
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "7");
    for (int row = 0; row < 7; ++row) {
        ASSERT_TRUE(std::getline(lines, line)) << "row " << row;
        std::istringstream values(line);
        for (int column = 0; column < 7; ++column) {
            std::string value;
            ASSERT_TRUE(std::getline(values, value, ' ')) << row << "," << column;
            if (column == row) {
                EXPECT_EQ(value, "-1");
            } else {
                ASSERT_FALSE(value.empty());
                EXPECT_EQ(value.find_first_not_of("0123456789"), std::string::npos) << value;
                EXPECT_LE(std::stol(value), 1000000);
            }
        }
        EXPECT_TRUE(values.peek() == std::char_traits<char>::eof())
            << "row " << row << ": " << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(GeneratorCommandLine, ASeedAlwaysWritesTheSameMatrix) {
    ASSERT_EQ(generate("--seed 4294967295 9 a.txt").exitStatus, 0);
    ASSERT_EQ(generate("--seed 4294967295 9 b.txt").exitStatus, 0);
    ASSERT_EQ(generate("--seed 1 9 c.txt").exitStatus, 0);
    const std::string first = readWholeFile(folder.path() / "a.txt");
    EXPECT_EQ(readWholeFile(folder.path() / "b.txt"), first);
    EXPECT_NE(readWholeFile(folder.path() / "c.txt"), first);
    EXPECT_TRUE(first.starts_with("9\n-1 ")) << first;
}

TEST_F(GeneratorCommandLine, AnExistingFileIsOverwrittenAndTheSolverReadsIt) {
    folder.write("m.txt", std::string(100000, 'x'));
    ASSERT_EQ(generate("12 m.txt").exitStatus, 0);
    const ProgramRun solved = runCommand(shellQuote(solverPath) + " m.txt", folder.path());
    EXPECT_EQ(solved.exitStatus, 0);
    EXPECT_NE(solved.out.find("\nTime: "), std::string::npos) << solved.out;
}

}  // namespace

}  // namespace atsp
