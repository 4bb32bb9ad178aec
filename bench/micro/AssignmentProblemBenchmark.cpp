// Time of the assignment solver on full random matrices: one solve from
// scratch (the root of a search), and one incremental re-solve after an
// assigned arc has been removed from a copy of the lists (every other node).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "AssignmentProblem/AssignmentProblem.h"

namespace {

constexpr std::int32_t HighestCost = 1000000;

struct FullGraph {
    SuccessorLists successors;
    ArcCosts costs;
};

// Every arc i -> j, j != i, in ascending j, with a cost in [0, HighestCost].
FullGraph randomFullGraph(int n, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<std::int32_t> cost(0, HighestCost);
    FullGraph graph{SuccessorLists(n), ArcCosts(n)};
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (j != i) {
                graph.successors[i].push_back(static_cast<Node>(j));
                graph.costs[i].push_back(cost(random));
            }
        }
    }
    return graph;
}

void eraseArc(FullGraph& graph, Node tail, Node head) {
    auto& heads = graph.successors[tail];
    const auto position = std::find(heads.begin(), heads.end(), head) - heads.begin();
    heads.erase(heads.begin() + position);
    graph.costs[tail].erase(graph.costs[tail].begin() + position);
}

void solveFromScratch(benchmark::State& state) {
    const FullGraph graph = randomFullGraph(static_cast<int>(state.range(0)), 1);
    for (auto _ : state) {
        AssignmentProblem problem(graph.successors, graph.costs);
        problem.solveHungarian(false);
        benchmark::DoNotOptimize(problem.solution().data());
    }
}

// Only the re-solve is timed; copying the lists and the problem (into storage
// reused across iterations) is the search's cost, not the solver's. The
// removed row changes every iteration.
void resolveAfterOneRemoval(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const FullGraph graph = randomFullGraph(n, 1);
    AssignmentProblem parent(graph.successors, graph.costs);
    parent.solveHungarian(false);
    FullGraph childGraph = graph;
    AssignmentProblem child = parent;
    Node nextFreedRow = 0;
    for (auto _ : state) {
        state.PauseTiming();
        childGraph = graph;
        child = parent;
        child.setGraph(childGraph.successors, childGraph.costs);
        const Node freedRow = nextFreedRow;
        nextFreedRow = static_cast<Node>((nextFreedRow + 1) % n);
        const Node freedColumn = parent.solution()[freedRow];
        eraseArc(childGraph, freedRow, freedColumn);
        state.ResumeTiming();
        child.removeArc(freedRow, freedColumn);
        child.solveHungarian(true);
        benchmark::DoNotOptimize(child.solution().data());
    }
}

}  // namespace

BENCHMARK(solveFromScratch)->Arg(500)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(resolveAfterOneRemoval)->Arg(500)->Arg(1000)->Arg(2000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
