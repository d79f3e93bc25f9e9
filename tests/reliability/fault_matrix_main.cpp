// Runs the fault matrix and prints one summary line: how many cases ran and
// how many broke a rule. `--sample` runs every 29th exchange and the steps
// with rules of their own; without it every exchange.
#include "fault_matrix.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

using namespace kronex::test;

int main(int argc, char** argv) {
    const bool sample = argc > 1 && std::strcmp(argv[1], "--sample") == 0;
    const CleanRun clean = cleanRun();
    const int exchanges = static_cast<int>(clean.commands.size());

    std::set<int> chosen;
    for (int k = 1; k <= exchanges; ++k)
        if (!sample || k % 29 == 1 || k <= 2 || k >= exchanges - 1)
            chosen.insert(k);
    if (sample) {
        for (const char* special : {"RUN t0", "ERASE t0 8000", "ERASE t0 7000", "READ t0 FF80",
                                    "WRITE t0 2000", "WRITE t1 1200", "RUN t1"})
            for (int k = 1; k <= exchanges; ++k)
                if (clean.commands[static_cast<std::size_t>(k - 1)] == special)
                    chosen.insert(k);
        for (int k = 2; k <= exchanges; ++k)
            if (clean.commands[static_cast<std::size_t>(k - 1)] == "READ t0 2000")
                chosen.insert(k);
    }
    struct Case {
        FaultKind kind;
        int k;
    };
    std::vector<Case> cases;
    for (const int k : chosen)
        for (const FaultKind kind : kFaultKinds)
            cases.push_back({kind, k});

    std::atomic<std::size_t> next{0};
    std::atomic<int> breaks{0};
    std::mutex out;
    auto worker = [&] {
        for (std::size_t i; (i = next++) < cases.size();) {
            const auto broken = brokenRules(clean, cases[i].kind, cases[i].k);
            if (broken.empty())
                continue;
            ++breaks;
            std::lock_guard lock(out);
            for (const auto& b : broken)
                std::printf("%s at exchange %d (%s): %s\n", faultName(cases[i].kind), cases[i].k,
                            clean.commands[static_cast<std::size_t>(cases[i].k - 1)].c_str(),
                            b.c_str());
        }
    };
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(worker);
    for (auto& t : pool)
        t.join();

    std::printf("fault matrix: %zu cases over %zu of %d exchanges, %d broke a rule\n", cases.size(),
                chosen.size(), exchanges, breaks.load());
    std::printf("fault matrix: %zu passed, %d failed\n",
                cases.size() - static_cast<std::size_t>(breaks.load()), breaks.load());
    return breaks == 0 ? 0 : 1;
}
