// Reading a problem file of either kind the solver takes: a cost matrix or a
// TSPLIB file, told apart by the first word (MatrixReader.h, TsplibReader.h).
#pragma once

#include <cstddef>
#include <string>

#include "io/MatrixReader.h"

namespace atsp {

// Reads a problem file of either kind, told apart as isTsplibText would on
// its whole text. A TSPLIB file is read whole and parsed. A cost matrix is
// recognised from its first word and read `chunkBytes` at a time
// (readCostMatrixFile), so that its text is never held, unless the file can
// be read only once (a pipe): then it is read whole too. False when the file
// cannot be opened or read; `result` is then empty.
bool readProblemFile(const std::string& fileName, MatrixReadResult& result,
                     std::size_t chunkBytes = costMatrixChunkBytes);

}  // namespace atsp
