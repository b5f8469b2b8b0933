#pragma once

// A small measuring harness: wall-clock samples, their quantiles, and the process's own
// resident memory and open descriptors.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <string>
#include <vector>

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
        std::printf("%-44s median %8.3f ms   p10 %8.3f   p90 %8.3f   (n=%zu)\n", label, median(), quantile(0.1),
                    quantile(0.9), size());
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

} // namespace bench
