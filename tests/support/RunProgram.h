// Running the built programs from black-box tests: a shell command line in,
// exit status and both output streams out, and a scratch folder per test.
#pragma once

#include <filesystem>
#include <string>

namespace atsp {

namespace testing_support {

struct ProgramRun {
    int exitStatus = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `command` with /bin/sh in `workingDirectory`, its standard input
// empty, capturing standard output and standard error.
ProgramRun runCommand(const std::string& command,
                      const std::filesystem::path& workingDirectory = ".");

// `text` quoted for the shell.
std::string shellQuote(const std::string& text);

// A fresh empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return folder; }
    // Writes `content` to a file of that name in the folder; returns its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const;

  private:
    std::filesystem::path folder;
};

std::string readWholeFile(const std::filesystem::path& file);

}  // namespace testing_support

}  // namespace atsp
