// The solver's command line: the word "parallel", options, and the file name.
//
//     solver [OPTION...] [parallel] [OPTION...] FILE_NAME
//
// The last argument is always the file name, whatever it says, so one lone
// argument ("parallel", "--tour") and the second of "parallel X" are file
// names as they always were. The one exception is a lone "--help", which
// asks for the usage; a file of that name is given as ./--help. Before the
// file name stand, in any order, at most one "parallel" and each option at
// most once:
//
//     --tour FILE            write the best tour to FILE (TourFile.h)
//     --time-limit SECONDS   a positive decimal number ("60", "0.5", ".5")
//     --start-tour FILE      start from the tour in FILE (TourFile.h)
//     --progress             report progress on standard error
//     --bound KIND           the bound: assignment, lp or auto (the default)
//     --no-local-search      offer the tours found as they are, unimproved
//     --help                 print the usage
//
// An option's value is the next argument, whatever it says, but never the
// file name: "--tour FILE_NAME" lacks a value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace atsp {

struct CommandLine {
    enum class Action {
        Solve,
        PrintHelp,   // usage on standard output, status 0
        PrintUsage,  // usage with `problem`, status 1
    };
    Action action = Action::Solve;
    std::string problem;  // why the command line is wrong

    bool parallel = false;
    std::string fileName;
    std::string tourFile;         // empty: no tour file
    std::string startTourFile;    // empty: the search's own starting tour
    double timeLimitSeconds = 0;  // 0: no limit
    bool progress = false;
    std::string bound = "auto";  // assignment, lp or auto
    bool localSearch = true;
};

// `arguments` are the command line without the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The usage, its first line "Usage: PROGRAM [parallel] FILE_NAME", then the
// options and the exit statuses, each line ended by a newline.
std::string usageText(std::string_view programName);

}  // namespace atsp
