// Times the tree search on seeded random instances and reports its node counts
// and peak memory.
//
//   searchBench [--mode serial|parallel|described|described-parallel|root|root-core|lp-root]
//               [--sizes 100,200,400] [--seeds 1,2,3,4,5] [--max-cost C]
//               [--threads N] [--file PATH] [--write PATH]
//
// Instances follow the generator's distribution: a full n x n matrix with
// costs drawn uniformly from 0..1000000 (0..C with --max-cost C) and -1 on the
// (ignored) diagonal,
// drawn by std::mt19937_64 seeded from (n, seed), so an (n, seed) pair always
// names the same instance. Each instance runs in a child process of its own,
// so that its peak resident memory (getrusage ru_maxrss) is its own. One line
// per instance (wall and processor seconds of the search alone, node counts,
// peak memory), then the medians per size.
//
// --file PATH runs the one instance in that cost-matrix file instead, read
// through the solver's own reader, so that node counts belong to the very
// instance a `solver` run was timed on; the run line then shows n and seed 0,
// and a line after it gives the time of reading and parsing the file and the
// search's time to the microsecond.
//
// --write PATH writes the random instance of the first size and seed to that
// file in the generator's layout and runs nothing, so that a `solver` run and
// a searchBench run of the same (n, seed) search the very same matrix.
//
// A search mode is a function below with the common signature SearchMode;
// add a mode by adding a function and a row of `searchModes`. Mode `root`
// is no search: it solves the root's assignment problem from scratch and
// reports its value as the cost, the least work of any search bounded by
// assignment problems.
#include <omp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "assignment/AssignmentProblem.h"
#include "assignment/solveOnSparseCore.h"
#include "graph/Graph.h"
#include "io/MatrixReader.h"
#include "search/LpRoot.h"
#include "search/SearchEngine.h"

namespace atsp {
namespace {

struct BenchOptions {
    std::string mode = "serial";
    std::vector<int> sizes = {100, 200};
    std::vector<std::uint64_t> seeds = {1, 2, 3, 4, 5};
    int threads = 0;                 // for modes that take a thread count; 0 = the runtime's choice
    std::int32_t maxCost = 1000000;  // random costs are drawn from 0..maxCost
    std::string file;                // empty: seeded random instances of --sizes and --seeds
    std::string writeFile;
};

using Instance = Graph;

// What one child process reports back through its pipe.
struct InstanceReport {
    std::int64_t cost = 0;
    double searchSeconds = 0;
    // Processor time (user + system, all threads) spent in the search: on a
    // machine shared with other work it varies far less than the wall time.
    double searchCpuSeconds = 0;
    SearchStatistics statistics;
    long peakResidentKiB = 0;
    // Reading and parsing the --file instance (not part of the search); 0 for
    // a random instance.
    double readSeconds = 0;
    int cities = 0;
};

using SearchMode = TourResult (*)(const Instance& instance, const BenchOptions& options,
                                  SearchStatistics* statistics);

// The fast search on one thread, or on --threads threads (0: the OpenMP
// runtime's team).
TourResult searchSerial(const Instance& instance, const BenchOptions&,
                        SearchStatistics* statistics) {
    return searchTour(instance, SearchOptions{}, nullptr, statistics);
}

TourResult searchParallel(const Instance& instance, const BenchOptions& options,
                          SearchStatistics* statistics) {
    SearchOptions search;
    search.threads = options.threads;
    return searchTour(instance, search, nullptr, statistics);
}

// The search as first built: no sparse root, patching, elimination or cutoff.
TourResult searchDescribed(const Instance& instance, const BenchOptions&,
                           SearchStatistics* statistics) {
    return searchTour(instance, SearchOptions::described(), nullptr, statistics);
}

TourResult searchDescribedParallel(const Instance& instance, const BenchOptions& options,
                                   SearchStatistics* statistics) {
    SearchOptions described = SearchOptions::described();
    described.threads = options.threads;
    return searchTour(instance, described, nullptr, statistics);
}

// The root's assignment problem solved from scratch on the graph itself, as
// the search as first built solves its root.
TourResult solveRootAssignment(const Instance& instance, const BenchOptions&,
                               SearchStatistics* statistics) {
    AssignmentProblem root(instance);
    root.solveHungarian(false);
    statistics->nodesCreated = 1;
    return TourResult{root.solution(), root.solutionValue()};
}

// The root's assignment problem solved on a sparse core and repaired by
// pricing, as the fast search solves its root.
TourResult solveRootOnCore(const Instance& instance, const BenchOptions&,
                           SearchStatistics* statistics) {
    AssignmentProblem root(instance);
    solveOnSparseCore(root, instance, PresolveSteps{}.rootCoreArcsPerRow);
    statistics->nodesCreated = 1;
    return TourResult{root.solution(), root.solutionValue()};
}

// The LP bound's root alone: the relaxation with its cuts on all arcs,
// with the search's cutting-plane settings (the loop may tail off before no
// cut is violated); the cost reported is its bound.
TourResult solveRootLp(const Instance& instance, const BenchOptions&, SearchStatistics* statistics) {
    CutPool pool(instance.cityCount());
    const LpRoot root = solveLpRoot(instance, {}, InfeasibleBound, pool, CuttingPlaneOptions{},
                                    LpRelaxation::Clock::time_point::max());
    statistics->nodesCreated = 1;
    return TourResult{{}, root.bound};
}

struct NamedMode {
    const char* name;
    SearchMode search;
};

const NamedMode searchModes[] = {
    {"serial", searchSerial},       {"parallel", searchParallel},
    {"described", searchDescribed}, {"described-parallel", searchDescribedParallel},
    {"root", solveRootAssignment},  {"root-core", solveRootOnCore},
    {"lp-root", solveRootLp},
};

SearchMode findMode(const std::string& name) {
    for (const NamedMode& mode : searchModes) {
        if (name == mode.name) {
            return mode.search;
        }
    }
    return nullptr;
}

Instance randomInstance(int n, std::uint64_t seed, std::int32_t maxCost) {
    std::mt19937_64 random((static_cast<std::uint64_t>(n) << 32) ^ seed);
    std::uniform_int_distribution<std::int32_t> cost(0, maxCost);
    Graph::Builder instance(static_cast<std::size_t>(n));
    instance.reserveArcs(static_cast<std::size_t>(n) * static_cast<std::size_t>(n - 1));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            // Drawn for the diagonal too, so that row i uses the same draws
            // as the generator's full matrix.
            const std::int32_t drawn = cost(random);
            if (i != j) {
                instance.addArc(static_cast<Node>(j), drawn);
            }
        }
        instance.endRow();
    }
    return std::move(instance).build();
}

