// TSPLIB tour files: the visiting order read into successor form, the text
// written for a tour and read back, and the reasons given for rejecting a
// starting tour.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "io/TourFile.h"
#include "tests/support/TestGraphs.h"

namespace atsp {

namespace {

TEST(TourFile, AVisitingOrderBecomesSuccessorsClosingTheCycle) {
    // 1 3 4 2: city 0 -> 2 -> 3 -> 1 -> 0.
    const std::vector<Node> expected = {2, 0, 3, 1};
    const char* texts[] = {
        "NAME : t.tour\nTYPE : TOUR\nDIMENSION : 4\nTOUR_SECTION\n1\n3\n4\n2\n-1\nEOF\n",
        "TOUR_SECTION\r\n1 3\r\n4 2\r\n",              // no -1, no EOF
        "COMMENT: x\nTOUR_SECTION:\n1 3 4 2 EOF\n",    // EOF ends the section
        "TOUR_SECTION\n1 3 4 2 -1\n2 1 3 4 -1\n-1\n",  // only the first tour counts
    };
    for (const char* text : texts) {
        const TourReadResult read = parseTsplibTour(text, 4);
        EXPECT_EQ(read.error, "") << text;
        EXPECT_EQ(read.tour, expected) << text;
    }
}

TEST(TourFile, AWrittenTourStartsAtCityOneAndReadsBackAsTheSameTour) {
    std::mt19937_64 random(7);
    for (const int n : {1, 2, 9}) {
        const std::vector<Node> tour = testing_support::randomTour(random, n);
        const std::string text = tsplibTourText("x.tour", "Cost 5,\nproven optimal", tour);
        EXPECT_TRUE(
            text.starts_with("NAME : x.tour\nCOMMENT : Cost 5, proven optimal\n"
                             "TYPE : TOUR\nDIMENSION : " +
                             std::to_string(n) + "\nTOUR_SECTION\n1\n"))
            << text;
        EXPECT_TRUE(text.ends_with("\n-1\nEOF\n")) << text;
        const TourReadResult read = parseTsplibTour(text, n);
        EXPECT_EQ(read.error, "") << text;
        EXPECT_EQ(read.tour, tour) << text;
    }
    EXPECT_EQ(tsplibTourText("z", "c", {}),
              "NAME : z\nCOMMENT : c\nTYPE : TOUR\nDIMENSION : 0\nTOUR_SECTION\n-1\nEOF\n");
}

struct RejectedTour {
    const char* text;
    const char* problem;
};

TEST(TourFile, RejectsToursThatAreNotAPermutationOfTheCities) {
    const RejectedTour cases[] = {
        {"TYPE : TSP\nTOUR_SECTION\n1 2 3\n", "line 1: TYPE \"TSP\" is not TOUR"},
        {"DIMENSION : 4\nTOUR_SECTION\n1 2 3\n",
         "line 1: DIMENSION \"4\" is not the 3 cities of the problem"},
        {"NAME : x\n", "the TOUR_SECTION is missing"},
        {"EDGE_WEIGHT_TYPE : GEO\nTOUR_SECTION\n1 2 3\n",
         "line 1: unexpected keyword \"EDGE_WEIGHT_TYPE\" (a tour file holds NAME, COMMENT, "
         "TYPE, DIMENSION and TOUR_SECTION)"},
        {"TOUR_SECTION\n1 2\n-1\n", "the TOUR_SECTION names 2 of the 3 cities; city 3 is missing"},
        {"TOUR_SECTION\n1 3\n1\n", "line 3: city 1 is given twice"},
        {"TOUR_SECTION\n1 2 0\n", "line 2: the city \"0\" is not a whole number from 1 to 3"},
        {"TOUR_SECTION\n1 2 4\n", "line 2: the city \"4\" is not a whole number from 1 to 3"},
        {"TOUR_SECTION\n1 2 x\n", "line 2: the city \"x\" is not a whole number from 1 to 3"},
    };
    for (const RejectedTour& rejected : cases) {
        const TourReadResult read = parseTsplibTour(rejected.text, 3);
        EXPECT_EQ(read.error, rejected.problem) << rejected.text;
        EXPECT_TRUE(read.tour.empty()) << rejected.text;
    }
}

}  // namespace

}  // namespace atsp
