#include "app/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

namespace atsp {

namespace {

CommandLine wrong(std::string problem) {
    CommandLine commandLine;
    commandLine.action = CommandLine::Action::PrintUsage;
    commandLine.problem = std::move(problem);
    return commandLine;
}

// Digits with at most one decimal point among them, and not zero: an
// exponent, a sign, "inf" or "nan" are not taken.
std::optional<double> positiveSeconds(const std::string& text) {
    const bool decimal = std::count(text.begin(), text.end(), '.') <= 1 &&
                         std::any_of(text.begin(), text.end(), [](char c) { return c != '.'; }) &&
                         std::all_of(text.begin(), text.end(),
                                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
    double seconds = 0;
    if (!decimal ||
        std::from_chars(text.data(), text.data() + text.size(), seconds).ec != std::errc() ||
        !std::isfinite(seconds) || !(seconds > 0)) {
        return std::nullopt;
    }
    return seconds;
}

std::string quoted(std::string_view text) {
    std::string quotedText(1, '"');
    quotedText.append(text);
    quotedText.push_back('"');
    return quotedText;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return wrong("the file name is missing");
    }
    CommandLine commandLine;
    if (arguments.size() == 1 && arguments[0] == "--help") {
        commandLine.action = CommandLine::Action::PrintHelp;
        return commandLine;
    }
    commandLine.fileName = arguments.back();
    const std::size_t fileNameIndex = arguments.size() - 1;
    std::vector<std::string> given;
    for (std::size_t k = 0; k < fileNameIndex; ++k) {
        const std::string& argument = arguments[k];
        if (argument == "--help") {
            commandLine.action = CommandLine::Action::PrintHelp;
            return commandLine;
        }
        if (std::find(given.begin(), given.end(), argument) != given.end()) {
            return wrong(argument + " is given twice");
        }
        given.push_back(argument);
        if (argument == "parallel") {
            commandLine.parallel = true;
            continue;
        }
        if (argument == "--progress") {
            commandLine.progress = true;
            continue;
        }
        if (argument == "--no-local-search") {
            commandLine.localSearch = false;
            continue;
        }
        const bool takesFile = argument == "--tour" || argument == "--start-tour";
        if (!takesFile && argument != "--time-limit" && argument != "--bound") {
            return wrong(argument.starts_with("-")
                             ? "unknown option " + quoted(argument)
                             : "unexpected argument " + quoted(argument) +
                                   " (only the last argument is the file name)");
        }
        if (k + 1 == fileNameIndex) {
            return wrong(argument + (takesFile               ? " is missing its FILE"
                                     : argument == "--bound" ? " is missing its KIND"
                                                             : " is missing its SECONDS"));
        }
        const std::string& value = arguments[++k];
        if (takesFile && value.empty()) {
            return wrong(argument + " takes a file name, not an empty argument");
        }
        if (argument == "--tour") {
            commandLine.tourFile = value;
        } else if (argument == "--start-tour") {
            commandLine.startTourFile = value;
        } else if (argument == "--bound") {
            if (value != "assignment" && value != "lp" && value != "auto") {
                return wrong("--bound takes assignment, lp or auto, not " + quoted(value));
            }
            commandLine.bound = value;
        } else if (const std::optional<double> seconds = positiveSeconds(value)) {
            commandLine.timeLimitSeconds = *seconds;
        } else {
            return wrong("--time-limit takes a positive decimal number of seconds, not " +
                         quoted(value));
        }
    }
    return commandLine;
}

std::string usageText(std::string_view programName) {
    const std::string program(programName);
    return "Usage: " + program + " [parallel] FILE_NAME\n" + "       " + program +
           " [OPTION...] [parallel] [OPTION...] FILE_NAME\n" +
           "Finds a cheapest tour of the instance in FILE_NAME (a cost matrix or a TSPLIB\n"
           "file) on one thread, or with \"parallel\" on all cores, and prints its cost and\n"
           "the time of the search.\n"
           "Options, each at most once, before FILE_NAME:\n"
           "  --tour FILE           also write the best tour to FILE in TSPLIB's TOUR format\n"
           "  --time-limit SECONDS  stop the search after SECONDS (a positive decimal number)\n"
           "  --start-tour FILE     start from the tour in FILE (a TSPLIB TOUR file)\n"
           "  --progress            report the search's progress on standard error every second\n"
           "  --bound KIND          the lower bound: assignment, lp (the linear relaxation with\n"
           "                        subtour cuts) or auto (the default: the assignment bound\n"
           "                        while the search tree stays small, then lp)\n"
           "  --no-local-search     take the tours the search finds as they are, without\n"
           "                        improving them by a local search (for comparison)\n"
           "  --help                print this text (a file named --help is given as ./--help)\n"
           "Exit status: 0 after a report; 2 when the time limit stopped the search, whose\n"
           "report then begins \"Stopped at the time limit: not proven optimal\"; 1 after an\n"
           "error.\n";
}

}  // namespace atsp
