// Runs one shell command (sh -c) and prints its wall time, its CPU time
// (user + system of the shell and everything it waited for, to the
// microsecond) in seconds, and its peak memory (the largest maximum
// resident set among them) in KiB: "wall cpu peak". Forked from this small
// process, the child's resident set starts small, which a fork of a big
// interpreter would not give. Standard output and error go to /dev/null.
// Usage: measure_process COMMAND
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: measure_process COMMAND\n", stderr);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("measure_process: fork");
        return 1;
    }
    if (child == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execl("/bin/sh", "sh", "-c", argv[1], static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) {
        std::perror("measure_process: wait4");
        return 1;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    std::printf("%.6f %.6f %ld\n", wall, seconds(usage.ru_utime) + seconds(usage.ru_stime),
                usage.ru_maxrss);
    return 0;
}
