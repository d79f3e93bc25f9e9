// Runs the fault matrix and prints one summary line: how many cases ran and
// how many broke a rule. `--sample` runs every 29th exchange and the steps
// with rules of their own; without it every exchange. `--rerun` runs the
// interrupted-then-rerun matrix instead: power lost before each exchange and
// inside each erase and write, then a second whole update, once with the
// record folder kept and once with it emptied (`--records kept|emptied`: one
// of them), with every cut whose unit does not end exactly as after a clean
// update listed with what differs.
#include "fault_matrix.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

using namespace kronex::test;

namespace {

// Calls run(i) for i in 0..count-1 on every core.
void onEveryCore(std::size_t count, const std::function<void(std::size_t)>& run) {
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i; (i = next++) < count;)
            run(i);
    };
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(worker);
    for (auto& t : pool)
        t.join();
}

} // namespace

int main(int argc, char** argv) {
    bool sample = false, rerun = false;
    std::vector<Records> modes = {Records::Kept, Records::Emptied, Records::Neighbours};
    for (int i = 1; i < argc; ++i) {
        sample = sample || std::strcmp(argv[i], "--sample") == 0;
        rerun = rerun || std::strcmp(argv[i], "--rerun") == 0;
        if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
            const std::string which = argv[++i];
            if (which != "kept" && which != "emptied" && which != "neighbours") {
                std::fprintf(stderr, "--records takes kept, emptied or neighbours\n");
                return 2;
            }
            modes = {which == "kept"      ? Records::Kept
                     : which == "emptied" ? Records::Emptied
                                          : Records::Neighbours};
        }
    }
    const CleanRun clean = cleanRun();
    const int exchanges = static_cast<int>(clean.commands.size());
    auto command = [&](int k) { return clean.commands[static_cast<std::size_t>(k - 1)].c_str(); };

    std::set<int> chosen;
    for (int k = 1; k <= exchanges; ++k)
        if (!sample || k % 29 == 1 || k <= 2 || k >= exchanges - 1)
            chosen.insert(k);
    if (sample) {
        for (const char* special :
             {"RUN t0", "ERASE t0 8000", "ERASE t0 7000", "READ t0 FF80", "ERASE t0 FF80",
              "WRITE t0 FF80", "ERASE t0 2000", "WRITE t0 2000", "WRITE t1 1200", "RUN t1"})
            for (int k = 1; k <= exchanges; ++k)
                if (clean.commands[static_cast<std::size_t>(k - 1)] == special)
                    chosen.insert(k);
        for (int k = 2; k <= exchanges; ++k)
            if (clean.commands[static_cast<std::size_t>(k - 1)] == "READ t0 2000")
                chosen.insert(k);
    }
    std::mutex out;

    if (rerun) {
        const auto cuts = powerCuts(clean, std::vector<int>(chosen.begin(), chosen.end()));
        const auto inside =
            std::count_if(cuts.begin(), cuts.end(), [](const PowerCut& c) { return c.inside(); });
        std::vector<std::vector<Rerun>> results(cuts.size());
        onEveryCore(cuts.size(), [&](std::size_t i) {
            results[i] = interruptedThenRerun(clean, cuts[i], modes);
        });
        int allBreaks = 0;
        for (std::size_t m = 0; m < modes.size(); ++m) {
            const Records records = modes[m];
            int exact = 0, breaks = 0, expectedLossy = 0, untouched = 0;
            for (std::size_t i = 0; i < cuts.size(); ++i) {
                const Rerun& r = results[i][m];
                const std::string cut = describe(clean, cuts[i]);
                exact += r.lost.empty();
                untouched += r.untouched;
                breaks += !r.broken.empty();
                expectedLossy += records == Records::Emptied && lossyWithoutRecord(clean, cuts[i]);
                for (const auto& b : r.broken)
                    std::printf("%s: power lost %s, rerun: RULE BROKEN: %s\n", recordsName(records),
                                cut.c_str(), b.c_str());
                if (r.lost.empty() || records == Records::Neighbours)
                    continue;
                // The first differences say enough; a stopped rerun leaves many.
                std::string what = r.lost[0];
                for (std::size_t j = 1; j < std::min<std::size_t>(r.lost.size(), 3); ++j)
                    what += "; " + r.lost[j];
                if (r.lost.size() > 3)
                    what += "; and " + std::to_string(r.lost.size() - 3) + " more";
                std::printf("%s: power lost %s, the rerun %s: %s\n", recordsName(records),
                            cut.c_str(), r.completed ? "reported the unit updated" : "stopped",
                            what.c_str());
            }
            if (records == Records::Neighbours) {
                std::printf("interrupted and rerun, %s: %zu cuts over %zu of %d exchanges, %d "
                            "end exactly as a clean update, %d stop before erasing anything "
                            "(an identity that no longer tells the unit from its neighbours), "
                            "%d broke a rule\n",
                            recordsName(records), cuts.size(), chosen.size(), exchanges, exact,
                            untouched, breaks);
                allBreaks += breaks;
                continue;
            }
            std::printf("interrupted and rerun, %s: %zu cuts (%zu at an exchange, %ld inside "
                        "an erase or write) over %zu of %d exchanges, %d end exactly as a clean "
                        "update, %zu lose part of the unit (%d expected), %d broke a rule\n",
                        recordsName(records), cuts.size(),
                        cuts.size() - static_cast<std::size_t>(inside), static_cast<long>(inside),
                        chosen.size(), exchanges, exact,
                        cuts.size() - static_cast<std::size_t>(exact), expectedLossy, breaks);
            allBreaks += breaks;
        }
        return allBreaks == 0 ? 0 : 1;
    }

    struct Case {
        FaultKind kind;
        int k;
    };
    std::vector<Case> cases;
    for (const int k : chosen)
        for (const FaultKind kind : kFaultKinds)
            cases.push_back({kind, k});

    std::atomic<int> breaks{0};
    onEveryCore(cases.size(), [&](std::size_t i) {
        const auto broken = brokenRules(clean, cases[i].kind, cases[i].k);
        if (broken.empty())
            return;
        ++breaks;
        std::lock_guard lock(out);
        for (const auto& b : broken)
            std::printf("%s at exchange %d (%s): %s\n", faultName(cases[i].kind), cases[i].k,
                        command(cases[i].k), b.c_str());
    });

    std::printf("fault matrix: %zu cases over %zu of %d exchanges, %d broke a rule\n", cases.size(),
                chosen.size(), exchanges, breaks.load());
    std::printf("fault matrix: %zu passed, %d failed\n",
                cases.size() - static_cast<std::size_t>(breaks.load()), breaks.load());
    return breaks == 0 ? 0 : 1;
}
