// generateFamily: writes a random instance of one of the structured
// asymmetric families of Cirasella, Johnson, McGeoch and Zhang ("The
// asymmetric traveling salesman problem: algorithms, instance generators, and
// tests", ALENEX 2001) as a cost-matrix file for the solver, so that the
// benchmarks see more than uniform random matrices.
//
//   generateFamily FAMILY SIZE SEED FILE
//
// SIZE is 1 to 65535 cities, SEED 0 to 18446744073709551615. The file holds
// SIZE on its first line, then SIZE rows of SIZE integers separated by one
// blank: row i, column j is the cost of the arc i -> j, -1 on the diagonal.
// Every cost is an integer from 0 to below 10^7, so that a tour of 65535 arcs
// stays far inside 64 bits and each arc inside 32.
//
// The same FAMILY, SIZE and SEED always write the same file: the draws come
// from std::mt19937_64, whose output the C++ standard fixes, turned into
// bounded integers here (std::uniform_int_distribution differs between
// standard libraries). Points lie in the square [0, 10^6) x [0, 10^6) with
// integer coordinates; U{a..b} is a uniform integer from a to b.
//
// The families (i, j are cities; "cost" is c(i,j)):
//   random      c(i,j) = U{0..1000000}, drawn row by row.
//   closed      random, then c(i,j) = the length of a shortest path from i to
//               j in it, so c(i,k) <= c(i,j) + c(j,k). Floyd-Warshall takes
//               n^3 steps and an n x n table, so a few thousand cities at most.
//   tilted-sum  drilling on a tilted plate: points p_i; with dx = x_j - x_i,
//   tilted-max  dy = y_j - y_i, f(dy) = 2 dy for dy > 0 (uphill is twice as
//               slow) and -dy otherwise; tilted-sum c = |dx| + f(dy),
//               tilted-max c = max(|dx|, f(dy)).
//   crane       stacker crane: job i carries a load from a pickup point p_i
//               to a delivery point d_i = p_i + (U{-100000..100000},
//               U{-100000..100000}), a tenth of the side at most in each axis;
//               the crane moves both axes at once, so a move costs the
//               maximum norm |.|. c(i,j) = |d_i - p_j|, the empty move between
//               the jobs. The loaded moves |p_i - d_i| are left out: every tour
//               carries every load once, so they add one constant to all tours
//               and change no optimum, only dilute every gap. With them the
//               assignment bound lies 5.5 to 7.5 % below the best tour at
//               n = 100, without them 11 to 14.5 %, the range the literature
//               reports for this family.
//   disk        disk drive head: record i sits on track t_i = U{0..999} at
//               start angle a_i = U{0..999999} and has length
//               l_i = U{0..99999}; angles and lengths are in time units,
//               10^6 to a revolution (R). Reading i leaves the head on t_i at
//               angle e_i = (a_i + l_i) mod R. Moving the head takes
//               s = 2000 |t_i - t_j| (a full stroke, two revolutions), after
//               which it waits for a_j to come round:
//               c(i,j) = s + ((a_j - e_i - s) mod R), the least time >= s at
//               which the disk shows a_j. So c < 3 * 10^6.
//   grid        coin collection in a town of one-way streets: K streets
//               each way, K the smallest even number with K^2 >= 16 n, spaced
//               S = floor(10^6 / (K - 1)) apart. Horizontal street h (y = hS)
//               runs east for even h and west for odd h; vertical street v
//               (x = vS) runs south for even v and north for odd v:
//               neighbouring parallel streets run opposite ways, and the four
//               outer streets make one loop that every street starts and ends
//               on, so every point can reach every other. City i is at
//               U{0..(K-1)S} along a street drawn from the 2K; c(i,j) = the
//               length of a shortest directed path from i to j along the
//               streets (Dijkstra from each city), below 6 * 10^6. The grid is
//               that fine (some 30 block sides to a city) so that cities lie
//               blocks apart and the one-way streets cost detours; on a grid
//               of K ~ sqrt(n) the cities crowd the streets, the best tour
//               just runs along them and the assignment bound meets it.
//   shop        no-wait flow shop: job i takes p(i,m) = U{0..1000} on
//               machine m = 1..50, in that order and without waiting between
//               machines. c(i,j) = max over m of
//               (sum_{l<=m} p(i,l) - sum_{l<m} p(j,l)): the least delay from
//               the start of i to the start of j such that j reaches each
//               machine after i has left it.
//   super       shortest common superstring: s_i is 20 letters drawn from a
//               4-letter alphabet (a model of DNA fragments; a small alphabet
//               gives many overlaps). c(i,j) = 20 - ov(i,j), ov(i,j) the
//               longest suffix of s_i that is a prefix of s_j (20 for equal
//               strings): what appending s_j to a superstring ending in s_i
//               adds to its length.
//
// Exit status 1 with a message on standard error for a bad command line, a
// file that cannot be created or a write that fails; 0 otherwise.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <queue>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Cost = std::int64_t;  // computed wide: a grid path sums many street lengths

