// Reading TSPLIB problem files: the published originals, every weight layout
// against the same matrix in FULL_MATRIX form, each distance function's
// rounding, the quirks of real files, and the reasons given for rejecting one.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "io/TsplibReader.h"
#include "search/SearchEngine.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

using testing_support::completeRows;
using testing_support::CostLists;
using testing_support::HeadLists;
using testing_support::Matrix;
using testing_support::readWholeFile;
using testing_support::rowsOf;

const std::filesystem::path tsplibFolder = TSPLIB_DIR;
const std::filesystem::path originalsFolder = tsplibFolder / "original";

TEST(TsplibReader, AsymmetricOriginalsGiveTheGraphsOfTheirMatrixFiles) {
    if (!std::filesystem::exists(originalsFolder)) {
        GTEST_SKIP() << "no TSPLIB folder at " << originalsFolder;
    }
    for (const std::string name : {"br17", "ftv33", "ftv35", "ft70", "ftv170", "rbg323"}) {
        const std::string original = readWholeFile(originalsFolder / (name + ".atsp"));
        const std::string matrix = readWholeFile(tsplibFolder / (name + ".mat"));
        ASSERT_TRUE(isTsplibText(original)) << name;
        ASSERT_FALSE(isTsplibText(matrix)) << name;
        const MatrixReadResult fromTsplib = parseTsplib(original);
        const MatrixReadResult fromMatrix = parseCostMatrix(matrix);
        ASSERT_EQ(fromTsplib.error, "") << name;
        ASSERT_EQ(fromMatrix.error, "") << name;
        EXPECT_EQ(rowsOf(fromTsplib.graph), rowsOf(fromMatrix.graph)) << name;
    }
}

struct PublishedOptimum {
    const char* file;
    std::int64_t optimum;
};

// GEO, LOWER_DIAG_ROW with and without wrapped rows, UPPER_ROW and
// FULL_MATRIX, each with a DISPLAY_DATA_SECTION or a trailing blank somewhere.
TEST(TsplibReader, SmallSymmetricOriginalsSolveToTheirPublishedOptima) {
    if (!std::filesystem::exists(originalsFolder)) {
        GTEST_SKIP() << "no TSPLIB folder at " << originalsFolder;
    }
    const PublishedOptimum instances[] = {
        {"burma14.tsp", 3323}, {"ulysses16.tsp", 6859}, {"gr17.tsp", 2085},   {"gr21.tsp", 2707},
        {"gr24.tsp", 1272},    {"fri26.tsp", 937},      {"bayg29.tsp", 1610}, {"bays29.tsp", 2020},
    };
    for (const PublishedOptimum& instance : instances) {
        const MatrixReadResult graph = parseTsplib(readWholeFile(originalsFolder / instance.file));
        ASSERT_EQ(graph.error, "") << instance.file;
        const TourResult result = searchTour(graph.graph, SearchOptions{});
        EXPECT_EQ(result.cost, instance.optimum) << instance.file;
    }
}

// Too slow to solve here; a short search still brackets the optimum, which a
// wrong distance function or scale would move out of the bracket.
TEST(TsplibReader, LargerSymmetricOriginalsBracketTheirPublishedOptima) {
    if (!std::filesystem::exists(originalsFolder)) {
        GTEST_SKIP() << "no TSPLIB folder at " << originalsFolder;
    }
    const PublishedOptimum instances[] = {
        {"dantzig42.tsp", 699}, {"swiss42.tsp", 1273},  {"att48.tsp", 10628},
        {"eil51.tsp", 426},     {"berlin52.tsp", 7542},
    };
    SearchOptions options;
    options.timeLimitSeconds = 0.2;
    for (const PublishedOptimum& instance : instances) {
        const MatrixReadResult graph = parseTsplib(readWholeFile(originalsFolder / instance.file));
        ASSERT_EQ(graph.error, "") << instance.file;
        const TourResult result = searchTour(graph.graph, options);
        EXPECT_LE(result.lowerBound, instance.optimum) << instance.file;
        EXPECT_GE(result.cost, instance.optimum) << instance.file;
    }
}

