// Faults of the real world over real pseudo-terminals, with kronex-devsim as
// the unit and the start button's workflow (on this platform's own serial
// calls) in a child process, as the program runs it:
//  - the unit vanishes (kronex-devsim killed, its terminal hangs up as a
//    pulled adapter's port does) at a chosen phase;
//  - the program is killed mid-update and a second copy runs.
#pragma once

#include <string>
#include <vector>

namespace kronex::test {

// How one run of the program ended, as its window saw it.
struct ProgramEnd {
    bool exited = false; // it ended by itself (not killed, not hung)
    std::vector<unsigned> shown;
    int position = 0, maximum = 0;
    bool terminationRequested = false;
    int descriptorsLeft = 0; // opened during the click and still open after it
};

struct VanishCase {
    std::string phase;
    std::vector<unsigned> expectedMessages; // what the window must show
    bool programEnds = true;                // false: back to idle
};
const std::vector<VanishCase>& vanishCases();

struct VanishRun {
    ProgramEnd end;
    double cpuSeconds = -1;  // the program's CPU time from the vanishing to its end
    double wallSeconds = -1; // and the time it took
    std::string problem;     // empty when it ended as the rules say
};
VanishRun runVanish(const VanishCase& c);

// The program killed while it waits at the exchange that would carry the
// clean update's `command`; a second copy then updates the same unit.
struct KillPoint {
    std::string where;
    std::string command;
};
const std::vector<KillPoint>& killPoints();

struct KilledRun {
    ProgramEnd second;
    std::vector<std::string> problems; // empty: the unit ends as after a clean update
};
KilledRun runKilled(const KillPoint& p);

} // namespace kronex::test
