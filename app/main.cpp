// solver: reads a cost-matrix or TSPLIB file, finds a cheapest tour by branch
// and bound (on one thread, or on an OpenMP thread team with "parallel"), and
// prints its cost and the wall-clock time of the search. The options
// (CommandLine.h) write the tour, start from a given one, limit the time and
// report progress; without them the output is the same as it always was.
// It reads, solves and writes tours through the library's public interface
// (<atsp/atsp.h>) alone; the memory ceiling and the handling of running out of
// memory are the program's own.
//
// Exit status: 0 after a report (a cost, or "Overflow!" for a negative one)
// and after --help; 2 after the report of a search stopped at its time limit,
// which is no proven optimum; 1 after the usage message, an unreadable file, a
// malformed one, a tour file that cannot be written, or running out of memory,
// so that a failure never reads as success to a script.

#include <malloc.h>
#include <omp.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/MemoryCeiling.h"
#include "atsp/atsp.h"

namespace atsp {
namespace {

// How far the best tour may lie above the optimum: (best - bound) / best, in
// percent with two decimals; "-" where that means nothing (best <= 0).
std::string gapText(std::int64_t best, std::int64_t bound) {
    if (best <= 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%%",
                  100.0 * static_cast<double>(best - bound) / static_cast<double>(best));
    return text;
}

// One line on standard error per report of the search. The whole line is
// composed first and written at once.
void printProgress(const SolveProgress& progress) {
    std::ostringstream line;
    line << "progress: " << std::fixed << std::setprecision(1) << progress.elapsedSeconds << " s, "
         << progress.nodesCreated << " nodes, " << progress.openNodes << " open, best "
         << progress.bestCost << ", bound " << progress.lowerBound << ", gap "
         << gapText(progress.bestCost, progress.lowerBound) << "\n";
    std::cerr << line.str();
}

// Whether `fileName` can be opened for writing. Tried before the search, so
// that a wrong path fails at once rather than after hours; a file the check
// creates is removed again, so that a run that fails later leaves none.
bool canWriteFile(const std::string& fileName) {
    std::error_code error;
    const bool existed = std::filesystem::exists(std::filesystem::symlink_status(fileName, error));
    bool writable = false;
    {
        const std::ofstream probe(fileName, std::ios::out | std::ios::app);
        writable = probe.is_open();
    }
    if (writable && !existed) {
        std::filesystem::remove(fileName, error);
    }
    return writable;
}

// The TOUR file's comment: the cost of the tour and whether it is optimal.
std::string tourComment(const Solution& result) {
    if (result.negativeStart) {
        return "Cost " + std::to_string(result.cost) +
               ", not proven optimal (the search stopped on the starting tour's negative cost)";
    }
    if (result.stopped) {
        return "Cost " + std::to_string(result.cost) + ", not proven optimal (lower bound " +
               std::to_string(result.lowerBound) + ")";
    }
    return "Cost " + std::to_string(result.cost) + ", proven optimal";
}

// Prints the report of the search and returns the exit status. A report that
// is not a proven optimum never starts with a bare number. A tour that costs
// less than zero, the starting tour's (the search then stops at once) or the
// optimum, reads "Overflow!".
int printReport(const Solution& result) {
    if (result.cost < 0) {
        std::cout << "Overflow!\n";
        return 0;
    }
    if (result.stopped) {
        std::cout << "Stopped at the time limit: not proven optimal\nBest tour: " << result.cost
                  << "\nLower bound: " << result.lowerBound
                  << "\nGap: " << gapText(result.cost, result.lowerBound) << "\n";
    } else {
        std::cout << result.cost << "\n";
    }
    std::cout << "Time: " << std::fixed << result.statistics.searchSeconds << " sec\n";
    return result.stopped ? 2 : 0;
}

// Composed before it is needed: when memory runs out nothing more can be
// allocated.
std::string outOfMemoryMessage;

// Installed as the new-handler: an allocation that fails anywhere, on any
// thread of the search, ends the run with a message on standard output and
// status 1 instead of the runtime's abort message on standard error. The
// first thread to get here writes the message and ends the process; any
// other waits on the lock until the process is gone.
[[noreturn]] void reportOutOfMemory() {
    static std::mutex oneReport;
    oneReport.lock();
    std::cout.flush();
    [[maybe_unused]] const ssize_t written =
        ::write(STDOUT_FILENO, outOfMemoryMessage.data(), outOfMemoryMessage.size());
    std::_Exit(1);
}

}  // namespace

int runSolver(int argc, char* argv[]) {
    const char* programName = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    const CommandLine commandLine = parseCommandLine(
        argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>());
    if (commandLine.action == CommandLine::Action::PrintHelp) {
        std::cout << usageText(programName);
        return 0;
    }
    if (commandLine.action == CommandLine::Action::PrintUsage) {
        std::cout << usageText(programName) << "Error: " << commandLine.problem << "\n";
        return 1;
    }
    const std::string& fileName = commandLine.fileName;
    const bool parallel = commandLine.parallel;

    outOfMemoryMessage = "Out of memory: " + fileName + " needs more memory than is available\n";
    std::set_new_handler(reportOutOfMemory);
    // Without it an instance too large for the machine is killed by the
    // kernel, silently, instead of failing an allocation here.
    capAddressSpaceAtAvailableMemory();
    // CLP allocates and frees its work areas at every simplex call; by default
    // glibc gives the top of the heap back to the kernel at each free and
    // faults it in again at the next call, a tenth to a fifth of an LP-bound
    // search's time (p43: 10 s of 70 s in the kernel). Kept up to these sizes,
    // the pages stay mapped; untouched padding costs no resident memory.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
    if (parallel) {
        // Start the search's threads while memory is still plentiful. The
        // OpenMP runtime keeps them for the search's own region; a thread it
        // failed to create later, with the memory used up by search nodes,
        // would end the run with the runtime's message on standard error.
        // (The region has to do something, or the compiler drops it.)
        int startedThreads = 0;
#pragma omp parallel num_threads(threadsFor(0))
        {
#pragma omp master
            startedThreads = omp_get_num_threads();
        }
        static_cast<void>(startedThreads);
    }

    SolveOptions options;
    Problem problem;
    try {
        problem = Problem::fromFile(fileName);
        if (!commandLine.startTourFile.empty()) {
            options.startTour = readTourFile(commandLine.startTourFile, problem.cityCount());
        }
    } catch (const Error& error) {
        std::cout << error.what() << "\n";
        return 1;
    }
    const std::string& tourFile = commandLine.tourFile;
    if (!tourFile.empty() && !canWriteFile(tourFile)) {
        std::cout << "Couldn't write tour file " << tourFile << "\n";
        return 1;
    }

    options.threads = parallel ? 0 : 1;
    options.timeLimitSeconds = commandLine.timeLimitSeconds;
    options.bound = commandLine.bound == "assignment" ? Bound::Assignment
                    : commandLine.bound == "lp"       ? Bound::LinearProgram
                                                      : Bound::Automatic;
    options.localSearch = commandLine.localSearch;
    if (commandLine.progress) {
        options.progress = printProgress;
    }
    const Solution result = solve(problem, options);

    // The report comes first, so that a tour file that cannot be written
    // loses nothing the search found.
    const int status = printReport(result);
    if (!tourFile.empty()) {
        try {
            writeTourFile(tourFile, result.tour, tourComment(result));
        } catch (const Error& error) {
            std::cout << error.what() << "\n";
            return 1;
        }
    }
    return status;
}

}  // namespace atsp

int main(int argc, char* argv[]) {
    return atsp::runSolver(argc, argv);
}
