// Reading the cost-matrix text into the graph: what is accepted (exactly what
// a formatted stream extraction of the numbers would accept), the graph built
// from it, and the reasons given for rejecting a file; and reading a file in
// pieces, which must give exactly what parsing its whole text gives.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "io/MatrixReader.h"
#include "io/ProblemFile.h"
#include "io/TextFile.h"
#include "io/TsplibReader.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::CostLists;
using testing_support::HeadLists;
using testing_support::rowsOf;

TEST(MatrixReader, BuildsTheCompleteGraphWithoutLoopsInInputOrder) {
    const MatrixReadResult graph = parseCostMatrix("3\n-1 5 -7\n8 0 9\n10 11 999\n");
    ASSERT_EQ(graph.error, "");
    EXPECT_EQ(rowsOf(graph.graph).heads, (HeadLists{{1, 2}, {0, 2}, {0, 1}}));
    EXPECT_EQ(rowsOf(graph.graph).costs, (CostLists{{5, -7}, {8, 9}, {10, 11}}));
    for (const auto& row : rowsOf(graph.graph).heads) {
        EXPECT_EQ(row.capacity(), 2u);  // one allocation per list
    }
}

TEST(MatrixReader, AnyWhitespaceSignsAndLeadingZerosAreAccepted) {
    const char* equivalentTexts[] = {
        "2\n-1 3\n4 -1\n",  "2\r\n-1 3\r\n4 -1\r\n",
        "\t2\t-1\t3 4\t-1", "  +2 \v -1 +3\f\n0004 -001",
        "2 -1 3 4 -1",  // no final newline
    };
    for (const char* text : equivalentTexts) {
        const MatrixReadResult graph = parseCostMatrix(text);
        EXPECT_EQ(graph.error, "") << text;
        EXPECT_EQ(rowsOf(graph.graph).costs, (CostLists{{3}, {4}})) << text;
    }
}

TEST(MatrixReader, ANumberEndsAtTheFirstNonDigitAsStreamExtractionReadsIt) {
    // "3-4" is the two numbers 3 and -4; text after the last cell is not read.
    const MatrixReadResult graph = parseCostMatrix("2 -1 3-4 -1trailing words");
    ASSERT_EQ(graph.error, "");
    EXPECT_EQ(rowsOf(graph.graph).costs, (CostLists{{3}, {-4}}));
}

TEST(MatrixReader, ThirtyTwoBitLimitsAreCellValues) {
    const MatrixReadResult graph = parseCostMatrix("2 0 2147483647 -2147483648 0");
    ASSERT_EQ(graph.error, "");
    EXPECT_EQ(rowsOf(graph.graph).costs, (CostLists{{2147483647}, {-2147483648}}));
}

TEST(MatrixReader, ZeroAndOneCity) {
    const MatrixReadResult none = parseCostMatrix("0");
    EXPECT_EQ(none.error, "");
    EXPECT_EQ(none.graph.cityCount(), 0u);

    const MatrixReadResult one = parseCostMatrix("1\n-1\n");
    EXPECT_EQ(one.error, "");
    EXPECT_EQ(rowsOf(one.graph).heads, (HeadLists{{}}));
    EXPECT_EQ(rowsOf(one.graph).costs, (CostLists{{}}));
}

struct RejectedText {
    std::string text;
    std::string problem;
};

TEST(MatrixReader, RejectsMalformedTextSayingWhatAndWhere) {
    const RejectedText cases[] = {
        {"", "the city count is missing"},
        {"x", "the city count is not a decimal integer"},
        {"-", "the city count is not a decimal integer"},
        {"+ 2", "the city count is not a decimal integer"},
        {"-1", "the city count -1 is negative"},
        {"65536", "the city count 65536 is above 65535"},
        {"123456789012345678901234567890", "the city count 1099511627776 is above 65535"},
        {"1", "found 0 of 1 cell values"},
        {"3 -1 1 2 3 -1", "found 5 of 9 cell values"},
        {"2 -1 1 2 --1", "the cell at row 1, column 1 is not a decimal integer"},
        {"2 -1 0x10 2 -1", "the cell at row 1, column 0 is not a decimal integer"},
        {std::string("2 -1 3\0 4 -1", 12), "the cell at row 1, column 0 is not a decimal integer"},
        {"2 -1 2147483648 1 -1",
         "the cell at row 0, column 1 lies outside the signed 32-bit range"},
        {"2 99999999999999999999 1 1 -1",
         "the cell at row 0, column 0 lies outside the signed 32-bit range"},
    };
    for (const RejectedText& rejected : cases) {
        const MatrixReadResult graph = parseCostMatrix(rejected.text);
        EXPECT_EQ(graph.error, rejected.problem) << "text: " << rejected.text;
        EXPECT_EQ(graph.graph.cityCount(), 0u) << "text: " << rejected.text;
    }
}

