// The words and numbers of a TSPLIB95 file, with the line each one stands on.
//
// A TSPLIB file is a header of lines "KEYWORD : value" followed
// by data sections, each opened by a keyword alone on its line
// (EDGE_WEIGHT_SECTION, NODE_COORD_SECTION, TOUR_SECTION, ...) and holding
// whitespace-separated numbers that may wrap over any number of lines; the
// optional keyword EOF ends the file. Real files differ in the details, and
// the scanner accepts them all: blanks before or after the colon, or none
// ("NAME:x", "NAME : x"), blanks after a section keyword or a colon there,
// trailing blanks, CRLF line ends, a UTF-8 byte order mark, blank lines, and
// an EOF line that is indented, missing, or followed by anything.
//
// The scanner only cuts the text up; the problem reader (TsplibReader.h) and
// the tour reader (TourFile.h) decide what the words mean. Both read the text
// as `keyword()`, then `value()` for a header keyword or `token()`s
// for a section, and cite `line()` in their messages. Lines are counted from
// 1 by their '\n' ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace atsp {

class TsplibScanner {
  public:
    explicit TsplibScanner(std::string_view text);

    // The next word, ended by whitespace or a colon; empty at the end of the
    // text. Line ends before it are skipped.
    std::string_view keyword();
    // What follows a header keyword on its line: after blanks and one
    // colon (either may be missing), to the line end, without outer blanks.
    std::string_view value();
    // The next whitespace-separated token, not consumed; empty at the end.
    std::string_view peekToken();
    std::string_view token();

    // The line of the last word, value or token read or peeked at.
    std::size_t line() const { return tokenLine; }

    // What the scanner skips before the first keyword: a UTF-8 byte order
    // mark at the very start, then whitespace.
    static constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    static bool isSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

  private:
    void skipWhitespace();

    std::string_view text;
    std::size_t position = 0;
    std::size_t currentLine = 1;
    std::size_t tokenLine = 1;
};

// Whether `token` names a TSPLIB keyword, alone or followed by a colon and
// more ("NAME:" and "NAME:x" both do). Data sections end at such a token.
bool isTsplibKeyword(std::string_view token);
// Whether `token` can only be meant as a number: it starts with a digit, a
// sign or a decimal point.
bool looksNumeric(std::string_view token);

// A whole decimal number: an optional sign and digits, nothing else. The
// magnitude saturates at 2^40, far outside every range checked against it.
std::optional<std::int64_t> wholeNumber(std::string_view token);
// A finite decimal real number ("565.0", "-33.52", "6.734e+03", "+1").
std::optional<double> realNumber(std::string_view token);

// `text` between double quotes, as messages cite what a file or command line
// holds.
std::string quoted(std::string_view text);

}  // namespace atsp
