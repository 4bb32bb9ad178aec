#include "io/TsplibReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "io/TsplibScanner.h"

namespace atsp {

namespace {

// Thrown where the text is found malformed and caught by parseTsplib, so that
// reading stops there and no half-built graph leaves the reader.
struct Malformed {
    std::string problem;
};

[[noreturn]] void reject(std::string problem) {
    throw Malformed{std::move(problem)};
}

[[noreturn]] void reject(std::size_t line, const std::string& problem) {
    reject("line " + std::to_string(line) + ": " + problem);
}

enum class Weights {
    Explicit,
    Euclidean,
    Ceiling,
    PseudoEuclidean,
    Geographic,
    Manhattan,
    Maximum,
    Unsupported,
};

struct NamedWeights {
    std::string_view name;
    Weights weights;
};

constexpr NamedWeights weightTypes[] = {
    {"EXPLICIT", Weights::Explicit},   {"EUC_2D", Weights::Euclidean},
    {"CEIL_2D", Weights::Ceiling},     {"ATT", Weights::PseudoEuclidean},
    {"GEO", Weights::Geographic},      {"MAN_2D", Weights::Manhattan},
    {"MAX_2D", Weights::Maximum},      {"EUC_3D", Weights::Unsupported},
    {"MAN_3D", Weights::Unsupported},  {"MAX_3D", Weights::Unsupported},
    {"XRAY1", Weights::Unsupported},   {"XRAY2", Weights::Unsupported},
    {"SPECIAL", Weights::Unsupported},
};

// The order of the values of an EDGE_WEIGHT_SECTION; FUNCTION: there is none,
// the weights are computed from coordinates.
enum class Layout { FullMatrix, UpperRow, LowerRow, UpperDiagRow, LowerDiagRow, Function };

struct NamedLayout {
    std::string_view name;
    Layout layout;
};

constexpr NamedLayout layouts[] = {
    {"FULL_MATRIX", Layout::FullMatrix},
    {"UPPER_ROW", Layout::UpperRow},
    {"LOWER_ROW", Layout::LowerRow},
    {"UPPER_DIAG_ROW", Layout::UpperDiagRow},
    {"LOWER_DIAG_ROW", Layout::LowerDiagRow},
    // Column j of the upper triangle is row j of the lower one, and the other
    // way round: for a symmetric matrix the values come in the same order.
    {"UPPER_COL", Layout::LowerRow},
    {"LOWER_COL", Layout::UpperRow},
    {"UPPER_DIAG_COL", Layout::LowerDiagRow},
    {"LOWER_DIAG_COL", Layout::UpperDiagRow},
    {"FUNCTION", Layout::Function},
};

std::uint64_t valueCount(Layout layout, std::uint64_t n) {
    switch (layout) {
        case Layout::FullMatrix:
            return n * n;
        case Layout::UpperRow:
        case Layout::LowerRow:
            return n * (n - 1) / 2;
        case Layout::UpperDiagRow:
        case Layout::LowerDiagRow:
            return n * (n + 1) / 2;
        case Layout::Function:
            break;
    }
    return 0;
}

// Where the cost between cities i and j (i != j, from 0) stands in the
// EDGE_WEIGHT_SECTION. In the triangles the rows before row r hold
// (n-1) + (n-2) + ... values (upper), or 1 + 2 + ... (lower), one more per row
// with the diagonal; every product below is of two numbers one of which is
// even, so the halving is exact.
std::uint64_t valueIndex(Layout layout, std::uint64_t n, std::uint64_t i, std::uint64_t j) {
    const std::uint64_t low = std::min(i, j);
    const std::uint64_t high = std::max(i, j);
    switch (layout) {
        case Layout::UpperRow:
            return low * (2 * n - low - 1) / 2 + (high - low - 1);
        case Layout::UpperDiagRow:
            return low * (2 * n - low + 1) / 2 + (high - low);
        case Layout::LowerRow:
            return high * (high - 1) / 2 + low;
        case Layout::LowerDiagRow:
            return high * (high + 1) / 2 + low;
        case Layout::FullMatrix:
        case Layout::Function:
            break;
    }
    return i * n + j;
}

struct Point {
    double x = 0;
    double y = 0;
};

// TSPLIB95's nint, (int)(v + 0.5), for the non-negative values it is given.
double nint(double value) {
    return std::floor(value + 0.5);
}

// A GEO coordinate, DDD.MM (degrees, then minutes after the point), in
// radians with TSPLIB95's value of pi.
double geoRadians(double coordinate) {
    constexpr double pi = 3.141592;
    const double degrees = std::trunc(coordinate);
    const double minutes = coordinate - degrees;
    return pi * (degrees + 5.0 * minutes / 3.0) / 180.0;
}

double geographicDistance(Point a, Point b) {
    constexpr double earthRadius = 6378.388;  // km
    const double latitudeA = geoRadians(a.x);
    const double longitudeA = geoRadians(a.y);
    const double latitudeB = geoRadians(b.x);
    const double longitudeB = geoRadians(b.y);
    const double q1 = std::cos(longitudeA - longitudeB);
    const double q2 = std::cos(latitudeA - latitudeB);
    const double q3 = std::cos(latitudeA + latitudeB);
    // Rounding can carry the cosine of two equal points just past 1, where
    // acos is undefined; TSPLIB95 leaves that case open.
    const double cosine = std::clamp(0.5 * ((1.0 + q1) * q2 - (1.0 - q1) * q3), -1.0, 1.0);
    return std::trunc(earthRadius * std::acos(cosine) + 1.0);
}

// The distance as a whole number in a double; it may lie beyond any integer
// type (or be infinite) for huge coordinates, so it is checked before it is
// converted.
double distance(Weights weights, Point a, Point b) {
    const double dx = std::abs(a.x - b.x);
    const double dy = std::abs(a.y - b.y);
    switch (weights) {
        case Weights::Euclidean:
            return nint(std::sqrt(dx * dx + dy * dy));
        case Weights::Ceiling:
            return std::ceil(std::sqrt(dx * dx + dy * dy));
        case Weights::Manhattan:
            return nint(dx + dy);
        case Weights::Maximum:
            return std::max(nint(dx), nint(dy));
        case Weights::PseudoEuclidean: {
            const double r = std::sqrt((dx * dx + dy * dy) / 10.0);
            const double t = nint(r);
            return t < r ? t + 1 : t;
        }
        case Weights::Geographic:
            return geographicDistance(a, b);
        case Weights::Explicit:
        case Weights::Unsupported:
            break;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

// A header line as read: "KEYWORD : value" on line `line`.
struct Entry {
    std::string_view keyword;
    std::string_view value;
    std::size_t line = 0;
    bool given = false;
};

class ProblemReader {
  public:
    explicit ProblemReader(std::string_view text) : scanner(text) {}

    MatrixReadResult read() {
        for (std::string_view word = scanner.keyword(); !word.empty() && word != "EOF";
             word = scanner.keyword()) {
            const std::size_t line = scanner.line();
            if (word.ends_with("_SECTION") && isTsplibKeyword(word)) {
                settleHeader();
                readSection(word, line);
            } else if (word == "COMMENT") {
                scanner.value();  // may be given any number of times
            } else if (Entry* entry = headerEntry(word)) {
                recordHeaderLine(*entry, line);
            } else if (looksNumeric(word)) {
                reject(line, "the value " + quoted(word) + " stands outside any data section");
            } else {
                reject(line, "unknown keyword " + quoted(word));
            }
        }
        settleHeader();
        if (weights == Weights::Explicit && !haveEdgeWeights) {
            reject("the EDGE_WEIGHT_SECTION is missing");
        }
        if (weights != Weights::Explicit && !haveCoordinates) {
            reject("the NODE_COORD_SECTION is missing");
        }
        return buildGraph();
    }

  private:
    Entry* headerEntry(std::string_view keyword) {
        for (Entry& entry : header) {
            if (entry.keyword == keyword) {
                return &entry;
            }
        }
        return nullptr;
    }

    const Entry& entry(std::string_view keyword) { return *headerEntry(keyword); }

    void recordHeaderLine(Entry& entry, std::size_t line) {
        const std::string keyword(entry.keyword);
        if (settled) {
            reject(line, keyword + " comes after a data section");
        }
        if (entry.given) {
            reject(line, keyword + " is given twice");
        }
        entry.value = scanner.value();
        entry.line = line;
        entry.given = true;
    }

    // Checks the header once all of it is known: before the first
    // data section, whose reading depends on it, or at the end.
    void settleHeader() {
        if (settled) {
            return;
        }
        settled = true;
        settleType();
        settleDimension();
        settleWeights();
    }

    void settleType() {
        const Entry& type = entry("TYPE");
        if (!type.given) {
            reject("TYPE is missing");
        }
        if (type.value == "TSP" || type.value == "ATSP") {
            return;
        }
        if (type.value == "SOP" || type.value == "HCP" || type.value == "CVRP" ||
            type.value == "TOUR") {
            reject(type.line,
                   "TYPE " + std::string(type.value) + " is not supported: only TSP and ATSP are");
        }
        reject(type.line, "unknown TYPE " + quoted(type.value));
    }

    void settleDimension() {
        const Entry& dimension = entry("DIMENSION");
        if (!dimension.given) {
            reject("DIMENSION is missing");
        }
        const std::optional<std::int64_t> count = wholeNumber(dimension.value);
        if (!count) {
            reject(dimension.line,
                   "DIMENSION " + quoted(dimension.value) + " is not a whole number");
        }
        if (*count < 1 || *count > std::numeric_limits<Node>::max()) {
            reject(dimension.line,
                   "DIMENSION " + std::string(dimension.value) + " lies outside 1 to 65535");
        }
        n = static_cast<Node>(*count);
    }

    void settleWeights() {
        const Entry& type = entry("EDGE_WEIGHT_TYPE");
        if (!type.given) {
            reject("EDGE_WEIGHT_TYPE is missing");
        }
        const auto namedWeights =
            std::find_if(std::begin(weightTypes), std::end(weightTypes),
                         [&type](const NamedWeights& named) { return named.name == type.value; });
        if (namedWeights == std::end(weightTypes)) {
            reject(type.line, "unknown EDGE_WEIGHT_TYPE " + quoted(type.value));
        }
        if (namedWeights->weights == Weights::Unsupported) {
            reject(type.line, "EDGE_WEIGHT_TYPE " + std::string(type.value) + " is not supported");
        }
        weights = namedWeights->weights;
        weightTypeName = type.value;

        const Entry& format = entry("EDGE_WEIGHT_FORMAT");
        if (!format.given) {
            if (weights == Weights::Explicit) {
                reject("EDGE_WEIGHT_FORMAT is missing: EXPLICIT weights need one");
            }
            layout = Layout::Function;
            formatName = "FUNCTION";
        } else {
            const auto namedLayout = std::find_if(
                std::begin(layouts), std::end(layouts),
                [&format](const NamedLayout& named) { return named.name == format.value; });
            if (namedLayout == std::end(layouts)) {
                reject(format.line, "unknown EDGE_WEIGHT_FORMAT " + quoted(format.value));
            }
            layout = namedLayout->layout;
            formatName = format.value;
        }
        if ((weights == Weights::Explicit) != (layout != Layout::Function)) {
            reject(format.line, "EDGE_WEIGHT_FORMAT " + std::string(formatName) +
                                    " does not go with EDGE_WEIGHT_TYPE " +
                                    std::string(type.value));
        }
        const Entry& coordinates = entry("NODE_COORD_TYPE");
        if (weights != Weights::Explicit && coordinates.given &&
            coordinates.value != "TWOD_COORDS") {
            reject(coordinates.line, "NODE_COORD_TYPE " + std::string(coordinates.value) +
                                         " does not go with EDGE_WEIGHT_TYPE " +
                                         std::string(type.value));
        }
    }

    void readSection(std::string_view keyword, std::size_t line) {
        const bool explicitWeights = weights == Weights::Explicit;
        if (keyword == "EDGE_WEIGHT_SECTION") {
            if (!explicitWeights) {
                reject(line, "an EDGE_WEIGHT_SECTION needs EDGE_WEIGHT_TYPE EXPLICIT");
            }
            rejectRepeat(haveEdgeWeights, keyword, line);
            readEdgeWeights(line);
        } else if (keyword == "NODE_COORD_SECTION" && !explicitWeights) {
            rejectRepeat(haveCoordinates, keyword, line);
            readCoordinates(line);
        } else if (keyword == "NODE_COORD_SECTION" || keyword == "DISPLAY_DATA_SECTION") {
            // Positions to draw the instance with, not its costs.
            while (looksNumeric(scanner.peekToken())) {
                scanner.token();
            }
        } else {
            reject(line, std::string(keyword) + " is not supported");
        }
    }

    static void rejectRepeat(bool& seen, std::string_view keyword, std::size_t line) {
        if (seen) {
            reject(line, std::string(keyword) + " is given twice");
        }
        seen = true;
    }

    // The next value of a section; the section ends early at a keyword or the
    // end of the text.
    std::string_view nextValue(std::size_t sectionLine, const std::string& shortage) {
        const std::string_view token = scanner.peekToken();
        if (token.empty() || isTsplibKeyword(token)) {
            reject(sectionLine, shortage);
        }
        return scanner.token();
    }

    void rejectSurplus(const std::string& surplus) {
        if (looksNumeric(scanner.peekToken())) {
            reject(scanner.line(), surplus);
        }
    }

    void readEdgeWeights(std::size_t sectionLine) {
        const std::uint64_t needed = valueCount(layout, n);
        const std::string demand = std::to_string(needed) + " values " + std::string(formatName) +
                                   " needs for DIMENSION " + std::to_string(n);
        while (edgeWeights.size() < needed) {
            const std::string_view token = nextValue(
                sectionLine, "the EDGE_WEIGHT_SECTION holds " + std::to_string(edgeWeights.size()) +
                                 " of the " + demand);
            const std::optional<std::int64_t> value = wholeNumber(token);
            if (!value) {
                reject(scanner.line(),
                       quoted(token) + " in the EDGE_WEIGHT_SECTION is not a whole number");
            }
            if (*value < std::numeric_limits<std::int32_t>::min() ||
                *value > std::numeric_limits<std::int32_t>::max()) {
                reject(scanner.line(), std::string(token) +
                                           " in the EDGE_WEIGHT_SECTION lies outside the signed "
                                           "32-bit range");
            }
            edgeWeights.push_back(static_cast<std::int32_t>(*value));
        }
        rejectSurplus("the EDGE_WEIGHT_SECTION holds more than the " + demand);
    }

    void readCoordinates(std::size_t sectionLine) {
        points.assign(n, Point{});
        std::vector<bool> seen(n, false);
        const std::string nodes = " nodes of DIMENSION " + std::to_string(n);
        for (Node k = 0; k < n; ++k) {
            const std::string shortage = "the NODE_COORD_SECTION holds " + std::to_string(k) +
                                         " of the " + std::to_string(n) + nodes;
            const std::string_view idToken = nextValue(sectionLine, shortage);
            const std::optional<std::int64_t> id = wholeNumber(idToken);
            if (!id || *id < 1 || *id > n) {
                reject(scanner.line(), "the node id " + quoted(idToken) +
                                           " is not a whole number from 1 to " + std::to_string(n));
            }
            const Node city = static_cast<Node>(*id - 1);
            if (seen[city]) {
                reject(scanner.line(), "node " + std::to_string(*id) + " is given twice");
            }
            seen[city] = true;
            points[city].x = coordinate(nextValue(sectionLine, shortage));
            points[city].y = coordinate(nextValue(sectionLine, shortage));
        }
        rejectSurplus("the NODE_COORD_SECTION holds more than the " + std::to_string(n) + nodes);
    }

    double coordinate(std::string_view token) {
        const std::optional<double> value = realNumber(token);
        if (!value) {
            reject(scanner.line(), "the coordinate " + quoted(token) + " is not a finite number");
        }
        return *value;
    }

    std::int32_t arcCost(Node i, Node j) const {
        if (weights == Weights::Explicit) {
            return edgeWeights[valueIndex(layout, n, i, j)];
        }
        const double cost = distance(weights, points[i], points[j]);
        if (!(cost <= std::numeric_limits<std::int32_t>::max())) {
            reject("the " + std::string(weightTypeName) + " distance from node " +
                   std::to_string(i + 1) + " to node " + std::to_string(j + 1) +
                   " lies outside the signed 32-bit range");
        }
        return static_cast<std::int32_t>(cost);
    }

    MatrixReadResult buildGraph() const {
        Graph::Builder graph(n);
        graph.reserveArcs(std::size_t{n} * (n - 1u));
        for (Node i = 0; i < n; ++i) {
            for (Node j = 0; j < n; ++j) {
                if (j != i) {
                    graph.addArc(j, arcCost(i, j));
                }
            }
            graph.endRow();
        }
        return {std::move(graph).build(), {}};
    }

    TsplibScanner scanner;
    // COMMENT, which may repeat, is not kept.
    std::array<Entry, 9> header{{
        {"NAME", {}, 0, false},
        {"TYPE", {}, 0, false},
        {"DIMENSION", {}, 0, false},
        {"CAPACITY", {}, 0, false},
        {"EDGE_WEIGHT_TYPE", {}, 0, false},
        {"EDGE_WEIGHT_FORMAT", {}, 0, false},
        {"EDGE_DATA_FORMAT", {}, 0, false},
        {"NODE_COORD_TYPE", {}, 0, false},
        {"DISPLAY_DATA_TYPE", {}, 0, false},
    }};
    bool settled = false;
    // Known once the header is settled:
    Node n = 0;
    Weights weights = Weights::Explicit;
    Layout layout = Layout::FullMatrix;
    std::string_view weightTypeName;
    std::string_view formatName;

    std::vector<std::int32_t> edgeWeights;  // the EDGE_WEIGHT_SECTION in file order
    bool haveEdgeWeights = false;
    std::vector<Point> points;  // by city, from 0
    bool haveCoordinates = false;
};

}  // namespace

bool isTsplibText(std::string_view text) {
    TsplibScanner scanner(text);
    return isTsplibKeyword(scanner.keyword());
}

MatrixReadResult parseTsplib(std::string_view text) {
    try {
        return ProblemReader(text).read();
    } catch (const Malformed& malformed) {
        MatrixReadResult result;
        result.error = malformed.problem;
        return result;
    }
}

}  // namespace atsp
