// Throughput of reading a cost-matrix file, the part of a run that the
// solver's report does not time.
//
//   readerBench [CITIES [REPEATS]]
//
// Writes a CITIES-city file in the generator's layout (seeded costs 0..1000000,
// -1 on the diagonal; default 2000 cities, about 27 MB) to the temporary
// folder, then reads and parses it REPEATS times (default 5) and prints the
// best and median throughput in MB/s.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "solver/MatrixReader.h"

int main(int argc, char* argv[]) {
    const int cities = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("readerBench-" + std::to_string(cities) + ".txt");
    {
        std::mt19937_64 random(cities);
        std::uniform_int_distribution<int> cost(0, 1000000);
        std::ofstream out(file);
        out << cities << "\n";
        for (int i = 0; i < cities; ++i) {
            for (int j = 0; j < cities; ++j) {
                out << (i == j ? -1 : cost(random)) << " ";
            }
            out << "\n";
        }
    }
    const double megabytes = static_cast<double>(std::filesystem::file_size(file)) / 1e6;

    std::vector<double> rates;
    for (int repeat = 0; repeat < repeats; ++repeat) {
        const auto start = std::chrono::steady_clock::now();
        MatrixReadResult graph;
        if (!readCostMatrixFile(file.string(), graph)) {
            std::printf("cannot read %s\n", file.c_str());
            return 1;
        }
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        if (!graph.error.empty() || graph.successors.size() != static_cast<std::size_t>(cities)) {
            std::printf("unexpected parse result: %s\n", graph.error.c_str());
            return 1;
        }
        rates.push_back(megabytes / seconds.count());
    }
    std::filesystem::remove(file);
    std::sort(rates.begin(), rates.end());
    std::printf("cities %d, file %.1f MB, read+parse: best %.0f MB/s, median %.0f MB/s\n", cities,
                megabytes, rates.back(), rates[rates.size() / 2]);
    return 0;
}
