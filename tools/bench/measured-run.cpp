// Runs one command and prints "seconds cpu-seconds peak-kilobytes": its wall time, its user and
// system time, and its peak resident memory. Finer than /usr/bin/time, whose hundredths of a second
// are a large part of a walk that takes a few of them. The command's output goes to the two files
// named first; its exit status is this program's.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double Seconds(const timespec& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: measured-run STDOUT STDERR COMMAND [ARGUMENT...]\n");
        return 2;
    }
    const int out = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0) {
        std::perror("measured-run");
        return 2;
    }
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    // fork, not vfork: the peak memory a child inherits until it execs is this small program's.
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("measured-run: fork");
        return 2;
    }
    if (child == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execvp(argv[3], argv + 3);
        std::fprintf(stderr, "measured-run: %s: %s\n", argv[3], std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("measured-run: wait4");
            return 2;
        }
    }
    timespec end{};
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    std::printf("%.3f %.3f %ld\n", Seconds(end) - Seconds(start),
                Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