constexpr Cost costsBelow = 10'000'000;  // checked for every cost as it is written
constexpr int largestSize = 65535;

class Random {
  public:
    explicit Random(std::uint64_t seed) : engine(seed) {}

    // Uniform from `low` to `high`. Draws below 2^64 mod (range) are thrown
    // away, so that every residue is equally likely.
    std::int64_t between(std::int64_t low, std::int64_t high) {
        const std::uint64_t range = static_cast<std::uint64_t>(high - low) + 1;
        const std::uint64_t unevenTail = (0 - range) % range;
        std::uint64_t draw = engine();
        while (draw < unevenTail) {
            draw = engine();
        }
        return low + static_cast<std::int64_t>(draw % range);
    }

  private:
    std::mt19937_64 engine;
};

// Fills row i (n entries; the diagonal entry is ignored). Called for i = 0,
// 1, ... in order, so a family may draw as it goes.
using RowFunction = std::function<void(int i, std::vector<Cost>& row)>;

struct Point {
    Cost x = 0;
    Cost y = 0;
};

constexpr Cost side = 1'000'000;

Point randomPoint(Random& random) {
    Point point;
    point.x = random.between(0, side - 1);
    point.y = random.between(0, side - 1);
    return point;
}

Cost maximumNorm(Point from, Point to) {
    return std::max(std::abs(to.x - from.x), std::abs(to.y - from.y));
}

constexpr Cost randomLargest = 1'000'000;

RowFunction randomFamily(int n, Random& random) {
    return [n, &random](int i, std::vector<Cost>& row) {
        for (int j = 0; j < n; ++j) {
            row[j] = j == i ? 0 : random.between(0, randomLargest);
        }
    };
}

RowFunction closedFamily(int n, Random& random) {
    const std::size_t size = static_cast<std::size_t>(n);
    auto distance = std::make_shared<std::vector<Cost>>(size * size);
    std::vector<Cost>& d = *distance;
    std::vector<Cost> row(size);
    const RowFunction draw = randomFamily(n, random);
    for (int i = 0; i < n; ++i) {
        draw(i, row);
        std::copy(row.begin(), row.end(), d.begin() + static_cast<std::ptrdiff_t>(i * size));
    }
    for (std::size_t k = 0; k < size; ++k) {
        for (std::size_t i = 0; i < size; ++i) {
            const Cost viaK = d[i * size + k];
            const Cost* fromK = &d[k * size];
            Cost* fromI = &d[i * size];
            for (std::size_t j = 0; j < size; ++j) {
                fromI[j] = std::min(fromI[j], viaK + fromK[j]);
            }
        }
    }
    return [distance, size](int i, std::vector<Cost>& row) {
        const auto start = distance->begin() + static_cast<std::ptrdiff_t>(i * size);
        std::copy(start, start + static_cast<std::ptrdiff_t>(size), row.begin());
    };
}

