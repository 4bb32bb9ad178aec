// solver: reads a cost-matrix file, finds a cheapest tour by branch and bound
// (on one thread, or on an OpenMP thread team with "parallel"), and prints
// its cost and the wall-clock time of the search.
//
// Exit status: 0 after a report (a cost, or "Overflow!" for a negative one);
// 1 after the usage message, an unreadable file, a malformed one, or running
// out of memory, so that a failure never reads as success to a script.

#include <omp.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <new>
#include <string>

#include "AssignmentProblem/Types.h"
#include "solver/MatrixReader.h"
#include "solver/MemoryCeiling.h"
#include "solver/balasChristofides.h"
#include "solver/balasChristofidesParallel.h"
#include "solver/parallelTree.h"

namespace {

int printUsage(const char* programName) {
    std::cout << "Usage: " << (programName != nullptr ? programName : "")
              << " [parallel] FILE_NAME\n";
    return 1;
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

int main(int argc, char* argv[]) {
    bool parallel = false;
    std::string fileName;
    if (argc == 2) {
        fileName = argv[1];  // a lone "parallel" is a file name
    } else if (argc == 3 && std::strcmp(argv[1], "parallel") == 0) {
        parallel = true;
        fileName = argv[2];
    } else {
        return printUsage(argc > 0 ? argv[0] : nullptr);
    }

    outOfMemoryMessage = "Out of memory: " + fileName + " needs more memory than is available\n";
    std::set_new_handler(reportOutOfMemory);
    // Without it an instance too large for the machine is killed by the
    // kernel, silently, instead of failing an allocation here.
    capAddressSpaceAtAvailableMemory();
    if (parallel) {
        // Start the search's threads while memory is still plentiful. The
        // OpenMP runtime keeps them for the search's own region; a thread it
        // failed to create later, with the memory used up by search nodes,
        // would end the run with the runtime's message on standard error.
        // (The region has to do something, or the compiler drops it.)
        int startedThreads = 0;
#pragma omp parallel num_threads(plannedTeamSize())
        {
#pragma omp master
            startedThreads = omp_get_num_threads();
        }
        static_cast<void>(startedThreads);
    }

    MatrixReadResult graph;
    {
        std::string text;
        if (!readFileText(fileName, text)) {
            std::cout << "Couldn't open file " << fileName << "\n";
            return 1;
        }
        graph = parseCostMatrix(text);
    }
    if (!graph.error.empty()) {
        std::cout << "Malformed file " << fileName << ": " << graph.error << "\n";
        return 1;
    }

    // Only the search is timed, including the release of its result.
    const double searchStart = omp_get_wtime();
    std::int64_t cost = 0;
    {
        const TourResult result =
            parallel ? balasChristofidesParallel(graph.successors, graph.costs, nullptr)
                     : balasChristofides(graph.successors, graph.costs, nullptr);
        cost = result.cost;
    }
    const double searchEnd = omp_get_wtime();

    if (cost < 0) {
        std::cout << "Overflow!\n";
        return 0;
    }
    std::cout << cost << "\nTime: " << std::fixed << (searchEnd - searchStart) << " sec\n";
    return 0;
}
