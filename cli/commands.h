// The commands of kronex-update; each returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace kronex::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // at least one unit failed
inline constexpr int kExitNoUnit = 2;    // no unit found
inline constexpr int kExitDeclined = 3;  // the confirmation was declined: nothing written
inline constexpr int kExitUsage = 64;    // bad command line, or nothing to confirm on
inline constexpr int kExitInternal = 70; // the program met a fault of its own
inline constexpr int kExitLogLost = 74;  // all went well but --log lost lines
inline constexpr int kExitInterrupt = 130;

struct Options {
    std::vector<int> ports; // empty: the window's scan
    bool all = false;       // every port where a unit answers
    bool yes = false;       // no confirmation
    bool json = false;
    bool quiet = false;       // the closing summary alone
    bool skipCurrent = false; // leave out units that already hold this release
    bool wait = false;        // wait for units to come up instead of "no unit"
    bool loop = false;        // each unit as it is switched on, until Ctrl-C
    std::string dumpDir;      // several units: one diagnostic file each, here
    std::string logFile;      // every exchange traced here, for support
    std::string record;       // restore: the record file
    bool byteWrites = false;  // each frame byte its own write, as the window sends
};

// Why the diagnostic files cannot go into this folder (made when missing);
// empty when they can.
std::string dumpDirProblem(const std::string& dir);

// Why the trace cannot go into this file; empty when it can.
std::string logFileProblem(const std::string& path);

int portsCommand(const Options& options);
int infoCommand(const Options& options);
int updateCommand(const Options& options);
int verifyCommand(const Options& options);
int restoreCommand(const Options& options);

} // namespace kronex::cli
