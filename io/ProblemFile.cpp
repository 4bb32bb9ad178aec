#include "io/ProblemFile.h"

#include <filesystem>
#include <fstream>

#include "io/TextFile.h"
#include "io/TsplibReader.h"
#include "io/TsplibScanner.h"

namespace atsp {

namespace {

// The opening of a file, enough for isTsplibText to decide on it as on the
// whole text: a byte order mark if the file starts with one, the whitespace
// after it cut to its first character, and the next 64 characters, far more
// than the longest keyword. The whitespace is cut so that no amount of it is
// held, but not dropped, so that a mark behind it stays no mark. The mark and
// the whitespace are those the TSPLIB scanner skips before its first keyword.
bool readTextStart(const std::string& fileName, std::string& start) {
    start.clear();
    std::ifstream file(fileName, std::ios::in | std::ios::binary);
    if (!file.is_open()) {
        return false;
    }
    constexpr std::string_view byteOrderMark = TsplibScanner::byteOrderMark;
    constexpr std::size_t wordBytes = 64;
    constexpr int end = std::char_traits<char>::eof();
    std::streambuf& in = *file.rdbuf();
    try {
        int c = in.sgetc();
        while (start.size() < byteOrderMark.size() && c != end &&
               static_cast<char>(c) == byteOrderMark[start.size()]) {
            start.push_back(static_cast<char>(c));
            c = in.snextc();
        }
        if ((start.empty() || start == byteOrderMark) && c != end &&
            TsplibScanner::isSpace(static_cast<char>(c))) {
            start.push_back(static_cast<char>(c));
            do {
                c = in.snextc();
            } while (c != end && TsplibScanner::isSpace(static_cast<char>(c)));
        }
        for (std::size_t word = 0; word < wordBytes && c != end; ++word) {
            start.push_back(static_cast<char>(c));
            c = in.snextc();
        }
    } catch (const std::ios_base::failure&) {
        return false;
    }
    return true;
}

}  // namespace

bool readProblemFile(const std::string& fileName, MatrixReadResult& result,
                     std::size_t chunkBytes) {
    result = MatrixReadResult{};
    // Telling the kinds apart reads the file's start, so only a file that can
    // be read again from its start is told apart that way; any other (a pipe)
    // is read whole, once.
    std::error_code error;
    if (std::filesystem::is_regular_file(fileName, error)) {
        std::string start;
        if (!readTextStart(fileName, start)) {
            return false;
        }
        if (!isTsplibText(start)) {
            return readCostMatrixFile(fileName, result, chunkBytes);
        }
    }
    std::string text;
    if (!readFileText(fileName, text)) {
        return false;
    }
    result = isTsplibText(text) ? parseTsplib(text) : parseCostMatrix(text);
    return true;
}

}  // namespace atsp
