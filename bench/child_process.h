// Starting the bench's helper programs and kronex-devsim, and a private
// device namespace for them.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace kronex::bench {

using Environment = std::vector<std::pair<std::string, std::string>>;

// What a finished child left: its "name value" lines, how it ended and what
// the kernel counted for it.
struct ChildRun {
    int exitCode = -1; // -1: killed, hung or could not start
    std::string output;
    std::string errors;
    rusage usage{};
    std::int64_t startedAtNs = 0; // CLOCK_MONOTONIC just before the spawn
    std::map<std::string, double> figures;

    bool ok() const { return exitCode == 0; }
    // The figure, or NaN when the child did not print it.
    double figure(const std::string& name) const;
};

// Runs argv[0] (a path) to its end with these variables added to or replacing
// ours; killed after `timeout`.
ChildRun runChild(const std::vector<std::string>& argv, const Environment& env,
                  std::chrono::milliseconds timeout);

// kronex-devsim in the background, registered as COMn in the namespace of
// stateHome; stopped with SIGTERM when destroyed.
class SimulatedUnit {
  public:
    SimulatedUnit(const std::string& program, const std::string& stateHome, int com, long baud);
    ~SimulatedUnit();
    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;

    // True once the terminal is registered (it says so on its output).
    bool ready() const { return ready_; }
    // The terminal's own path.
    const std::string& path() const { return path_; }
    // Stops it; true when it ended cleanly.
    bool stop();

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    bool ready_ = false;
    std::string path_;
};

// A throw-away XDG_STATE_HOME whose kronex/dosdevices the runs fill.
class DeviceNamespace {
  public:
    DeviceNamespace();
    ~DeviceNamespace();
    DeviceNamespace(const DeviceNamespace&) = delete;
    DeviceNamespace& operator=(const DeviceNamespace&) = delete;

    const std::string& stateHome() const { return root_; }
    // COMn opens `target`.
    void link(int n, const std::string& target);
    // COMn points nowhere, so opening it fails at once.
    void missing(int n);
    // Removes COMn's link.
    void unlink(int n);

  private:
    std::string root_;
};

} // namespace kronex::bench