// Uphill (dy > 0) costs twice as much as downhill.
Cost tilt(Cost dy) {
    return dy > 0 ? 2 * dy : -dy;
}

RowFunction tiltedFamily(int n, Random& random, bool sumNorm) {
    std::vector<Point> points(static_cast<std::size_t>(n));
    for (Point& point : points) {
        point = randomPoint(random);
    }
    return [points = std::move(points), sumNorm](int i, std::vector<Cost>& row) {
        for (std::size_t j = 0; j < points.size(); ++j) {
            const Cost across = std::abs(points[j].x - points[i].x);
            const Cost upDown = tilt(points[j].y - points[i].y);
            row[j] = sumNorm ? across + upDown : std::max(across, upDown);
        }
    };
}

RowFunction tiltedSumFamily(int n, Random& random) {
    return tiltedFamily(n, random, true);
}
RowFunction tiltedMaxFamily(int n, Random& random) {
    return tiltedFamily(n, random, false);
}

constexpr Cost craneReach = 100'000;  // largest offset of a delivery from its pickup, per axis

RowFunction craneFamily(int n, Random& random) {
    struct Job {
        Point pickup;
        Point delivery;
    };
    std::vector<Job> jobs(static_cast<std::size_t>(n));
    for (Job& job : jobs) {
        job.pickup = randomPoint(random);
        job.delivery.x = job.pickup.x + random.between(-craneReach, craneReach);
        job.delivery.y = job.pickup.y + random.between(-craneReach, craneReach);
    }
    return [jobs = std::move(jobs)](int i, std::vector<Cost>& row) {
        const Job& from = jobs[static_cast<std::size_t>(i)];
        for (std::size_t j = 0; j < jobs.size(); ++j) {
            row[j] = maximumNorm(from.delivery, jobs[j].pickup);
        }
    };
}

constexpr Cost revolution = 1'000'000;  // time units per turn of the disk
constexpr Cost tracks = 1000;
constexpr Cost seekPerTrack = 2000;  // so a full stroke takes two revolutions
constexpr Cost longestRecord = 99'999;

RowFunction diskFamily(int n, Random& random) {
    struct Record {
        Cost track = 0;
        Cost startAngle = 0;
        Cost endAngle = 0;
    };
    std::vector<Record> records(static_cast<std::size_t>(n));
    for (Record& record : records) {
        record.track = random.between(0, tracks - 1);
        record.startAngle = random.between(0, revolution - 1);
        record.endAngle = (record.startAngle + random.between(0, longestRecord)) % revolution;
    }
    return [records = std::move(records)](int i, std::vector<Cost>& row) {
        const Record& from = records[static_cast<std::size_t>(i)];
        for (std::size_t j = 0; j < records.size(); ++j) {
            const Cost seek = seekPerTrack * std::abs(records[j].track - from.track);
            const Cost wait =
                ((records[j].startAngle - from.endAngle - seek) % revolution + revolution) %
                revolution;
            row[j] = seek + wait;
        }
    };
}

