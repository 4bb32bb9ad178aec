#include "io/MatrixReader.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ios>
#include <limits>
#include <vector>

#include "io/TextFile.h"

namespace atsp {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

enum class TokenKind { End, NotANumber, Number };

// One number as a formatted stream extraction takes it: leading whitespace,
// an optional sign, at least one digit. `magnitude` saturates just above any
// value that matters here, so a long digit string cannot overflow it.
struct Token {
    TokenKind kind;
    bool negative;
    std::uint64_t magnitude;
};

// The numbers of a cost-matrix text, scanned in one buffer of at most
// `chunkBytes` characters that is refilled whenever it is used up: from a
// file, or from a text held whole, copied a chunk at a time so that both go
// the same way. A token is built character by character, so one that
// straddles two chunks needs nothing carried over.
class NumberScanner {
  public:
    NumberScanner(std::string_view text, std::size_t chunkBytes)
        : buffer(std::min(std::max<std::size_t>(chunkBytes, 1), text.size()) + 1), text(text) {
        cursor = end = buffer.data();
        *end = sentinel;
    }

    NumberScanner(std::streambuf& file, std::size_t chunkBytes)
        : buffer(std::max<std::size_t>(chunkBytes, 1) + 1), file(&file) {
        cursor = end = buffer.data();
        *end = sentinel;
    }

    Token next() {
        do {
            while (isSpace(*cursor)) {
                ++cursor;
            }
        } while (cursor == end && refill());
        if (cursor == end) {
            return {TokenKind::End, false, 0};
        }
        bool negative = false;
        if (*cursor == '+' || *cursor == '-') {
            negative = *cursor == '-';
            if (++cursor == end) {
                refill();
            }
        }
        if (!isDigit(*cursor)) {
            return {TokenKind::NotANumber, negative, 0};
        }
        constexpr std::uint64_t saturated = std::uint64_t{1} << 40;
        std::uint64_t magnitude = 0;
        do {
            while (isDigit(*cursor)) {
                magnitude = magnitude * 10 + static_cast<std::uint64_t>(*cursor - '0');
                if (magnitude > saturated) {
                    magnitude = saturated;
                }
                ++cursor;
            }
        } while (cursor == end && refill());
        return {TokenKind::Number, negative, magnitude};
    }

    // Whether reading the file failed: what was scanned is then not the
    // file's whole text.
    bool readFailed() const { return failed; }

  private:
    // Ends the buffered characters. It is neither whitespace, a sign nor a
    // digit, so every scanning loop stops at it without comparing positions;
    // only then does it matter whether it is the end or a '\0' of the text.
    static constexpr char sentinel = '\0';

    // Replaces the buffer's characters with the next ones of the input;
    // false, with the buffer left empty, at the end of the input or when the
    // file cannot be read.
    bool refill() {
        const std::size_t capacity = buffer.size() - 1;
        std::size_t filled = 0;
        if (file != nullptr) {
            try {
                const std::streamsize got =
                    file->sgetn(buffer.data(), static_cast<std::streamsize>(capacity));
                filled = got > 0 ? static_cast<std::size_t>(got) : 0;
            } catch (const std::ios_base::failure&) {
                failed = true;
            }
            if (filled == 0) {
                file = nullptr;  // never read past the end or a failure
            }
        } else {
            filled = std::min(capacity, text.size());
            text.copy(buffer.data(), filled);
            text.remove_prefix(filled);
        }
        cursor = buffer.data();
        end = cursor + filled;
        *end = sentinel;
        return filled > 0;
    }

    // Holds the buffered characters [cursor, end) and the sentinel at `end`.
    std::vector<char> buffer;
    char* cursor;
    char* end;
    std::string_view text;  // the rest of a text held whole; empty for a file
    std::streambuf* file = nullptr;
    bool failed = false;
};

std::string cellPlace(std::uint64_t row, std::uint64_t column) {
    return "the cell at row " + std::to_string(row) + ", column " + std::to_string(column);
}

MatrixReadResult parseMatrix(NumberScanner& scanner, std::uint64_t textBytes) {
    MatrixReadResult result;
    const Token count = scanner.next();
    if (count.kind == TokenKind::End) {
        result.error = "the city count is missing";
        return result;
    }
    if (count.kind == TokenKind::NotANumber) {
        result.error = "the city count is not a decimal integer";
        return result;
    }
    if (count.negative && count.magnitude != 0) {
        result.error = "the city count -" + std::to_string(count.magnitude) + " is negative";
        return result;
    }
    if (count.magnitude > std::numeric_limits<Node>::max()) {
        result.error = "the city count " + std::to_string(count.magnitude) + " is above 65535";
        return result;
    }

    const Node n = static_cast<Node>(count.magnitude);
    const std::uint64_t expectedCells = std::uint64_t{n} * n;
    Graph::Builder graph(n);
    for (Node i = 0; i < n; ++i) {
        for (Node j = 0; j < n; ++j) {
            const Token cell = scanner.next();
            if (cell.kind == TokenKind::End) {
                const std::uint64_t found = std::uint64_t{i} * n + j;
                result.error = "found " + std::to_string(found) + " of " +
                               std::to_string(expectedCells) + " cell values";
                return result;
            }
            if (cell.kind == TokenKind::NotANumber) {
                result.error = cellPlace(i, j) + " is not a decimal integer";
                return result;
            }
            const std::uint64_t limit =
                cell.negative ? std::uint64_t{1} << 31
                              : std::uint64_t{std::numeric_limits<std::int32_t>::max()};
            if (cell.magnitude > limit) {
                result.error = cellPlace(i, j) + " lies outside the signed 32-bit range";
                return result;
            }
            if (i == 0 && j == 0) {
                // Once the cells have begun: every cell takes two characters
                // at least, so a short text with a huge count reserves no
                // more than its own size.
                graph.reserveArcs(static_cast<std::size_t>(
                    std::min<std::uint64_t>(expectedCells - n, textBytes / 2 + 1)));
            }
            if (j != i) {
                const std::int64_t value = cell.negative
                                               ? -static_cast<std::int64_t>(cell.magnitude)
                                               : static_cast<std::int64_t>(cell.magnitude);
                graph.addArc(j, static_cast<std::int32_t>(value));
            }
        }
        graph.endRow();
    }
    result.graph = std::move(graph).build();
    return result;
}

}  // namespace

MatrixReadResult parseCostMatrix(std::string_view text) {
    NumberScanner scanner(text, costMatrixChunkBytes);
    return parseMatrix(scanner, text.size());
}

bool readCostMatrixFile(const std::string& fileName, MatrixReadResult& result,
                        std::size_t chunkBytes) {
    result = MatrixReadResult{};
    std::ifstream file;
    if (!openForReading(fileName, file)) {
        return false;
    }
    std::error_code error;
    const std::uintmax_t fileBytes = std::filesystem::file_size(fileName, error);
    NumberScanner scanner(*file.rdbuf(), chunkBytes);
    result = parseMatrix(scanner, error ? std::numeric_limits<std::uint64_t>::max() : fileBytes);
    if (scanner.readFailed()) {
        result = MatrixReadResult{};
        return false;
    }
    return true;
}

}  // namespace atsp
