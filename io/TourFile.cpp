#include "io/TourFile.h"

#include <optional>

#include "io/TsplibScanner.h"

namespace atsp {

namespace {

std::string at(std::size_t line, const std::string& problem) {
    return "line " + std::to_string(line) + ": " + problem;
}

std::string oneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

// The visiting order of the TOUR_SECTION, cities from 0, or the error.
std::string readVisitingOrder(TsplibScanner& scanner, std::size_t cityCount,
                              std::vector<Node>& order) {
    std::vector<bool> visited(cityCount, false);
    for (;;) {
        const std::string_view token = scanner.token();
        if (token.empty() || token == "-1" || token == "EOF") {
            break;
        }
        const std::optional<std::int64_t> city = wholeNumber(token);
        if (!city || *city < 1 || static_cast<std::uint64_t>(*city) > cityCount) {
            return at(scanner.line(), "the city " + quoted(token) +
                                          " is not a whole number from 1 to " +
                                          std::to_string(cityCount));
        }
        if (visited[*city - 1]) {
            return at(scanner.line(), "city " + std::to_string(*city) + " is given twice");
        }
        visited[*city - 1] = true;
        order.push_back(static_cast<Node>(*city - 1));
    }
    if (order.size() < cityCount) {
        std::size_t missing = 0;
        while (visited[missing]) {
            ++missing;
        }
        return "the TOUR_SECTION names " + std::to_string(order.size()) + " of the " +
               std::to_string(cityCount) + " cities; city " + std::to_string(missing + 1) +
               " is missing";
    }
    return "";
}

}  // namespace

TourReadResult parseTsplibTour(std::string_view text, std::size_t cityCount) {
    TsplibScanner scanner(text);
    TourReadResult result;
    std::vector<Node> order;
    bool haveSection = false;
    for (std::string_view word = scanner.keyword(); !word.empty() && word != "EOF";
         word = scanner.keyword()) {
        const std::size_t line = scanner.line();
        if (word == "TOUR_SECTION") {
            result.error = readVisitingOrder(scanner, cityCount, order);
            haveSection = true;
            break;
        }
        if (word == "NAME" || word == "COMMENT") {
            scanner.value();
        } else if (word == "TYPE") {
            const std::string_view type = scanner.value();
            if (type != "TOUR") {
                result.error = at(line, "TYPE " + quoted(type) + " is not TOUR");
            }
        } else if (word == "DIMENSION") {
            const std::string_view dimension = scanner.value();
            const std::optional<std::int64_t> count = wholeNumber(dimension);
            if (!count || *count < 0 || static_cast<std::uint64_t>(*count) != cityCount) {
                result.error = at(line, "DIMENSION " + quoted(dimension) + " is not the " +
                                            std::to_string(cityCount) + " cities of the problem");
            }
        } else {
            result.error = at(line, "unexpected keyword " + quoted(word) +
                                        " (a tour file holds NAME, COMMENT, TYPE, "
                                        "DIMENSION and TOUR_SECTION)");
        }
        if (!result.error.empty()) {
            return result;
        }
    }
    if (!result.error.empty()) {
        return result;
    }
    if (!haveSection) {
        result.error = "the TOUR_SECTION is missing";
        return result;
    }
    result.tour.resize(cityCount);
    for (std::size_t k = 0; k < order.size(); ++k) {
        result.tour[order[k]] = order[k + 1 == order.size() ? 0 : k + 1];
    }
    return result;
}

std::string tsplibTourText(std::string_view name, std::string_view comment,
                           const std::vector<Node>& tour) {
    std::string text = "NAME : " + oneLine(name) + "\nCOMMENT : " + oneLine(comment) +
                       "\nTYPE : TOUR\nDIMENSION : " + std::to_string(tour.size()) +
                       "\nTOUR_SECTION\n";
    Node city = 0;
    for (std::size_t k = 0; k < tour.size(); ++k) {
        text += std::to_string(city + 1) + "\n";
        city = tour[city];
    }
    return text + "-1\nEOF\n";
}

}  // namespace atsp
