// generateFamily seen from outside: every family writes a well-formed matrix
// in range, a seed fixes the file, the families keep the properties they are
// made for, and bad command lines fail.
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

const std::string generatorPath = FAMILY_GENERATOR_PATH;
constexpr long long costsBelow = 10'000'000;

using Matrix = std::vector<std::vector<long long>>;

class GenerateFamily : public testing::Test {
  protected:
    ScratchFolder folder;

    ProgramRun generate(const std::string& arguments) {
        return runCommand(shellQuote(generatorPath) + " " + arguments, folder.path());
    }

    std::string generateText(const std::string& family, int n, const std::string& seed) {
        const std::string name = family + "-" + std::to_string(n) + "-" + seed + ".txt";
        const ProgramRun run = generate(family + " " + std::to_string(n) + " " + seed + " " + name);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return readWholeFile(folder.path() / name);
    }

    // The matrix in the file, checked line by line for the layout: the count
    // alone on the first line, then n lines of n integers each.
    Matrix generateMatrix(const std::string& family, int n, const std::string& seed = "1") {
        std::istringstream lines(generateText(family, n, seed));
        std::string line;
        Matrix matrix;
        if (!std::getline(lines, line) || line != std::to_string(n)) {
            ADD_FAILURE() << family << " " << n << ": first line '" << line << "'";
            return matrix;
        }
        while (std::getline(lines, line)) {
            std::istringstream values(line);
            std::vector<long long> row;
            long long value = 0;
            while (values >> value) {
                row.push_back(value);
            }
            EXPECT_TRUE(values.eof()) << family << ": not an integer in '" << line << "'";
            EXPECT_EQ(row.size(), static_cast<std::size_t>(n)) << family << ": '" << line << "'";
            matrix.push_back(row);
        }
        EXPECT_EQ(matrix.size(), static_cast<std::size_t>(n)) << family;
        return matrix;
    }
};

class EveryFamily : public GenerateFamily, public testing::WithParamInterface<const char*> {};

TEST_P(EveryFamily, WritesNRowsOfNCostsInRangeWithMinusOneOnTheDiagonal) {
    for (const int n : {1, 2, 40}) {
        const Matrix costs = generateMatrix(GetParam(), n);
        for (std::size_t i = 0; i < costs.size(); ++i) {
            for (std::size_t j = 0; j < costs[i].size(); ++j) {
                if (i == j) {
                    EXPECT_EQ(costs[i][j], -1) << "n " << n << ", row " << i;
                } else {
                    EXPECT_GE(costs[i][j], 0) << "n " << n << ", " << i << " -> " << j;
                    EXPECT_LT(costs[i][j], costsBelow) << "n " << n << ", " << i << " -> " << j;
                }
            }
        }
    }
}

TEST_P(EveryFamily, TheSameSeedWritesTheSameFileAndAnotherSeedAnother) {
    const std::string first = generateText(GetParam(), 40, "18446744073709551615");
    EXPECT_EQ(generateText(GetParam(), 40, "18446744073709551615"), first);
    EXPECT_NE(generateText(GetParam(), 40, "7"), first);
}

INSTANTIATE_TEST_SUITE_P(Families, EveryFamily,
                         testing::Values("random", "closed", "tilted-sum", "tilted-max", "crane",
                                         "disk", "grid", "shop", "super"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

TEST_F(GenerateFamily, ClosedIsTheRandomMatrixShortenedToShortestPaths) {
    const int n = 40;
    const Matrix closed = generateMatrix("closed", n, "5");
    const Matrix direct = generateMatrix("random", n, "5");
    ASSERT_EQ(closed.size(), static_cast<std::size_t>(n));
    ASSERT_EQ(direct.size(), static_cast<std::size_t>(n));
    int shortened = 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (i == j) {
                continue;
            }
            EXPECT_LE(closed[i][j], direct[i][j]) << i << " -> " << j;
            shortened += closed[i][j] < direct[i][j] ? 1 : 0;
            for (int k = 0; k < n; ++k) {
                if (k != i && k != j) {
                    EXPECT_LE(closed[i][j], closed[i][k] + closed[k][j])
                        << i << " -> " << k << " -> " << j;
                }
            }
        }
    }
    // In a uniform random matrix a chain of a few cheap arcs undercuts most
    // direct ones, so a closure that left most entries alone closed nothing.
    EXPECT_GT(shortened, n * (n - 1) / 2);
}

TEST_F(GenerateFamily, TiltedAndGridCostsDependOnTheDirection) {
    const int n = 40;
    for (const char* family : {"tilted-sum", "tilted-max", "grid"}) {
        const Matrix costs = generateMatrix(family, n);
        ASSERT_EQ(costs.size(), static_cast<std::size_t>(n));
        int pairs = 0;
        int asymmetric = 0;
        for (int i = 0; i < n; ++i) {
            for (int j = i + 1; j < n; ++j) {
                ++pairs;
                asymmetric += costs[i][j] != costs[j][i] ? 1 : 0;
            }
        }
        EXPECT_GT(asymmetric, pairs / 2) << family;
    }
}

TEST_F(GenerateFamily, BadArgumentsFailWithStatusOneAndWriteNothing) {
    const std::vector<std::string> badArguments = {
        "",
        "random 5 1",
        "random 5 1 a.txt extra",
        "nosuch 5 1 a.txt",
        "Random 5 1 a.txt",
        "random 0 1 a.txt",
        "random 65536 1 a.txt",
        "random -5 1 a.txt",
        "random +5 1 a.txt",
        "random 5x 1 a.txt",
        "random '' 1 a.txt",
        "random ' 5' 1 a.txt",
        "random 5 -1 a.txt",
        "random 5 x a.txt",
        "random 5 18446744073709551616 a.txt",
    };
    for (const std::string& arguments : badArguments) {
        const ProgramRun run = generate(arguments);
        EXPECT_EQ(run.exitStatus, 1) << arguments;
        EXPECT_TRUE(run.err.starts_with("Usage: ")) << arguments << ": " << run.err;
        EXPECT_FALSE(std::filesystem::exists(folder.path() / "a.txt")) << arguments;
    }
}

TEST_F(GenerateFamily, AFileThatCannotBeWrittenFails) {
    EXPECT_EQ(generate("shop 5 1 no/such/folder/a.txt").exitStatus, 1);
    EXPECT_EQ(generate("shop 5 1 /dev/full").exitStatus, 1);
}

}  // namespace

}  // namespace atsp
