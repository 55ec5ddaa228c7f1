// measure: runs one command and reports what it cost.
//
//   measure [-o FILE] [--] COMMAND [ARG...]
//
// -o FILE sends the command's standard output to FILE (created or truncated;
// /dev/null works too). Standard input and standard error are inherited.
// Prints one line to standard output:
//
//   user_s sys_s wall_s maxrss_kib exit
//
// where exit is the command's exit code, or 128 + N when it died of signal N.
// measure's own exit code is 0 once the command has run, whatever its result;
// 125 for a usage error, 126 when the command could not be started.
//
// Peak RSS is the child's ru_maxrss from wait4(). Linux keeps the high-water
// mark across exec, so it is never below measure's own (small) footprint;
// measuring /bin/true shows that floor.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const Usage = "usage: measure [-o FILE] [--] COMMAND [ARG...]\n";

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    const char* outputPath = nullptr;
    int first = 1;
    while (first < argc && argv[first][0] == '-') {
        if (std::strcmp(argv[first], "--") == 0) {
            ++first;
            break;
        }
        if (std::strcmp(argv[first], "-o") == 0 && first + 1 < argc) {
            outputPath = argv[first + 1];
            first += 2;
            continue;
        }
        std::fputs(Usage, stderr);
        return 125;
    }
    if (first >= argc) {
        std::fputs(Usage, stderr);
        return 125;
    }

    // Open the output before the clock starts, so that a bad path is
    // reported here and not as a failure of the command.
    int outputFd = -1;
    if (outputPath != nullptr) {
        outputFd = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (outputFd < 0) {
            std::fprintf(stderr, "measure: cannot open '%s': %s\n", outputPath, std::strerror(errno));
            return 126;
        }
    }

    // The child reports a failed exec through this pipe (closed on exec).
    int execPipe[2];
    if (pipe2(execPipe, O_CLOEXEC) != 0) {
        std::perror("measure: pipe");
        return 126;
    }

    std::fflush(nullptr);
    const double start = Now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("measure: fork");
        return 126;
    }
    if (child == 0) {
        if (outputFd < 0 || dup2(outputFd, STDOUT_FILENO) >= 0)
            execvp(argv[first], argv + first);
        const int error = errno;
        (void)!write(execPipe[1], &error, sizeof error);
        _exit(126);
    }
    close(execPipe[1]);
    if (outputFd >= 0)
        close(outputFd);

    int status = 0;
    rusage usage{};
    pid_t waited;
    do
        waited = wait4(child, &status, 0, &usage);
    while (waited < 0 && errno == EINTR);
    const double wall = Now() - start;
    if (waited < 0) {
        std::perror("measure: wait4");
        return 126;
    }

    int execError = 0;
    if (read(execPipe[0], &execError, sizeof execError) == static_cast<ssize_t>(sizeof execError)) {
        std::fprintf(stderr, "measure: cannot run '%s': %s\n", argv[first], std::strerror(execError));
        return 126;
    }
    close(execPipe[0]);

    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.3f %.3f %.3f %ld %d\n", Seconds(usage.ru_utime), Seconds(usage.ru_stime), wall, usage.ru_maxrss,
                exitCode);
    return 0;
}