// The generator's layout: n on the first line, then n rows of n values, each
// value followed by one blank and each row by a newline, -1 on the diagonal.
bool writeInstance(const Instance& instance, const std::string& fileName) {
    std::FILE* file = std::fopen(fileName.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    const std::size_t n = instance.cityCount();
    std::fprintf(file, "%zu\n", n);
    for (std::size_t i = 0; i < n; ++i) {
        // Row i's arcs are every j other than i, ascending.
        std::size_t arc = 0;
        for (std::size_t j = 0; j < n; ++j) {
            if (j == i) {
                std::fputs("-1 ", file);
            } else {
                std::fprintf(file, "%d ",
                             static_cast<int>(instance.costs(static_cast<Node>(i))[arc++]));
            }
        }
        std::fputc('\n', file);
    }
    return std::fclose(file) == 0;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The instance named by --file, or else the seeded random one of (n, seed).
// False when the file cannot be read or is not a valid matrix.
bool loadInstance(const BenchOptions& options, int n, std::uint64_t seed, Instance& instance,
                  double& readSeconds) {
    if (options.file.empty()) {
        instance = randomInstance(n, seed, options.maxCost);
        return true;
    }
    const auto start = std::chrono::steady_clock::now();
    MatrixReadResult graph;
    if (!readCostMatrixFile(options.file, graph)) {
        return false;
    }
    readSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    instance = std::move(graph.graph);
    return graph.error.empty();
}

// Built and searched in the calling process, which is the child of one
// instance, so that no other instance's memory counts towards its peak.
bool runInstance(SearchMode search, const BenchOptions& options, int n, std::uint64_t seed,
                 InstanceReport& report) {
    Instance instance;
    if (!loadInstance(options, n, seed, instance, report.readSeconds)) {
        return false;
    }
    report.cities = static_cast<int>(instance.cityCount());
    const double cpuBefore = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const TourResult result = search(instance, options, &report.statistics);
    const auto end = std::chrono::steady_clock::now();
    report.searchCpuSeconds = processCpuSeconds() - cpuBefore;
    report.cost = result.cost;
    report.searchSeconds = std::chrono::duration<double>(end - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    report.peakResidentKiB = usage.ru_maxrss;
    return true;
}

// Runs one instance in a child process; false if the child failed.
bool runInChild(SearchMode search, const BenchOptions& options, int n, std::uint64_t seed,
                InstanceReport& report) {
    int channel[2];
    if (pipe(channel) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        close(channel[0]);
        InstanceReport childReport;
        const bool ran = runInstance(search, options, n, seed, childReport);
        const bool written =
            ran && write(channel[1], &childReport, sizeof childReport) == sizeof childReport;
        _exit(written ? 0 : 1);
    }
    close(channel[1]);
    const bool read = ::read(channel[0], &report, sizeof report) == sizeof report;
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return read && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Arcs the tree was searched on, in percent of the arcs given (100 when
// nothing was eliminated or nothing was searched).
double keptPercent(const SearchStatistics& statistics) {
    return statistics.arcsGiven > 0 ? 100.0 * static_cast<double>(statistics.arcsSearched) /
                                          static_cast<double>(statistics.arcsGiven)
                                    : 100.0;
}

template <typename Value>
Value median(std::vector<Value> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void printMedians(int n, const std::vector<InstanceReport>& reports) {
    std::vector<double> seconds, cpuSeconds;
    std::vector<std::int64_t> created, expanded, mostOpen;
    std::vector<long> peak;
    std::vector<double> millisecondsPerNode;
    for (const InstanceReport& report : reports) {
        seconds.push_back(report.searchSeconds);
        cpuSeconds.push_back(report.searchCpuSeconds);
        created.push_back(report.statistics.nodesCreated);
        expanded.push_back(report.statistics.nodesExpanded);
        mostOpen.push_back(report.statistics.mostOpenNodes);
        peak.push_back(report.peakResidentKiB);
        millisecondsPerNode.push_back(1000.0 * report.searchCpuSeconds /
                                      std::max<std::int64_t>(1, report.statistics.nodesCreated));
    }
    std::printf("median %5d %7s %10s %9.3f %9.3f %9lld %9lld %9lld %9.3f   cpu ms/node %.3f\n", n,
                "-", "-", median(seconds), median(cpuSeconds),
                static_cast<long long>(median(created)), static_cast<long long>(median(expanded)),
                static_cast<long long>(median(mostOpen)), median(peak) / 1024.0,
                median(millisecondsPerNode));
}

template <typename Value>
std::vector<Value> parseList(const char* text) {
    std::vector<Value> values;
    std::string rest = text;
    std::size_t begin = 0;
    while (begin <= rest.size()) {
        const std::size_t comma = std::min(rest.find(',', begin), rest.size());
        values.push_back(static_cast<Value>(std::strtoll(rest.c_str() + begin, nullptr, 10)));
        begin = comma + 1;
    }
    return values;
}

bool parseOptions(int argc, char** argv, BenchOptions& options) {
    for (int k = 1; k < argc; ++k) {
        const std::string option = argv[k];
        if (k + 1 >= argc) {
            return false;
        }
        const char* value = argv[++k];
        if (option == "--mode") {
            options.mode = value;
        } else if (option == "--sizes") {
            options.sizes = parseList<int>(value);
        } else if (option == "--seeds") {
            options.seeds = parseList<std::uint64_t>(value);
        } else if (option == "--threads") {
            options.threads = std::atoi(value);
        } else if (option == "--max-cost") {
            options.maxCost = static_cast<std::int32_t>(std::atoi(value));
        } else if (option == "--file") {
            options.file = value;
        } else if (option == "--write") {
            options.writeFile = value;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace atsp

int main(int argc, char** argv) {
    using namespace atsp;
    BenchOptions options;
    const SearchMode search = parseOptions(argc, argv, options) ? findMode(options.mode) : nullptr;
    if (search == nullptr) {
        std::printf(
            "usage: searchBench [--mode serial|parallel|described|described-parallel|root|"
            "root-core|lp-root] [--sizes N,N,...] "
            "[--seeds S,S,...] [--max-cost C] [--threads N] [--file PATH] [--write PATH]\n");
        return 1;
    }
    if (!options.writeFile.empty()) {
        const bool written = writeInstance(
            randomInstance(options.sizes.front(), options.seeds.front(), options.maxCost),
            options.writeFile);
        std::printf(written ? "wrote %s\n" : "cannot write %s\n", options.writeFile.c_str());
        return written ? 0 : 1;
    }
    if (!options.file.empty()) {
        // One run of the file's instance; its size is known once it is read.
        options.sizes = {0};
        options.seeds = {0};
    }
    std::printf("# mode %s\n", options.mode.c_str());
    std::printf("%-6s %5s %7s %10s %9s %9s %9s %9s %9s %9s %7s\n", "#", "n", "seed", "cost",
                "seconds", "cpuSec", "created", "expanded", "mostOpen", "peakMiB", "kept%");
    for (const int n : options.sizes) {
        std::vector<InstanceReport> reports;
        for (const std::uint64_t seed : options.seeds) {
            InstanceReport report;
            if (!runInChild(search, options, n, seed, report)) {
                std::printf("failed %5d %7llu\n", n, static_cast<unsigned long long>(seed));
                continue;
            }
            std::printf("run    %5d %7llu %10lld %9.3f %9.3f %9lld %9lld %9lld %9.3f %7.2f\n",
                        report.cities, static_cast<unsigned long long>(seed),
                        static_cast<long long>(report.cost), report.searchSeconds,
                        report.searchCpuSeconds,
                        static_cast<long long>(report.statistics.nodesCreated),
                        static_cast<long long>(report.statistics.nodesExpanded),
                        static_cast<long long>(report.statistics.mostOpenNodes),
                        report.peakResidentKiB / 1024.0, keptPercent(report.statistics));
            if (!options.file.empty()) {
                std::printf("# read+parse %.6f sec, search %.6f sec\n", report.readSeconds,
                            report.searchSeconds);
            }
            std::fflush(stdout);
            reports.push_back(report);
        }
        if (!reports.empty() && options.file.empty()) {
            printMedians(n, reports);
        }
    }
    return 0;
}
