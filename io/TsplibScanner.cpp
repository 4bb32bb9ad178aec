#include "io/TsplibScanner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace atsp {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr std::string_view keywords[] = {
    "NAME",
    "TYPE",
    "COMMENT",
    "DIMENSION",
    "CAPACITY",
    "EDGE_WEIGHT_TYPE",
    "EDGE_WEIGHT_FORMAT",
    "EDGE_DATA_FORMAT",
    "NODE_COORD_TYPE",
    "DISPLAY_DATA_TYPE",
    "NODE_COORD_SECTION",
    "DEPOT_SECTION",
    "DEMAND_SECTION",
    "EDGE_DATA_SECTION",
    "FIXED_EDGES_SECTION",
    "DISPLAY_DATA_SECTION",
    "TOUR_SECTION",
    "EDGE_WEIGHT_SECTION",
    "EOF",
};

}  // namespace

TsplibScanner::TsplibScanner(std::string_view text) : text(text) {
    if (text.starts_with(byteOrderMark)) {
        position = byteOrderMark.size();
    }
}

void TsplibScanner::skipWhitespace() {
    while (position < text.size() && isSpace(text[position])) {
        if (text[position] == '\n') {
            ++currentLine;
        }
        ++position;
    }
}

std::string_view TsplibScanner::keyword() {
    skipWhitespace();
    tokenLine = currentLine;
    const std::size_t start = position;
    while (position < text.size() && !isSpace(text[position]) && text[position] != ':') {
        ++position;
    }
    if (position == start && position < text.size()) {
        ++position;  // a stray colon is a word of its own, so that it is reported
        return text.substr(start, 1);
    }
    const std::string_view word = text.substr(start, position - start);
    while (position < text.size() && isBlank(text[position])) {
        ++position;
    }
    if (position < text.size() && text[position] == ':') {
        ++position;
    }
    return word;
}

std::string_view TsplibScanner::value() {
    while (position < text.size() && isBlank(text[position])) {
        ++position;
    }
    tokenLine = currentLine;
    const std::size_t start = position;
    while (position < text.size() && text[position] != '\n') {
        ++position;
    }
    std::size_t end = position;
    while (end > start && isSpace(text[end - 1])) {
        --end;
    }
    return text.substr(start, end - start);
}

std::string_view TsplibScanner::peekToken() {
    skipWhitespace();
    tokenLine = currentLine;
    std::size_t end = position;
    while (end < text.size() && !isSpace(text[end])) {
        ++end;
    }
    return text.substr(position, end - position);
}

std::string_view TsplibScanner::token() {
    const std::string_view next = peekToken();
    position += next.size();
    return next;
}

bool isTsplibKeyword(std::string_view token) {
    const std::string_view word = token.substr(0, token.find(':'));
    for (const std::string_view keyword : keywords) {
        if (word == keyword) {
            return true;
        }
    }
    return false;
}

bool looksNumeric(std::string_view token) {
    return !token.empty() &&
           (isDigit(token[0]) || token[0] == '-' || token[0] == '+' || token[0] == '.');
}

std::optional<std::int64_t> wholeNumber(std::string_view token) {
    bool negative = false;
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
        negative = token[0] == '-';
        token.remove_prefix(1);
    }
    if (token.empty()) {
        return std::nullopt;
    }
    constexpr std::int64_t saturated = std::int64_t{1} << 40;
    std::int64_t magnitude = 0;
    for (const char c : token) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
        magnitude = std::min(saturated, magnitude * 10 + (c - '0'));
    }
    return negative ? -magnitude : magnitude;
}

std::optional<double> realNumber(std::string_view token) {
    // from_chars takes a minus sign but no plus sign.
    if (token.size() > 1 && token[0] == '+' && token[1] != '-') {
        token.remove_prefix(1);
    }
    double number = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), number);
    if (error != std::errc() || end != token.data() + token.size() || !std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

std::string quoted(std::string_view text) {
    std::string quotedText;
    quotedText.reserve(text.size() + 2);
    quotedText += '"';
    quotedText += text;
    quotedText += '"';
    return quotedText;
}

}  // namespace atsp
