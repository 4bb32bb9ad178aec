#include "solver/MatrixReader.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

enum class TokenKind { End, NotANumber, Number };

// One number as a formatted stream extraction takes it: leading whitespace,
// an optional sign, at least one digit. `magnitude` saturates just above any
// value that matters here, so a long digit string cannot overflow it.
struct Token {
    TokenKind kind;
    bool negative;
    std::uint64_t magnitude;
};

class NumberScanner {
public:
    explicit NumberScanner(std::string_view text) : text(text) {}

    Token next() {
        while (position < text.size() && isSpace(text[position])) {
            ++position;
        }
        if (position == text.size()) {
            return {TokenKind::End, false, 0};
        }
        bool negative = false;
        if (text[position] == '+' || text[position] == '-') {
            negative = text[position] == '-';
            ++position;
        }
        if (position == text.size() || !isDigit(text[position])) {
            return {TokenKind::NotANumber, negative, 0};
        }
        constexpr std::uint64_t saturated = std::uint64_t{1} << 40;
        std::uint64_t magnitude = 0;
        while (position < text.size() && isDigit(text[position])) {
            magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[position] - '0');
            if (magnitude > saturated) {
                magnitude = saturated;
            }
            ++position;
        }
        return {TokenKind::Number, negative, magnitude};
    }

private:
    std::string_view text;
    std::size_t position = 0;
};

std::string cellPlace(std::uint64_t row, std::uint64_t column) {
    return "the cell at row " + std::to_string(row) + ", column " + std::to_string(column);
}

}  // namespace

MatrixReadResult parseCostMatrix(std::string_view text) {
    MatrixReadResult result;
    NumberScanner scanner(text);

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
    result.successors.resize(n);
    result.costs.resize(n);
    for (Node i = 0; i < n; ++i) {
        for (Node j = 0; j < n; ++j) {
            const Token cell = scanner.next();
            if (cell.kind == TokenKind::End) {
                const std::uint64_t found = std::uint64_t{i} * n + j;
                result = MatrixReadResult{};
                result.error = "found " + std::to_string(found) + " of " +
                               std::to_string(expectedCells) + " cell values";
                return result;
            }
            if (cell.kind == TokenKind::NotANumber) {
                result = MatrixReadResult{};
                result.error = cellPlace(i, j) + " is not a decimal integer";
                return result;
            }
            const std::uint64_t limit = cell.negative
                                            ? std::uint64_t{1} << 31
                                            : std::uint64_t{std::numeric_limits<std::int32_t>::max()};
            if (cell.magnitude > limit) {
                result = MatrixReadResult{};
                result.error = cellPlace(i, j) + " lies outside the signed 32-bit range";
                return result;
            }
            if (j == 0) {
                result.successors[i].reserve(n - 1);
                result.costs[i].reserve(n - 1);
            }
            if (j != i) {
                const std::int64_t value = cell.negative ? -static_cast<std::int64_t>(cell.magnitude)
                                                         : static_cast<std::int64_t>(cell.magnitude);
                result.successors[i].push_back(j);
                result.costs[i].push_back(static_cast<std::int32_t>(value));
            }
        }
    }
    return result;
}

bool readFileText(const std::string& fileName, std::string& text) {
    std::error_code error;
    if (std::filesystem::is_directory(fileName, error)) {
        return false;
    }
    std::ifstream file(fileName, std::ios::in | std::ios::binary);
    if (!file.is_open()) {
        return false;
    }
    // Sized once from the file's length where it has one, so that a large
    // file is never held twice while its buffer grows; anything beyond that
    // length (a growing file, a pipe) is read in chunks.
    const std::uintmax_t expectedSize = std::filesystem::file_size(fileName, error);
    text.assign(error ? 0 : static_cast<std::size_t>(expectedSize), '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const std::streamsize got = file.rdbuf()->sgetn(text.data() + filled,
                                                        static_cast<std::streamsize>(text.size() - filled));
        if (got <= 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    constexpr std::size_t chunkSize = std::size_t{1} << 20;
    while (filled == text.size() &&
           file.rdbuf()->sgetc() != std::char_traits<char>::eof()) {
        text.resize(filled + chunkSize);
        const std::streamsize got = file.rdbuf()->sgetn(text.data() + filled, chunkSize);
        filled += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    text.resize(filled);
    return !file.bad();
}