// The street graph of the grid family: intersections and cities are nodes,
// each street a directed chain through the nodes on it in order.
class StreetGrid {
  public:
    StreetGrid(int n, Random& random) {
        streets = 2;
        while (static_cast<Cost>(streets) * streets < 16 * static_cast<Cost>(n)) {
            streets += 2;
        }
        spacing = side / (streets - 1);
        cityCount = n;
        const int intersections = streets * streets;
        arcs.resize(static_cast<std::size_t>(intersections + n));

        // stops[s]: (position along street s, node); streets 0..K-1 are the
        // horizontal ones by h, K..2K-1 the vertical ones by v.
        std::vector<std::vector<std::pair<Cost, int>>> stops(static_cast<std::size_t>(2 * streets));
        for (int h = 0; h < streets; ++h) {
            for (int v = 0; v < streets; ++v) {
                stops[static_cast<std::size_t>(h)].push_back({v * spacing, h * streets + v});
                stops[static_cast<std::size_t>(streets + v)].push_back(
                    {h * spacing, h * streets + v});
            }
        }
        for (int city = 0; city < n; ++city) {
            const std::int64_t street = random.between(0, 2 * streets - 1);
            const Cost position = random.between(0, (streets - 1) * spacing);
            stops[static_cast<std::size_t>(street)].push_back({position, intersections + city});
        }
        for (int street = 0; street < 2 * streets; ++street) {
            auto& onStreet = stops[static_cast<std::size_t>(street)];
            std::sort(onStreet.begin(), onStreet.end());
            // Horizontal: even h runs east (increasing x). Vertical: even v runs
            // south (decreasing y).
            const bool increasing =
                street < streets ? street % 2 == 0 : (street - streets) % 2 == 1;
            for (std::size_t k = 0; k + 1 < onStreet.size(); ++k) {
                const auto [lowPosition, lowNode] = onStreet[k];
                const auto [highPosition, highNode] = onStreet[k + 1];
                const Cost length = highPosition - lowPosition;
                // Two nodes at one point are one place: either way round is free.
                if (increasing || length == 0) {
                    arcs[static_cast<std::size_t>(lowNode)].push_back({highNode, length});
                }
                if (!increasing || length == 0) {
                    arcs[static_cast<std::size_t>(highNode)].push_back({lowNode, length});
                }
            }
        }
    }

    // Shortest path lengths from city i to every city.
    void distancesFrom(int i, std::vector<Cost>& row) const {
        const int firstCity = streets * streets;
        std::vector<Cost> distance(arcs.size(), std::numeric_limits<Cost>::max());
        using Entry = std::pair<Cost, int>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
        distance[static_cast<std::size_t>(firstCity + i)] = 0;
        queue.push({0, firstCity + i});
        while (!queue.empty()) {
            const auto [reached, node] = queue.top();
            queue.pop();
            if (reached > distance[static_cast<std::size_t>(node)]) {
                continue;
            }
            for (const Arc& arc : arcs[static_cast<std::size_t>(node)]) {
                const Cost through = reached + arc.length;
                if (through < distance[static_cast<std::size_t>(arc.head)]) {
                    distance[static_cast<std::size_t>(arc.head)] = through;
                    queue.push({through, arc.head});
                }
            }
        }
        for (int j = 0; j < cityCount; ++j) {
            row[static_cast<std::size_t>(j)] = distance[static_cast<std::size_t>(firstCity + j)];
        }
    }

  private:
    struct Arc {
        int head;
        Cost length;
    };
    int streets = 0;  // K per direction, even
    Cost spacing = 0;
    int cityCount = 0;
    std::vector<std::vector<Arc>> arcs;
};

RowFunction gridFamily(int n, Random& random) {
    auto grid = std::make_shared<const StreetGrid>(n, random);
    return [grid](int i, std::vector<Cost>& row) { grid->distancesFrom(i, row); };
}

constexpr int machines = 50;
constexpr Cost longestTask = 1000;

RowFunction shopFamily(int n, Random& random) {
    // finished[i][m]: sum of p(i,l) for l <= m, machines numbered from 1;
    // finished[i][0] = 0, so finished[j][m-1] is the sum for l < m.
    std::vector<std::vector<Cost>> finished(static_cast<std::size_t>(n),
                                            std::vector<Cost>(machines + 1, 0));
    for (auto& job : finished) {
        for (int m = 1; m <= machines; ++m) {
            job[m] = job[m - 1] + random.between(0, longestTask);
        }
    }
    return [finished = std::move(finished)](int i, std::vector<Cost>& row) {
        const auto& first = finished[static_cast<std::size_t>(i)];
        for (std::size_t j = 0; j < finished.size(); ++j) {
            Cost delay = 0;
            for (int m = 1; m <= machines; ++m) {
                delay = std::max(delay, first[m] - finished[j][m - 1]);
            }
            row[j] = delay;
        }
    };
}

