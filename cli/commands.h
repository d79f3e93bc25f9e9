// The commands of kronex-update; each returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace kronex::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // at least one unit failed
inline constexpr int kExitNoUnit = 2; // no unit found
inline constexpr int kExitUsage = 64; // bad command line
inline constexpr int kExitInterrupt = 130;

struct Options {
    std::vector<int> ports; // empty: the window's scan
    bool all = false;       // every port where a unit answers
    bool yes = false;       // no confirmation
    bool json = false;
    std::string dumpDir; // several units: one diagnostic file each, here
    std::string record;  // restore: the record file
};

int portsCommand(const Options& options);
int infoCommand(const Options& options);
int updateCommand(const Options& options);
int restoreCommand(const Options& options);

} // namespace kronex::cli