TEST(MatrixReader, AShortFileWithTheLargestCountIsRejectedAtOnce) {
    // 65535 cities would need about 25 GB; a few values must not reserve it.
    const MatrixReadResult graph = parseCostMatrix("65535\n-1 1 2 3\n");
    EXPECT_EQ(graph.error, "found 4 of 4294836225 cell values");
}

TEST(MatrixReader, ReadsWholeFilesAndRefusesDirectoriesAndMissingFiles) {
    testing_support::ScratchFolder folder;
    const std::string content(3 << 20, '7');  // several read chunks
    const auto file = folder.write("big.txt", content);
    std::string text;
    ASSERT_TRUE(readFileText(file.string(), text));
    EXPECT_EQ(text, content);

    EXPECT_FALSE(readFileText(folder.path().string(), text));
    EXPECT_FALSE(readFileText((folder.path() / "missing").string(), text));

    for (const std::filesystem::path& unreadable : {folder.path(), folder.path() / "missing"}) {
        MatrixReadResult graph;
        graph.error = "stale";
        EXPECT_FALSE(readCostMatrixFile(unreadable.string(), graph)) << unreadable;
        EXPECT_EQ(graph.error, "") << unreadable;
        graph.error = "stale";
        EXPECT_FALSE(readProblemFile(unreadable.string(), graph)) << unreadable;
        EXPECT_EQ(graph.error, "") << unreadable;
    }
}

// Read a byte at a time up to eight, every token straddles a piece boundary
// somewhere; the graph and the message must still be those of the whole text.
// A file of either kind is told apart from its first word alone, also behind
// more whitespace than a read buffer holds, and a byte order mark counts only
// at the very start.
TEST(MatrixReader, AFileReadInPiecesGivesWhatItsWholeTextGives) {
    const std::string tsplib =
        "NAME: t\nTYPE: ATSP\nDIMENSION: 2\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
        "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_SECTION\n0 3\n4 0\nEOF\n";
    const std::string mark = "\xEF\xBB\xBF";
    const std::string longSpace = std::string(20000, ' ') + "\n\t";
    const std::vector<std::string> texts = {
        "3\n-1 5 -7\n8 0 9\n10 11 999\n",
        "  +2 \v -1 +3\f\n0004 -001",
        "2\r\n-1 3\r\n4 -1",
        "2 -1 3-4 -1trailing words",
        "2 0 2147483647 -2147483648 0",
        "0",
        "1\n-1\n",
        longSpace + "2 -1 3 4 -1" + longSpace,
        std::string("2 -1 3 4 -1\0", 12),
        std::string("2 -1 3\0 4 -1", 12),
        std::string("\0", 1),
        "",
        longSpace,
        "x",
        "+ 2",
        "-1",
        "65536",
        "123456789012345678901234567890",
        "1",
        "3 -1 1 2 3 -1",
        "2 -1 1 -",
        "2 -1 1 2 --1",
        "2 -1 0x10 2 -1",
        "2 -1 2147483648 1 -1",
        "2 99999999999999999999 1 1 -1",
        "65535\n-1 1 2 3\n",
        tsplib,
        longSpace + tsplib,
        mark + tsplib,
        mark + longSpace + tsplib,
        " " + mark + tsplib,
        mark + mark + tsplib,
        mark + "2 -1 3 4 -1",
        "\xEF\xBB" + tsplib,
        "NAME" + std::string(100, 'X') + ": t\n",
        "NAME: t\nTYPE: ATSP\n",
    };
    ASSERT_TRUE(isTsplibText(tsplib));
    ASSERT_EQ(parseTsplib(tsplib).error, "");

    testing_support::ScratchFolder folder;
    const std::size_t chunkSizes[] = {1, 2, 3, 4, 5, 6, 7, 8, costMatrixChunkBytes};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string& text = texts[i];
        const auto file = folder.write("m" + std::to_string(i) + ".txt", text).string();
        const MatrixReadResult parsed = parseCostMatrix(text);
        const MatrixReadResult problem = isTsplibText(text) ? parseTsplib(text) : parsed;
        for (const std::size_t chunkBytes : chunkSizes) {
            SCOPED_TRACE("text " + std::to_string(i) + " " +
                         testing::PrintToString(text.substr(0, 40)) + ", pieces of " +
                         std::to_string(chunkBytes));
            MatrixReadResult read;
            ASSERT_TRUE(readCostMatrixFile(file, read, chunkBytes));
            EXPECT_EQ(read.error, parsed.error);
            EXPECT_EQ(rowsOf(read.graph), rowsOf(parsed.graph));

            ASSERT_TRUE(readProblemFile(file, read, chunkBytes));
            EXPECT_EQ(read.error, problem.error);
            EXPECT_EQ(rowsOf(read.graph), rowsOf(problem.graph));
        }
    }
}

}  // namespace

}  // namespace atsp
