// Reading a TSPLIB95 problem file into the graph the matrix reader builds.
//
// Accepted: TYPE TSP or ATSP, DIMENSION 1 to 65535, and either
// - EDGE_WEIGHT_TYPE EXPLICIT with an EDGE_WEIGHT_SECTION of whole numbers in
//   the signed 32-bit range, laid out as EDGE_WEIGHT_FORMAT says: FULL_MATRIX
//   (n rows of n), UPPER_ROW / LOWER_ROW (row by row, the triangle above or
//   below the diagonal), UPPER_DIAG_ROW / LOWER_DIAG_ROW (the same with the
//   diagonal), or the *_COL forms, column by column. A triangle gives both
//   arcs between two cities the same cost; so the column-wise upper triangle
//   lists exactly the values of the row-wise lower one, and vice versa.
// - coordinates, a NODE_COORD_SECTION of n lines "id x y" (ids 1 to n, each
//   once, in any order), with TSPLIB95's distance functions, where
//   nint(v) = (int)(v + 0.5) and dx, dy are the coordinate differences:
//     EUC_2D   nint(sqrt(dx² + dy²))
//     CEIL_2D  ceil(sqrt(dx² + dy²))
//     MAN_2D   nint(|dx| + |dy|)
//     MAX_2D   max(nint(|dx|), nint(|dy|))
//     ATT      r = sqrt((dx² + dy²) / 10), t = nint(r), t + 1 if t < r else t
//     GEO      x is latitude, y longitude, in DDD.MM; whole degrees by
//              truncation toward zero, radians = PI (deg + 5 min / 3) / 180
//              with PI = 3.141592; q1 = cos(lon_i - lon_j),
//              q2 = cos(lat_i - lat_j), q3 = cos(lat_i + lat_j);
//              (int)(6378.388 acos(0.5 ((1 + q1) q2 - (1 - q1) q3)) + 1)
//   A distance beyond the signed 32-bit range is an error.
// The diagonal is ignored whatever it holds; row i of the graph lists every
// other city ascending. A DISPLAY_DATA_SECTION (and coordinates given beside
// explicit weights) is skipped; NAME, COMMENT, CAPACITY, DISPLAY_DATA_TYPE and
// EDGE_DATA_FORMAT are read and ignored. Anything after EOF is ignored. The
// scanner (TsplibScanner.h) takes the quirks of real files.
//
// Rejected, with what is wrong and, where there is one, the line: a missing,
// repeated or unknown keyword; a type, weight type or section the solver does
// not solve (HCP, CVRP, SOP, EUC_3D, FIXED_EDGES_SECTION, ...); too few, too
// many or non-numeric values; an id outside 1 to n or given twice.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "io/MatrixReader.h"

namespace atsp {

// Whether the text is a TSPLIB file rather than a cost matrix: its first word
// is a TSPLIB keyword. A cost-matrix file starts with a number.
bool isTsplibText(std::string_view text);

// Parses the whole text of a TSPLIB problem file. On error the graph is empty
// and `error` says what is wrong, e.g. "line 7: DIMENSION 0 names no city".
MatrixReadResult parseTsplib(std::string_view text);

}  // namespace atsp