// The matrix as a TSPLIB file of the given EDGE_WEIGHT_FORMAT, its values
// listed as the format defines them, row by row or column by column, eight to
// a line whatever the rows; a diagonal the format holds is written as
// `diagonal`.
std::string explicitFile(const Matrix& matrix, const std::string& format, std::int32_t diagonal) {
    const bool byColumn = format.ends_with("_COL");
    const auto listed = [&format](int row, int column) {
        if (format == "FULL_MATRIX") {
            return true;
        }
        const bool diagonalToo = format.find("_DIAG_") != std::string::npos;
        if (row == column) {
            return diagonalToo;
        }
        return format.starts_with("UPPER") ? column > row : column < row;
    };
    const int n = static_cast<int>(matrix.size());
    std::string text = "NAME : fixture\nTYPE : TSP\nDIMENSION : " + std::to_string(n) +
                       "\nEDGE_WEIGHT_TYPE : EXPLICIT\nEDGE_WEIGHT_FORMAT : " + format +
                       "\nEDGE_WEIGHT_SECTION\n";
    int written = 0;
    for (int outer = 0; outer < n; ++outer) {
        for (int inner = 0; inner < n; ++inner) {
            const int row = byColumn ? inner : outer;
            const int column = byColumn ? outer : inner;
            if (listed(row, column)) {
                text += std::to_string(row == column ? diagonal : matrix[row][column]);
                text += ++written % 8 == 0 ? "\n" : " ";
            }
        }
    }
    return text + "\nEOF\n";
}

TEST(TsplibReader, EveryExplicitLayoutGivesTheGraphOfTheFullMatrix) {
    const char* formats[] = {"UPPER_ROW",      "LOWER_ROW",      "UPPER_DIAG_ROW",
                             "LOWER_DIAG_ROW", "UPPER_COL",      "LOWER_COL",
                             "UPPER_DIAG_COL", "LOWER_DIAG_COL", "FULL_MATRIX"};
    std::mt19937_64 random(14);
    for (const int n : {1, 2, 3, 7}) {
        Matrix matrix = testing_support::randomMatrix(random, n, -1000, 1000);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < i; ++j) {
                matrix[i][j] = matrix[j][i];
            }
        }
        const MatrixReadResult full = parseTsplib(explicitFile(matrix, "FULL_MATRIX", -5));
        ASSERT_EQ(full.error, "") << n;
        EXPECT_EQ(rowsOf(full.graph), completeRows(matrix)) << n;
        for (const char* format : formats) {
            const MatrixReadResult graph = parseTsplib(explicitFile(matrix, format, 99999));
            ASSERT_EQ(graph.error, "") << format << ", n = " << n;
            EXPECT_EQ(rowsOf(graph.graph), rowsOf(full.graph)) << format << ", n = " << n;
        }
    }
}

struct DistanceCase {
    const char* weightType;
    const char* from;  // "x y"
    const char* to;
    std::int32_t distance;
};

TEST(TsplibReader, DistanceFunctionsRoundAsTsplibDefinesThem) {
    const DistanceCase cases[] = {
        {"EUC_2D", "0 0", "3 4", 5},
        {"EUC_2D", "0 0", "1.5 2", 3},  // 2.5 rounds up
        {"EUC_2D", "0 0", "1 2", 2},    // 2.236
        {"CEIL_2D", "0 0", "1 2", 3},
        {"CEIL_2D", "0 0", "-3 4", 5},
        {"MAN_2D", "0 0", "1.2 -2.2", 3},
        {"MAN_2D", "0 0", "1.3 2.2", 4},  // 3.5 rounds up
        {"MAX_2D", "0 0", "2.4 -1.5", 2},
        {"MAX_2D", "1 1", "-1.5 0", 3},  // nint(2.5)
        {"ATT", "0 0", "10 0", 4},       // sqrt(10) = 3.16: rounded to 3, then up
        {"ATT", "0 0", "10 30", 10},     // exactly 10
        {"ATT", "0 0", "0 18", 6},       // sqrt(32.4) = 5.69 rounds to 6 already
        {"GEO", "16.47 96.10", "16.47 94.44", 153},
        {"GEO", "-33.52 151.13", "-37.49 144.58", 715},  // 719 if degrees were floored
        {"GEO", "0.5 -179.5", "-0.5 179.5", 190},        // across the date line
        {"GEO", "38.24 20.42", "38.24 20.42", 1},        // (int)(0 + 1.0)
    };
    for (const DistanceCase& test : cases) {
        const std::string text =
            std::string("NAME: d\nTYPE: TSP\nDIMENSION: 2\nEDGE_WEIGHT_TYPE: ") + test.weightType +
            "\nNODE_COORD_SECTION\n2 " + test.to + "\n1 " + test.from + "\nEOF\n";
        const MatrixReadResult graph = parseTsplib(text);
        ASSERT_EQ(graph.error, "") << text;
        EXPECT_EQ(rowsOf(graph.graph).costs, (CostLists{{test.distance}, {test.distance}})) << text;
    }
}

