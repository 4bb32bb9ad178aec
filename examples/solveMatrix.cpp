// Solves a small instance it makes itself (eight cities on a line, where
// going right costs the distance and going left twice it) and prints the
// tour and its cost; exits 1 if the library's answer is not proven optimal.
#include <atsp/atsp.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <vector>

int main() {
    const std::size_t n = 8;
    std::vector<std::int64_t> costs(n * n);
    for (std::size_t from = 0; from < n; ++from) {
        for (std::size_t to = 0; to < n; ++to) {
            const auto distance = static_cast<std::int64_t>(to > from ? to - from : from - to);
            costs[from * n + to] = to > from ? distance : 2 * distance;
        }
    }
    try {
        const atsp::Problem problem = atsp::Problem::fromMatrix(n, costs);
        atsp::SolveOptions options;
        options.timeLimitSeconds = 10;
        const atsp::Solution solution = atsp::solve(problem, options);
        std::cout << "tour:";
        for (const int city : solution.tour) {
            std::cout << ' ' << city;
        }
        std::cout << "\ncost: " << solution.cost << (solution.optimal ? " (optimal)" : "") << "\n";
        return solution.optimal ? EXIT_SUCCESS : EXIT_FAILURE;
    } catch (const atsp::Error& error) {
        std::cerr << error.what() << "\n";
        return EXIT_FAILURE;
    }
}
