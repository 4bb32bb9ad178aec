// Tours in TSPLIB95's TOUR format: reading a starting tour, writing the best
// one.
//
// A tour file names the cities in visiting order, by TSPLIB ids 1 to n, in a
// TOUR_SECTION ended by -1 (or by EOF or the end of the text):
//
//     NAME : br17.tour
//     COMMENT : Cost 39, proven optimal
//     TYPE : TOUR
//     DIMENSION : 17
//     TOUR_SECTION
//     1
//     12
//     ...
//     -1
//     EOF
//
// Reading accepts NAME and COMMENT (ignored), TYPE (TOUR only) and DIMENSION
// (the problem's city count only) before the section, with the quirks of
// TsplibScanner.h; the section must name every city exactly once. Only the
// first tour is read: a TOUR_SECTION may hold several, each ended by -1, and
// anything after the first -1 is ignored.
//
// Inside the solver a tour is in successor form, as TourResult holds it:
// entry i is the city visited right after city i (cities from 0). Writing
// starts the visiting order at city 1 (index 0), as TSPLIB's optimal tours do.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "graph/Graph.h"

namespace atsp {

struct TourReadResult {
    std::vector<Node> tour;  // successor form; empty on error
    // Empty when the text is a valid tour of the problem; otherwise what is
    // wrong and where, e.g. "line 9: city 4 is given twice".
    std::string error;
};

// Reads a TOUR file's text as a tour of a problem of `cityCount` cities.
TourReadResult parseTsplibTour(std::string_view text, std::size_t cityCount);

// The text of a TOUR file for `tour` (successor form, one cycle through all
// its cities). `name` and `comment` fill the NAME and COMMENT lines; a line
// break in them is written as a blank, so that each stays on its line.
std::string tsplibTourText(std::string_view name, std::string_view comment,
                           const std::vector<Node>& tour);

}  // namespace atsp
