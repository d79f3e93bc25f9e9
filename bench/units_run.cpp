// kronex-bench-units: whole paced updates of 1, 2 and 4 simulated units at
// once from one kronex-update command, each unit its own kronex-devsim at the
// line rate. Prints a Markdown table: wall time for N units, its ratio to
// one unit's, and kronex-update's CPU time per unit.
//
//   kronex-bench-units [--runs R] [--smoke]
//
// --smoke: one run of 1 and 2 units with the line unpaced, to keep it running.
#include "child_process.h"
#include "process_stats.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace kronex::bench;

namespace {

constexpr long kLineRate = 166667;
constexpr int kFirstCom = 3;

struct Run {
    double wallS = 0;
    double cpuS = 0; // kronex-update's user and system time
};

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// One command updating `units` fresh units; false when any unit failed.
bool runOnce(int units, long baud, Run& out) {
    DeviceNamespace ns;
    std::vector<std::unique_ptr<SimulatedUnit>> sims;
    std::vector<std::string> argv = {KRONEX_UPDATE, "update",     "--yes",
                                     "--json",      "--dump-dir", ns.stateHome() + "/dumps"};
    for (int i = 0; i < units; ++i) {
        sims.push_back(
            std::make_unique<SimulatedUnit>(KRONEX_DEVSIM, ns.stateHome(), kFirstCom + i, baud));
        if (!sims.back()->ready())
            return false;
        argv.push_back("--port");
        argv.push_back(std::to_string(kFirstCom + i));
    }
    const std::int64_t start = monotonicNs();
    const ChildRun run =
        runChild(argv, {{"XDG_STATE_HOME", ns.stateHome()}}, std::chrono::minutes(10));
    out.wallS = static_cast<double>(monotonicNs() - start) / 1e9;
    out.cpuS = seconds(run.usage.ru_utime) + seconds(run.usage.ru_stime);
    if (!run.ok())
        std::fprintf(stderr, "kronex-update ended with %d:\n%s%s\n", run.exitCode,
                     run.output.c_str(), run.errors.c_str());
    return run.ok();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    bool smoke = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--smoke")
            smoke = true;
        else if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: kronex-bench-units [--runs R] [--smoke]\n");
            return 2;
        }
    }
    const std::vector<int> counts = smoke ? std::vector<int>{1, 2} : std::vector<int>{1, 2, 4};
    const long baud = smoke ? 0 : kLineRate;
    if (smoke)
        runs = 1;

    std::printf(
        "| Units | Wall time (median of %d) | Over one unit | kronex-update CPU per unit |\n"
        "|---|---|---|---|\n",
        runs);
    double one = 0;
    for (const int n : counts) {
        std::vector<double> wall, cpu;
        for (int r = 0; r < runs; ++r) {
            Run run;
            if (!runOnce(n, baud, run))
                return 1;
            wall.push_back(run.wallS);
            cpu.push_back(run.cpuS / n);
        }
        const double w = median(wall);
        if (n == 1)
            one = w;
        std::printf("| %d | %.2f s | %.3f | %.3f s |\n", n, w, w / one, median(cpu));
        std::fflush(stdout);
    }
    return 0;
}
