// Runs a command and reports its peak resident memory.
//
//   peakMemory COMMAND [ARGUMENT...]
//
// The command's own output comes first, then one last line "peakKiB N" with
// the high-water mark of its resident memory in KiB (wait4's ru_maxrss), and
// the exit status is the command's (128 + the signal's number if a signal
// ended it, 127 if it could not be started).
//
// Why a program of its own: Linux carries a process's resident high-water
// mark across exec, and a forked child starts from its parent's resident size,
// so a command started straight from a large process (a Python driver of some
// 20 MiB) never reports less than that process. Started from this small one,
// the floor is a few MiB.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::printf("usage: peakMemory COMMAND [ARGUMENT...]\n");
        return 127;
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        std::printf("peakMemory: cannot fork\n");
        return 127;
    }
    if (child == 0) {
        execvp(argv[1], argv + 1);
        std::printf("peakMemory: cannot run %s\n", argv[1]);
        std::fflush(stdout);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        std::printf("peakMemory: lost the child\n");
        return 127;
    }
    std::printf("peakKiB %ld\n", usage.ru_maxrss);
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