TEST(TsplibReader, QuirksOfRealFilesReadAsTheirPlainForm) {
    const std::string plain =
        "NAME: q\nTYPE: ATSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
        "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_SECTION\n0 1 2\n3 0 4\n5 6 0\nEOF\n";
    const std::string quirky[] = {
        // blanks before the colon, none after it, tabs, keywords in another order
        "NAME : q\nDIMENSION :3\nTYPE\t:\tATSP\nEDGE_WEIGHT_FORMAT:FULL_MATRIX\n"
        "EDGE_WEIGHT_TYPE :  EXPLICIT\nEDGE_WEIGHT_SECTION\n0 1 2 3 0 4 5 6 0\nEOF\n",
        // CRLF, trailing blanks, an indented EOF with text after it
        "NAME: q \r\nTYPE: ATSP \r\nDIMENSION: 3 \r\nEDGE_WEIGHT_TYPE: EXPLICIT \r\n"
        "EDGE_WEIGHT_FORMAT: FULL_MATRIX  \r\nEDGE_WEIGHT_SECTION  \r\n 0 1 2 \r\n 3 0 4 \r\n"
        " 5 6 0 \r\n EOF \r\nnotes\r\n",
        // one value a line, no EOF, no final line end, two comments
        "COMMENT: a\nCOMMENT: b\nTYPE: ATSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
        "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_SECTION:\n0\n1\n2\n3\n0\n4\n5\n6\n0",
        // display data after the weights, a byte order mark
        "\xEF\xBB\xBFNAME: q\nTYPE: ATSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
        "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nDISPLAY_DATA_TYPE: TWOD_DISPLAY\nEDGE_WEIGHT_SECTION\n"
        "0 1 2\n3 0 4\n5 6 0\nDISPLAY_DATA_SECTION\n1 0.5 1\n2 3 4.25\n3 1e3 -2\nEOF\n",
    };
    const MatrixReadResult expected = parseTsplib(plain);
    ASSERT_EQ(expected.error, "");
    EXPECT_EQ(rowsOf(expected.graph).costs, (CostLists{{1, 2}, {3, 4}, {5, 6}}));
    for (const std::string& text : quirky) {
        EXPECT_TRUE(isTsplibText(text)) << text;
        const MatrixReadResult graph = parseTsplib(text);
        EXPECT_EQ(graph.error, "") << text;
        EXPECT_EQ(rowsOf(graph.graph), rowsOf(expected.graph)) << text;
    }
}

TEST(TsplibReader, OnlyATextOpeningWithAKeywordIsTsplib) {
    EXPECT_TRUE(isTsplibText("NAME:x"));
    EXPECT_TRUE(isTsplibText("\n  TYPE : TSP"));
    EXPECT_FALSE(isTsplibText("3\n-1 1 2\n"));
    EXPECT_FALSE(isTsplibText("three\n"));
    EXPECT_FALSE(isTsplibText("name: x\n"));
    EXPECT_FALSE(isTsplibText(""));
}

struct RejectedFile {
    std::string text;
    std::string problem;
};

// A valid header up to its last line, which each case completes.
std::string header(const std::string& type, const std::string& dimension,
                   const std::string& weights) {
    return "NAME: x\nTYPE: " + type + "\nDIMENSION: " + dimension +
           "\nEDGE_WEIGHT_TYPE: " + weights + "\n";
}