constexpr int stringLength = 20;
constexpr int alphabetSize = 4;

RowFunction superFamily(int n, Random& random) {
    std::vector<std::string> strings(static_cast<std::size_t>(n));
    for (std::string& text : strings) {
        for (int k = 0; k < stringLength; ++k) {
            text.push_back(static_cast<char>('a' + random.between(0, alphabetSize - 1)));
        }
    }
    return [strings = std::move(strings)](int i, std::vector<Cost>& row) {
        const std::string_view first = strings[static_cast<std::size_t>(i)];
        for (std::size_t j = 0; j < strings.size(); ++j) {
            const std::string_view second = strings[j];
            std::size_t overlap = std::min(first.size(), second.size());
            while (overlap > 0 &&
                   first.substr(first.size() - overlap) != second.substr(0, overlap)) {
                --overlap;
            }
            row[j] = static_cast<Cost>(second.size() - overlap);
        }
    };
}

struct Family {
    std::string_view name;
    RowFunction (*make)(int n, Random& random);
};

constexpr Family families[] = {
    {"random", randomFamily},
    {"closed", closedFamily},
    {"tilted-sum", tiltedSumFamily},
    {"tilted-max", tiltedMaxFamily},
    {"crane", craneFamily},
    {"disk", diskFamily},
    {"grid", gridFamily},
    {"shop", shopFamily},
    {"super", superFamily},
};

int printUsage(const char* programName) {
    std::cerr << "Usage: " << (programName != nullptr ? programName : "generateFamily")
              << " FAMILY SIZE SEED FILE\n"
              << "Writes a random cost matrix of SIZE (1 to " << largestSize
              << ") cities of FAMILY to FILE;\n"
              << "the same SEED (0 to " << std::numeric_limits<std::uint64_t>::max()
              << ") always writes the same matrix.\n"
              << "FAMILY is one of:";
    for (const Family& family : families) {
        std::cerr << " " << family.name;
    }
    std::cerr << "\n";
    return 1;
}

// `text` as a number when it is digits only and fits: from_chars takes no
// sign, blank or base prefix for an unsigned type, and stops at anything else.
std::optional<std::uint64_t> parseNumber(std::string_view text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        return printUsage(argc > 0 ? argv[0] : nullptr);
    }
    const Family* family = nullptr;
    for (const Family& candidate : families) {
        if (candidate.name == argv[1]) {
            family = &candidate;
        }
    }
    const std::optional<std::uint64_t> size = parseNumber(argv[2]);
    const std::optional<std::uint64_t> seed = parseNumber(argv[3]);
    if (family == nullptr || !size || *size < 1 || *size > largestSize || !seed) {
        return printUsage(argv[0]);
    }
    const int n = static_cast<int>(*size);
    const char* fileName = argv[4];
    std::ofstream file(fileName, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!file.is_open()) {
        std::cerr << "Couldn't create file " << fileName << "\n";
        return 1;
    }

    Random random(*seed);
    const RowFunction fillRow = family->make(n, random);
    std::vector<Cost> row(static_cast<std::size_t>(n));
    std::string line;
    char number[24];
    file << n << "\n";
    for (int i = 0; i < n; ++i) {
        fillRow(i, row);
        line.clear();
        for (int j = 0; j < n; ++j) {
            if (j > 0) {
                line += ' ';
            }
            const Cost cost = j == i ? -1 : row[static_cast<std::size_t>(j)];
            if (j != i && (cost < 0 || cost >= costsBelow)) {
                std::cerr << "Internal error: cost " << cost << " out of range in " << family->name
                          << "\n";
                return 1;
            }
            line.append(number, std::to_chars(number, number + sizeof number, cost).ptr);
        }
        line += '\n';
        file.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
    file.close();
    if (!file) {
        std::cerr << "Couldn't write file " << fileName << "\n";
        return 1;
    }
    return 0;
}
