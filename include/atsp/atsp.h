// atsp: an exact solver for the asymmetric travelling salesman problem.
//
// Given n cities and the cost of each arc, the trip from one city to another
// (which may differ from the trip back, and may be missing), it finds a
// cheapest tour: a closed trip through every city once. The search is a
// best-first branch and bound on assignment-problem bounds; it proves its
// tour optimal or, stopped by a time limit or a flag, returns the best tour
// it found with a lower bound that no tour beats.
//
//     #include <atsp/atsp.h>
//
//     const std::vector<std::int32_t> costs = {0, 10, 1,    // row i: the arcs from city i
//                                              1, 0, 10,
//                                              10, 1, 0};
//     const atsp::Problem problem = atsp::Problem::fromMatrix(3, costs);
//     atsp::SolveOptions options;
//     options.timeLimitSeconds = 60;
//     const atsp::Solution solution = atsp::solve(problem, options);
//     // solution.tour == {0, 2, 1}, solution.cost == 3, solution.optimal
//
// In CMake: find_package(atsp) and target_link_libraries(yours atsp::atsp);
// C++20. Every failure is an atsp::Error, but for std::bad_alloc and what a
// progress callback of yours throws; nothing here exits or writes to the
// standard streams.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace atsp {

// What went wrong; the message says where and why.
enum class ErrorKind {
    BadInput,         // a matrix, an option or a tour that the solver cannot take
    FileNotReadable,  // a file that cannot be opened or read
    MalformedFile,    // a problem or tour file whose text is not one
    FileNotWritable,  // a tour file that cannot be written
};

// The one exception type of this interface. The messages of the file
// functions are those the `solver` program prints, for example "Couldn't
// open file x.atsp" or "Malformed file x.tsp: line 2: ...".
class Error : public std::runtime_error {
  public:
    Error(ErrorKind kind, const std::string& message)
        : std::runtime_error(message), errorKind(kind) {}
    ErrorKind kind() const noexcept { return errorKind; }

  private:
    ErrorKind errorKind;
};

// The cost of "no tour": the `cost` (and `lowerBound`) of a solution without
// one, and the best cost a progress report gives while none is known.
inline constexpr std::int64_t NoTourCost = std::numeric_limits<std::int64_t>::max();

// The arcs a cost matrix leaves out, beside its diagonal. An arc is out when
// either says so. A problem without the arcs a tour needs has no tour: the
// solution says so (Solution::noTourExists).
struct ArcFilter {
    // n * n bytes laid out as the matrix; a nonzero byte forbids the arc from
    // its row's city to its column's city. Empty: no arc is forbidden.
    std::span<const std::uint8_t> forbidden;
    // A cell holding this value is no arc. It is compared before the range
    // check, so a 64-bit matrix may use a value beyond 32 bits (INT64_MAX).
    std::optional<std::int64_t> noArcCost;
};

struct SolveOptions;
struct Solution;

// A problem: the cities 0 to n-1 (n at most 65535) and the costs of the arcs
// between them, signed 32-bit integers. Made once and read-only after; a
// copy shares the same graph, so problems pass by value cheaply, and one
// problem may be solved by several threads at once.
class Problem {
  public:
    // Zero cities: the empty tour, of cost 0.
    Problem();

    // From a dense n x n matrix in row-major order: the cell in row i, column
    // j is the cost of the arc from city i to city j. The diagonal is ignored
    // whatever it holds. Throws BadInput for more than 65535 cities, a matrix
    // or mask of another size than n * n, or a cost outside the signed 32-bit
    // range (never truncated). The matrix is read, not kept.
    static Problem fromMatrix(std::size_t cityCount, std::span<const std::int32_t> costs,
                              const ArcFilter& filter = {});
    static Problem fromMatrix(std::size_t cityCount, std::span<const std::int64_t> costs,
                              const ArcFilter& filter = {});

    // From a cost-matrix or TSPLIB file, as the `solver` program reads it
    // (told apart by the first word; see the README). Throws FileNotReadable
    // ("Couldn't open file NAME") or MalformedFile ("Malformed file NAME:
    // what is wrong and where").
    static Problem fromFile(const std::string& fileName);

    std::size_t cityCount() const;
    // Arcs present: n(n-1) for a file, fewer when a filter left some out.
    std::size_t arcCount() const;

    // The cost of the arc from `from` to `to`; none when there is no such arc
    // (the diagonal, a forbidden arc). Throws BadInput for a city beyond n-1.
    std::optional<std::int32_t> arcCost(std::size_t from, std::size_t to) const;

    // Writes the problem as an n x n row-major matrix into `matrix` (n * n
    // cells), with `noArc` on the diagonal and for every missing arc. Throws
    // BadInput when `matrix` has another size.
    void copyCostMatrix(std::span<std::int32_t> matrix, std::int32_t noArc = 0) const;

  private:
    struct Data;  // the graph, opaque here
    explicit Problem(std::shared_ptr<const Data> data);
    friend Solution solve(const Problem& problem, const SolveOptions& options);

    std::shared_ptr<const Data> data;  // never null
};

