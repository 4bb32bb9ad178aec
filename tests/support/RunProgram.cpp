#include "tests/support/RunProgram.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace atsp {

namespace testing_support {

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string readWholeFile(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

ProgramRun runCommand(const std::string& command, const std::filesystem::path& workingDirectory) {
    ScratchFolder capture;
    const std::filesystem::path outFile = capture.path() / "stdout";
    const std::filesystem::path errFile = capture.path() / "stderr";
    const std::string line = "cd " + shellQuote(workingDirectory.string()) + " && ( " + command +
                             " ) </dev/null >" + shellQuote(outFile.string()) + " 2>" +
                             shellQuote(errFile.string());
    const int status = std::system(line.c_str());
    ProgramRun run;
    if (status != -1 && WIFEXITED(status)) {
        run.exitStatus = WEXITSTATUS(status);
    }
    run.out = readWholeFile(outFile);
    run.err = readWholeFile(errFile);
    return run;
}

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    folder = std::filesystem::temp_directory_path() /
             ("atsp-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(folder, ignored);
}

std::filesystem::path ScratchFolder::write(const std::string& name,
                                           const std::string& content) const {
    const std::filesystem::path file = folder / name;
    std::ofstream stream(file, std::ios::binary);
    stream << content;
    return file;
}

}  // namespace testing_support

}  // namespace atsp
