// Reading a cost-matrix file into the graph.
//
// The file holds whitespace-separated decimal integers: the city count n
// (0 to 65535), then n rows of n cells, the cost of the arc from the row's
// city to the column's city. The diagonal cell of each row is read and
// discarded whatever it holds; every other cell becomes an arc, negative
// values included, so a file of n cities yields the complete directed graph
// without loops. Any whitespace separates values and line structure carries
// no meaning; a number is an optional sign and one or more digits, and ends at
// the first character that is not a digit (so "5-3" is two numbers, as a
// formatted stream extraction would read it). Nothing after the last cell is
// read.
//
// A file that does not hold this is rejected with a message that says what is
// wrong and where, never turned into arcs of made-up cost.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "graph/Graph.h"

namespace atsp {

// What reading a problem file gives: the graph, or what is wrong with the
// file. The TSPLIB reader gives the same.
struct MatrixReadResult {
    Graph graph;
    // Empty when the text is a valid matrix; otherwise what is wrong and
    // where, for example "the cell at row 2, column 0 is not a decimal
    // integer" (rows and columns are city numbers, counted from 0). The graph
    // is then empty.
    std::string error;
};

// Parses the whole text of a cost-matrix file. The graph's arcs are reserved
// once the cells begin, at most as many as the text can hold, so a short file
// with a huge count fails without reserving memory for cells it does not hold.
MatrixReadResult parseCostMatrix(std::string_view text);

// The size of the pieces in which readCostMatrixFile reads a file. The
// kernel writes each piece and the parser reads it straight after, so a
// buffer that stays in the processor's cache reads fastest; far smaller ones
// only add system calls.
inline constexpr std::size_t costMatrixChunkBytes = std::size_t{256} << 10;

// Reads a cost-matrix file `chunkBytes` at a time into one buffer, never
// holding its whole text (which is larger than the graph it describes). The
// result, graph or error, is exactly the one parseCostMatrix gives on the
// file's text, and like that it reads nothing after the last cell. False
// when the file cannot be opened or read, as for readFileText; `result` is
// then empty.
bool readCostMatrixFile(const std::string& fileName, MatrixReadResult& result,
                        std::size_t chunkBytes = costMatrixChunkBytes);

}  // namespace atsp