// The state of a running search, as a progress report gives it.
struct SolveProgress {
    double elapsedSeconds = 0;      // wall clock since the search began
    std::int64_t nodesCreated = 0;  // search-tree nodes made so far, the root included
    std::int64_t openNodes = 0;     // nodes waiting to be expanded
    std::int64_t bestCost = 0;      // the best tour's cost; NoTourCost while none is known
    std::int64_t lowerBound = 0;    // no tour costs less; at most bestCost
};

// How to solve. Every field has a default that gives an exact solve on one
// thread; fields that come later will have defaults that keep it, so code
// that sets fields by name keeps its meaning.
// The lower bound that prunes the search tree.
enum class Bound {
    // The assignment bound while the tree stays small, then the LP bound.
    Automatic,
    // The assignment problem: cheap, enough for random instances.
    Assignment,
    // The linear relaxation with subtour-elimination cuts: closes most of
    // the assignment bound's gap on structured instances.
    LinearProgram,
};

struct SolveOptions {
    // Threads of the OpenMP team to search on; 0: as many as the runtime
    // grants (OMP_NUM_THREADS, OMP_THREAD_LIMIT). Negative: BadInput.
    int threads = 1;

    Bound bound = Bound::Automatic;

    // Improve the tours the search finds by a local search (moves of
    // segments, kicks) before they prune the tree: a good tour early, and a
    // stopped search's tour far nearer the optimum. Off: for comparison.
    bool localSearch = true;

    // Seconds of search after which it stops with the best tour found and a
    // lower bound; 0: no limit. Negative or not a number: BadInput.
    double timeLimitSeconds = 0;

    // A tour to start from: the n cities in visiting order, each once (where
    // the list starts does not matter). The search keeps it unless it finds
    // a cheaper one, so a stopped search returns at worst this tour. Empty:
    // the tour 0, 1, ..., n-1, when the problem has its arcs. BadInput when
    // it is not a permutation of 0..n-1 or uses an arc the problem lacks.
    std::vector<int> startTour;

    // Called about every `progressIntervalSeconds` of the search, and once
    // when it ends; on a search thread (not always the caller's), one call at
    // a time. An exception it throws stops the search and leaves solve().
    std::function<void(const SolveProgress&)> progress;
    double progressIntervalSeconds = 1;  // positive

    // Another thread may set it to stop the search, which then returns as at
    // its time limit. Not owned; it must outlive solve(). Null: none.
    const std::atomic<bool>* stop = nullptr;
};

// Counts of one solve.
struct SolveStatistics {
    std::int64_t nodesCreated = 0;   // search-tree nodes made, the root included
    std::int64_t nodesExpanded = 0;  // times a node was taken up and branched on
    std::int64_t mostOpenNodes = 0;  // most nodes waiting at one moment: peak memory
    std::int64_t arcsGiven = 0;      // arcs of the problem
    std::int64_t arcsSearched = 0;   // arcs left once those no cheaper tour can use are dropped
    double searchSeconds = 0;        // wall clock of the search alone
};

struct Solution {
    // The best tour found: the n cities in visiting order from city 0 (the
    // arc from the last back to 0 closes it). Empty when none was found, and
    // for zero cities.
    std::vector<int> tour;
    bool foundTour = false;
    // The sum of the tour's arc costs (exact: 64 bits never overflow here);
    // NoTourCost without a tour.
    std::int64_t cost = NoTourCost;
    // No tour costs less than this; equal to `cost` when `optimal`.
    std::int64_t lowerBound = NoTourCost;
    // The tour is proven cheapest: the search ran to its end.
    bool optimal = false;
    // The search ran to its end and found that the problem has no tour (only
    // possible when arcs are missing).
    bool noTourExists = false;
    // The time limit or the stop flag ended the search before it had proven
    // anything more than `lowerBound`.
    bool stopped = false;
    // The starting tour (the one given, or 0, 1, ..., n-1) costs less than
    // zero, which the search takes for an overflow of its sums, as the
    // `solver` program always has: no search was made; `tour` is that tour,
    // `cost` its true sum, and `lowerBound` the least int64 (nothing proven).
    bool negativeStart = false;
    SolveStatistics statistics;
};

// A cheapest tour of the problem (see SolveOptions for the options and what
// throws). Safe to call from several threads at once.
Solution solve(const Problem& problem, const SolveOptions& options = {});

// The number of threads a solve with SolveOptions::threads = `threads` runs
// on: what the OpenMP runtime grants for 0 (and never more than it grants).
int threadsFor(int threads);

// Reads a tour in TSPLIB's TOUR format (cities numbered from 1, as the
// `solver` program writes them) for a problem of `cityCount` cities. Returns
// it in visiting order, cities from 0. Throws FileNotReadable ("Couldn't
// open tour file NAME") or MalformedFile ("Malformed tour file NAME: ...").
std::vector<int> readTourFile(const std::string& fileName, std::size_t cityCount);

// Writes a tour (visiting order, cities from 0, a permutation: BadInput
// otherwise) in TSPLIB's TOUR format, starting from city 0 and naming the
// file after its last path component, with `comment` in its COMMENT line.
// Throws FileNotWritable ("Couldn't write tour file NAME").
void writeTourFile(const std::string& fileName, const std::vector<int>& tour,
                   const std::string& comment);

}  // namespace atsp
