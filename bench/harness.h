#pragma once

// A small measuring harness: wall-clock samples, their quantiles, the process's own resident
// memory and open descriptors, and running another program to its end.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class Samples {
public:
    void add(double ms) { ms_.push_back(ms); }
    std::size_t size() const { return ms_.size(); }
    // Nearest-rank quantile, q in [0, 1].
    double quantile(double q) const {
        if (ms_.empty())
            return 0;
        std::vector<double> s = ms_;
        std::sort(s.begin(), s.end());
        const auto i = static_cast<std::size_t>(q * double(s.size() - 1) + 0.5);
        return s[std::min(i, s.size() - 1)];
    }
    double median() const { return quantile(0.5); }
    void print(const char *label) const {
        std::printf("%-44s median %8.3f ms   p10 %8.3f   p90 %8.3f   (n=%zu)\n", label, median(),
                    quantile(0.1), quantile(0.9), size());
    }

private:
    std::vector<double> ms_;
};

// Resident set size in KiB, from /proc.
inline long rssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

inline int openFds() {
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    int n = 0;
    while (const dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n - 1; // the descriptor of the listing itself
}

// Runs argv to its end, its output thrown away (or kept in `out`, errors included); true on exit
// status 0.
inline bool runToEnd(const std::vector<std::string> &argv, std::string *out = nullptr) {
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (out && ::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    } else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (out) {
        ::close(fds[1]);
        char buf[4096];
        ssize_t n;
        while (rc == 0 && (n = ::read(fds[0], buf, sizeof buf)) > 0)
            out->append(buf, size_t(n));
        ::close(fds[0]);
    }
    if (rc != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace bench