TEST(TsplibReader, RejectsMalformedFilesSayingWhatAndWhere) {
    const std::string atsp = header("ATSP", "2", "EXPLICIT") + "EDGE_WEIGHT_FORMAT: FULL_MATRIX\n";
    const std::string euclidean = header("TSP", "2", "EUC_2D");
    const RejectedFile cases[] = {
        {"NAME: x\nDIMENSION: 2\n", "TYPE is missing"},
        {header("HCP", "2", "EXPLICIT"),
         "line 2: TYPE HCP is not supported: only TSP and ATSP are"},
        {header("CVRP", "2", "EUC_2D"),
         "line 2: TYPE CVRP is not supported: only TSP and ATSP are"},
        {header("ASTP", "2", "EXPLICIT"), "line 2: unknown TYPE \"ASTP\""},
        {"TYPE: TSP\nEDGE_WEIGHT_TYPE: EUC_2D\n", "DIMENSION is missing"},
        {header("TSP", "two", "EUC_2D"), "line 3: DIMENSION \"two\" is not a whole number"},
        {header("TSP", "0", "EUC_2D"), "line 3: DIMENSION 0 lies outside 1 to 65535"},
        {header("TSP", "65536", "EUC_2D"), "line 3: DIMENSION 65536 lies outside 1 to 65535"},
        {"TYPE: TSP\nDIMENSION: 2\n", "EDGE_WEIGHT_TYPE is missing"},
        {header("TSP", "2", "EUC_3D"), "line 4: EDGE_WEIGHT_TYPE EUC_3D is not supported"},
        {header("TSP", "2", "EUCLID"), "line 4: unknown EDGE_WEIGHT_TYPE \"EUCLID\""},
        {header("ATSP", "2", "EXPLICIT"),
         "EDGE_WEIGHT_FORMAT is missing: EXPLICIT weights need one"},
        {header("ATSP", "2", "EXPLICIT") + "EDGE_WEIGHT_FORMAT: FULL\n",
         "line 5: unknown EDGE_WEIGHT_FORMAT \"FULL\""},
        {header("ATSP", "2", "EXPLICIT") + "EDGE_WEIGHT_FORMAT: FUNCTION\n",
         "line 5: EDGE_WEIGHT_FORMAT FUNCTION does not go with EDGE_WEIGHT_TYPE EXPLICIT"},
        {euclidean + "EDGE_WEIGHT_FORMAT: UPPER_ROW\n",
         "line 5: EDGE_WEIGHT_FORMAT UPPER_ROW does not go with EDGE_WEIGHT_TYPE EUC_2D"},
        {atsp + "TYPE: TSP\n", "line 6: TYPE is given twice"},
        {atsp + "EDGE_WEIGHT_SECTION\n0 1\n2 0\nDIMENSION: 2\n",
         "line 9: DIMENSION comes after a data section"},
        {atsp + "WEIGHTS: 3\n", "line 6: unknown keyword \"WEIGHTS\""},
        {atsp + "0 1 2 0\n", "line 6: the value \"0\" stands outside any data section"},
        {atsp, "the EDGE_WEIGHT_SECTION is missing"},
        {euclidean, "the NODE_COORD_SECTION is missing"},
        {atsp + "EDGE_WEIGHT_SECTION\n0 1\n2\nEOF\n",
         "line 6: the EDGE_WEIGHT_SECTION holds 3 of the 4 values FULL_MATRIX needs for DIMENSION "
         "2"},
        {atsp + "EDGE_WEIGHT_SECTION\n0 1\n2 0 7\n",
         "line 8: the EDGE_WEIGHT_SECTION holds more than the 4 values FULL_MATRIX needs for "
         "DIMENSION 2"},
        {atsp + "EDGE_WEIGHT_SECTION\n0 1\n2.5 0\n",
         "line 8: \"2.5\" in the EDGE_WEIGHT_SECTION is not a whole number"},
        {atsp + "EDGE_WEIGHT_SECTION\n0 2147483648\n2 0\n",
         "line 7: 2147483648 in the EDGE_WEIGHT_SECTION lies outside the signed 32-bit range"},
        {atsp + "EDGE_WEIGHT_SECTION\n0 1\n-2147483649 0\n",
         "line 8: -2147483649 in the EDGE_WEIGHT_SECTION lies outside the signed 32-bit range"},
        {atsp + "FIXED_EDGES_SECTION\n1 2\n-1\n", "line 6: FIXED_EDGES_SECTION is not supported"},
        {euclidean + "EDGE_WEIGHT_SECTION\n0 1\n",
         "line 5: an EDGE_WEIGHT_SECTION needs EDGE_WEIGHT_TYPE EXPLICIT"},
        {euclidean + "NODE_COORD_SECTION\n1 0 0\n",
         "line 5: the NODE_COORD_SECTION holds 1 of the 2 nodes of DIMENSION 2"},
        {euclidean + "NODE_COORD_SECTION\n1 0 0\n1 5 5\n", "line 7: node 1 is given twice"},
        {euclidean + "NODE_COORD_SECTION\n1 0 0\n3 5 5\n",
         "line 7: the node id \"3\" is not a whole number from 1 to 2"},
        {euclidean + "NODE_COORD_SECTION\n1 0 0\n2 5 nan\n",
         "line 7: the coordinate \"nan\" is not a finite number"},
        {euclidean + "NODE_COORD_SECTION\n1 0 0\n2 5 5\n3 1 1\n",
         "line 8: the NODE_COORD_SECTION holds more than the 2 nodes of DIMENSION 2"},
        {euclidean + "NODE_COORD_SECTION\n1 0 0\n2 3e9 0\n",
         "the EUC_2D distance from node 1 to node 2 lies outside the signed 32-bit range"},
        {header("ATSP", "65535", "EXPLICIT") +
             "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_SECTION\n0 1 2\n",
         "line 6: the EDGE_WEIGHT_SECTION holds 3 of the 4294836225 values FULL_MATRIX needs for "
         "DIMENSION 65535"},
    };
    for (const RejectedFile& rejected : cases) {
        const MatrixReadResult graph = parseTsplib(rejected.text);
        EXPECT_EQ(graph.error, rejected.problem) << rejected.text;
        EXPECT_EQ(graph.graph.cityCount(), 0u) << rejected.text;
    }
}

}  // namespace

}  // namespace atsp
