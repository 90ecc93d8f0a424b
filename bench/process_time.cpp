// Runs one command as a child process and writes its wall time and peak resident set to a file,
// as GNU time does, but with the wall time in microseconds rather than hundredths of a second:
// the import benchmark subtracts the times of two whole processes from each other.
//
//   process_time OUT COMMAND [ARG...]
//
// OUT receives one line "SECONDS PEAK_KIB": the wall time from just before the child is started
// until it has ended, and the largest resident set of the child (and of the children it waited
// for). The child's standard streams are this program's. The exit status is the child's, or 125
// when it could not be run, or 128 + the signal that ended it.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: process_time OUT COMMAND [ARG...]\n");
        return 125;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "process_time: cannot start a process: %s\n", std::strerror(errno));
        return 125;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "process_time: cannot run %s: %s\n", argv[2], std::strerror(errno));
        _exit(125);
    }
    int status = 0;
    rusage usage{};
    pid_t ended = -1;
    do {
        ended = wait4(child, &status, 0, &usage);
    } while (ended < 0 && errno == EINTR);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ended < 0) {
        std::fprintf(stderr, "process_time: cannot wait for %s: %s\n", argv[2],
                     std::strerror(errno));
        return 125;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    bool written = out != nullptr;
    if (written) {
        written = std::fprintf(out, "%.6f %ld\n", seconds, usage.ru_maxrss) > 0;
        written = std::fclose(out) == 0 && written;
    }
    if (!written) {
        std::fprintf(stderr, "process_time: cannot write %s\n", argv[1]);
        return 125;
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
