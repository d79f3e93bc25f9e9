// Clocks and resource figures of the running process, for the bench children.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/resource.h>

namespace kronex::bench {

// CLOCK_MONOTONIC is one clock for every process, so a parent can compare
// its own readings with a child's.
inline std::int64_t monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

struct CpuTime {
    std::int64_t userNs = 0;
    std::int64_t systemNs = 0;
};

inline CpuTime cpuNow() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const auto ns = [](const timeval& t) {
        return std::int64_t{t.tv_sec} * 1'000'000'000 + std::int64_t{t.tv_usec} * 1000;
    };
    return {ns(u.ru_utime), ns(u.ru_stime)};
}

// The most resident memory the process has had (VmHWM), in KiB; -1 if unknown.
inline long peakResidentKb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kb = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kb;
}

} // namespace kronex::bench
