// The faults of the real world over pseudo-terminals, one line each: the
// unit vanishing at each phase, with the program's CPU time from then until
// it ended and how long that took; the program killed mid-update and a
// second copy run. Exit code 0 when every case ended as the rules say and
// every CPU time was under the goal.
#include "real_faults.h"

#include <cstdio>

using namespace kronex::test;

int main() {
    constexpr double kCpuGoalSeconds = 0.05;
    int failures = 0;
    for (const auto& c : vanishCases()) {
        const VanishRun r = runVanish(c);
        const bool ok = r.problem.empty() && r.cpuSeconds < kCpuGoalSeconds;
        failures += !ok;
        std::printf("unit vanished in the %s: the program %s %.3f s later, CPU %.4f s%s%s\n",
                    c.phase.c_str(), c.programEnds ? "ended" : "was back to idle", r.wallSeconds,
                    r.cpuSeconds, ok ? "" : ": FAILED ", r.problem.c_str());
    }
    for (const auto& p : killPoints()) {
        const KilledRun r = runKilled(p);
        failures += !r.problems.empty();
        std::printf("program killed in the %s: %s\n", p.where.c_str(),
                    r.problems.empty() ? "a second copy completed the update, the unit and the "
                                         "diagnostic file as after a clean update"
                                       : "FAILED");
        for (const auto& problem : r.problems)
            std::printf("    %s\n", problem.c_str());
    }
    return failures == 0 ? 0 : 1;
}
