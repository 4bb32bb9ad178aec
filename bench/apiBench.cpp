// Times the public interface on a raw matrix file, the counterpart of
// bench/pythonOverhead.py: making the problem from the matrix, and solving.
//
//   apiBench N FILE [int32|int64] [REPEATS]
//
// FILE holds N * N native-endian integers of the given width (int32 by
// default), row-major, as numpy's tofile writes them. Makes the problem and
// solves it REPEATS times (3 by default) in this one process, as the Python
// benchmark calls the module repeatedly in one interpreter (so that both
// find the memory allocator in the same state), and prints the fastest:
//   build SECONDS solve SECONDS search SECONDS cost COST
// where build is Problem::fromMatrix, solve is the whole solve() call and
// search the part of it the solution reports as the search's.
#include <atsp/atsp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Cost>
int run(std::size_t n, const std::string& fileName, int repeats) {
    std::vector<Cost> cells(n * n);
    std::ifstream file(fileName, std::ios::binary);
    file.read(reinterpret_cast<char*>(cells.data()),
              static_cast<std::streamsize>(cells.size() * sizeof(Cost)));
    if (!file) {
        std::fprintf(stderr, "cannot read %zu cells from %s\n", cells.size(), fileName.c_str());
        return 1;
    }
    double bestBuild = 0;
    double bestSolve = 0;
    double bestSearch = 0;
    std::int64_t cost = 0;
    for (int repeat = 0; repeat < repeats; ++repeat) {
        const Clock::time_point buildStart = Clock::now();
        const atsp::Problem problem = atsp::Problem::fromMatrix(n, std::span<const Cost>(cells));
        const double build = secondsSince(buildStart);
        const Clock::time_point solveStart = Clock::now();
        const atsp::Solution solution = atsp::solve(problem);
        const double solve = secondsSince(solveStart);
        if (repeat == 0 || build + solve < bestBuild + bestSolve) {
            bestBuild = build;
            bestSolve = solve;
            bestSearch = solution.statistics.searchSeconds;
        }
        cost = solution.cost;
    }
    std::printf("build %.6f solve %.6f search %.6f cost %lld\n", bestBuild, bestSolve, bestSearch,
                static_cast<long long>(cost));
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s N FILE [int32|int64] [REPEATS]\n", argv[0]);
        return 1;
    }
    const auto n = static_cast<std::size_t>(std::strtoull(argv[1], nullptr, 10));
    const std::string width = argc > 3 ? argv[3] : "int32";
    const int repeats = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    return width == "int64" ? run<std::int64_t>(n, argv[2], repeats)
                            : run<std::int32_t>(n, argv[2], repeats);
}
