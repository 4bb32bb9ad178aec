#include <omp.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "api/ProblemData.h"
#include "graph/Tour.h"
#include "parallel/ThreadTeam.h"
#include "search/SearchEngine.h"

namespace atsp {

namespace {

void checkThreads(int threads) {
    if (threads < 0) {
        throw Error(ErrorKind::BadInput,
                    "threads must be 0 (all) or more, not " + std::to_string(threads));
    }
}

void checkOptions(const SolveOptions& options) {
    checkThreads(options.threads);
    // Written so that NaN fails too.
    if (!(options.timeLimitSeconds >= 0)) {
        throw Error(ErrorKind::BadInput, "the time limit must be 0 (none) or more seconds, not " +
                                             std::to_string(options.timeLimitSeconds));
    }
    if (options.progress && !(options.progressIntervalSeconds > 0)) {
        throw Error(ErrorKind::BadInput, "the progress interval must be positive, not " +
                                             std::to_string(options.progressIntervalSeconds));
    }
}

// The starting tour in the search's successor form, checked: the search
// itself would quietly start without a tour the graph lacks an arc of.
std::vector<Node> startSuccessors(const Graph& graph, const std::vector<int>& startTour) {
    std::vector<Node> successors =
        successorsOfVisitingOrder(startTour, graph.cityCount(), "the starting tour");
    for (std::size_t city = 0; city < successors.size(); ++city) {
        if (graph.arcPosition(static_cast<Node>(city), successors[city]) == NoNode) {
            throw Error(ErrorKind::BadInput, "the starting tour uses the arc from city " +
                                                 std::to_string(city) + " to city " +
                                                 std::to_string(successors[city]) +
                                                 ", which the problem lacks");
        }
    }
    return successors;
}

}  // namespace

std::vector<Node> successorsOfVisitingOrder(const std::vector<int>& tour, std::size_t cityCount,
                                            const std::string& what) {
    if (cityCount > NoNode) {
        throw Error(ErrorKind::BadInput, what + " has " + std::to_string(cityCount) +
                                             " cities: a problem has at most " +
                                             std::to_string(NoNode));
    }
    if (tour.size() != cityCount) {
        throw Error(ErrorKind::BadInput, what + " names " + std::to_string(tour.size()) +
                                             " cities, not the problem's " +
                                             std::to_string(cityCount));
    }
    std::vector<Node> successors(cityCount, NoNode);
    std::vector<bool> seen(cityCount, false);
    for (std::size_t k = 0; k < tour.size(); ++k) {
        const int city = tour[k];
        if (city < 0 || static_cast<std::size_t>(city) >= cityCount) {
            throw Error(ErrorKind::BadInput, what + " names city " + std::to_string(city) +
                                                 ", not one of 0 to " +
                                                 std::to_string(cityCount - 1));
        }
        if (seen[static_cast<std::size_t>(city)]) {
            throw Error(ErrorKind::BadInput,
                        what + " names city " + std::to_string(city) + " twice");
        }
        seen[static_cast<std::size_t>(city)] = true;
        successors[static_cast<std::size_t>(city)] = static_cast<Node>(tour[(k + 1) % tour.size()]);
    }
    return successors;
}

std::vector<int> visitingOrderOfSuccessors(const std::vector<Node>& successors) {
    std::vector<int> order;
    order.reserve(successors.size());
    Node city = 0;
    for (std::size_t k = 0; k < successors.size(); ++k) {
        order.push_back(city);
        city = successors[city];
    }
    return order;
}

int threadsFor(int threads) {
    checkThreads(threads);
    return plannedTeamSize(threads);
}

Solution solve(const Problem& problem, const SolveOptions& options) {
    checkOptions(options);
    const Graph& graph = problem.data->graph;
    std::vector<Node> startTour;
    if (!options.startTour.empty()) {
        startTour = startSuccessors(graph, options.startTour);
    }

    SearchOptions searchOptions;
    searchOptions.threads = options.threads;
    searchOptions.bound = options.bound == Bound::Assignment      ? BoundChoice::Assignment
                          : options.bound == Bound::LinearProgram ? BoundChoice::LinearProgram
                                                                  : BoundChoice::Automatic;
    searchOptions.localSearch = options.localSearch;
    searchOptions.timeLimitSeconds = options.timeLimitSeconds;
    searchOptions.stopRequested = options.stop;
    if (options.progress) {
        searchOptions.progress = [&options](const SearchProgress& progress) {
            options.progress({progress.elapsedSeconds, progress.nodesCreated, progress.openNodes,
                              progress.bestCost, progress.lowerBound});
        };
        searchOptions.progressIntervalSeconds = options.progressIntervalSeconds;
    }

    SearchStatistics counts;
    const double searchStart = omp_get_wtime();
    TourResult found =
        searchTour(graph, searchOptions, options.startTour.empty() ? nullptr : &startTour, &counts);
    const double searchEnd = omp_get_wtime();

    Solution solution;
    solution.statistics = {counts.nodesCreated, counts.nodesExpanded, counts.mostOpenNodes,
                           counts.arcsGiven,    counts.arcsSearched,  searchEnd - searchStart};
    solution.foundTour = found.foundTour();
    solution.stopped = found.stopped;
    if (found.negativeStart) {
        // The search reports such a tour's cost as -1; its true sum is wanted.
        solution.negativeStart = true;
        solution.cost = tourCost(graph, found.tour).value();
        solution.lowerBound = std::numeric_limits<std::int64_t>::min();
    } else if (found.foundTour()) {
        solution.cost = found.cost;
        solution.lowerBound = found.lowerBound;
        solution.optimal = !found.stopped;
    } else {
        solution.lowerBound = found.lowerBound;
        solution.noTourExists = !found.stopped;
    }
    solution.tour = visitingOrderOfSuccessors(found.tour);
    return solution;
}

}  // namespace atsp
