// Runs a program to its end and prints "PEAK <KiB>", its peak resident memory. The benchmark
// cannot take that figure itself: a child it spawns starts on the benchmark's own memory, and the
// kernel counts that towards the child's peak. This small process's memory is all it starts on.
//   zentrow_peakrss PROGRAM [ARGUMENTS...]
#include <cerrno>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char *argv[]) {
    if (argc < 2)
        return 2;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(argv[1], argv + 1);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (pid > 0 && ::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    std::printf("PEAK %ld\n", usage.ru_maxrss);
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
