// kronex-bench: how much the updater adds on top of what the serial line and
// the protocol's own waits cost, measured with the program's own code over
// pseudo-terminals against kronex-devsim. Prints one table; see --help.
#include "child_process.h"
#include "detection.h"
#include "embedded_release.h"
#include "loaded_catalog.h"
#include "process_stats.h"
#include "serial_port.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace kronex::bench;
namespace fs = std::filesystem;

namespace {

// The line and the scan as the program sets them.
constexpr long kBaud = kronex::kLineBaudRate;
constexpr double kSilentReadNs = kronex::kReadTimeoutPerByteMs * 1e6; // a one-byte read, nothing
constexpr int kTriesPerPort = kronex::kTriesPerPort;
constexpr int kPorts = kronex::kLastPort - kronex::kFirstPort + 1;
constexpr double kBitsPerByte = 10;     // start bit, 8 data bits, stop bit
constexpr double kRestartPauseNs = 1e9; // the session's one fixed wait
constexpr int kUnitPort = 3;            // where the simulated unit sits
constexpr double kPacedGoal = 1.03;     // wall time over the line's floor
constexpr double kCpuGoalNs = 2e9;      // CPU of a whole update
constexpr double kLoadGoalNs = 2e6;     // the release load
constexpr double kScanGoal = 1.03;      // scan time over its read time-outs
constexpr auto kUpdateTimeout = std::chrono::minutes(2);
constexpr auto kShortTimeout = std::chrono::seconds(30);
constexpr auto kUsbUpdateTimeout = std::chrono::minutes(15); // about 5 minutes each

struct Options {
    bool smoke = false;
    int runs = 5;         // paced and unpaced updates
    int windowRuns = 3;   // updates in the window
    int startupRuns = 10; // start-ups, of the program and of a bare Qt window
    int scanRuns = 3;
    int scanPorts = kPorts;
    int loadRuns = 200;
    int roundTrips = 2000;
    bool paced = true;
    int usbRuns = 1;               // whole updates through each USB adapter model
    bool usbWindow = true;         // the window's among them (minutes each)
    bool allowIdle = false;        // leave the CPUs' idle states alone
    std::string markdown;          // also write the tables there
    std::vector<std::string> only; // empty: every measurement

    bool wants(const std::string& name) const {
        return only.empty() || std::find(only.begin(), only.end(), name) != only.end();
    }
};

struct Programs {
    std::string devsim = KRONEX_DEVSIM;
    std::string update = KRONEX_BENCH_UPDATE;
    std::string replay = KRONEX_BENCH_REPLAY;
    std::string window = KRONEX_BENCH_WINDOW; // empty without the window
};

double median(std::vector<double> v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string format(const char* pattern, double value) {
    if (std::isnan(value))
        return "n/a";
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string seconds(double ns) {
    return format("%.3f s", ns / 1e9);
}
std::string millis(double ns) {
    return format("%.2f ms", ns / 1e6);
}
std::string mebibytes(double kb) {
    return format("%.1f MiB", kb / 1024);
}
std::string ratio(double r) {
    return format("%.3f", r);
}

// The line's time for these bytes, one after the other.
double lineNs(double bytes) {
    return bytes * kBitsPerByte * 1e9 / static_cast<double>(kBaud);
}

struct Row {
    std::string measurement;
    std::string figure;
    std::string reference;
    std::string ratio;
    std::string goal;
};

class Report {
  public:
    void add(Row r) { rows_.push_back(std::move(r)); }
    void note(std::string line) { notes_.push_back(std::move(line)); }
    void fail(const std::string& what) {
        failures_.push_back(what);
        std::cerr << "kronex-bench: " << what << '\n';
    }
    bool failed() const { return !failures_.empty(); }

    std::string markdown(const std::string& runsLine) const {
        std::ostringstream out;
        out << runsLine << "\n\n";
        out << "| Measurement | Figure | Floor or goal | Ratio | Goal met |\n";
        out << "|---|---|---|---|---|\n";
        for (const Row& r : rows_)
            out << "| " << r.measurement << " | " << r.figure << " | " << r.reference << " | "
                << r.ratio << " | " << r.goal << " |\n";
        if (!notes_.empty()) {
            out << '\n';
            for (const std::string& n : notes_)
                out << "- " << n << '\n';
        }
        for (const std::string& f : failures_)
            out << "- FAILED: " << f << '\n';
        return out.str();
    }

  private:
    std::vector<Row> rows_;
    std::vector<std::string> notes_;
    std::vector<std::string> failures_;
};

std::string verdict(double value, double goal, const std::string& text) {
    if (std::isnan(value))
        return "n/a";
    return (value <= goal ? "yes (" : "**no** (") + text + ")";
}

std::optional<std::string> findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return std::nullopt;
}

// Every port but the unit's points nowhere, so the scan reaches the unit at
// once and the update alone is measured.
ChildRun updateRun(const Programs& p, long baud, const std::vector<std::string>& command,
                   const Environment& env, std::chrono::milliseconds timeout = kUpdateTimeout,
                   int units = 1) {
    DeviceNamespace ns;
    for (int n = 1; n <= kPorts; ++n)
        if (n < kUnitPort || n >= kUnitPort + units)
            ns.missing(n);
    std::vector<std::unique_ptr<SimulatedUnit>> simulated;
    for (int i = 0; i < units; ++i) {
        simulated.push_back(
            std::make_unique<SimulatedUnit>(p.devsim, ns.stateHome(), kUnitPort + i, baud));
        if (!simulated.back()->ready()) {
            ChildRun none;
            none.errors = "kronex-devsim did not come up";
            return none;
        }
    }
    Environment all = env;
    all.emplace_back("XDG_STATE_HOME", ns.stateHome());
    ChildRun run = runChild(command, all, timeout);
    for (auto& unit : simulated)
        if (!unit->stop())
            run.errors += "kronex-devsim did not end cleanly\n";
    return run;
}

// A completed update that sent its plan's exchanges, where the program says
// what its plan is.
bool completed(const ChildRun& run) {
    const double planned = run.figure("plan_exchanges");
    return run.ok() && run.figure("outcome=completed") == 1 &&
           (std::isnan(planned) || run.figure("exchanges") == planned);
}

std::string describe(const ChildRun& run) {
    return "exit " + std::to_string(run.exitCode) + (run.errors.empty() ? "" : ": " + run.errors);
}

struct LineFigures {
    double bytesOut = std::nan("");
    double bytesIn = std::nan("");
    double exchanges = std::nan("");
    double writes = std::nan("");
    double reads = std::nan("");
    double silentReads = std::nan("");
    double floorNs = std::nan("");
};

LineFigures lineFiguresOf(const ChildRun& run) {
    LineFigures f;
    f.bytesOut = run.figure("bytes_out");
    f.bytesIn = run.figure("bytes_in");
    f.exchanges = run.figure("exchanges");
    f.writes = run.figure("writes");
    f.reads = run.figure("reads");
    f.silentReads = run.figure("silent_reads");
    f.floorNs = lineNs(f.bytesOut + f.bytesIn) + kRestartPauseNs + f.silentReads * kSilentReadNs;
    return f;
}

// The recorded bytes of a whole update, sent again by kronex-bench-replay.
ChildRun replayRun(const Programs& p, long baud, const std::string& record) {
    DeviceNamespace ns;
    SimulatedUnit unit(p.devsim, ns.stateHome(), kUnitPort, baud);
    if (!unit.ready()) {
        ChildRun none;
        none.errors = "kronex-devsim did not come up";
        return none;
    }
    ChildRun run = runChild({p.replay, unit.path(), record}, {}, kUpdateTimeout);
    if (!unit.stop())
        run.errors += "kronex-devsim did not end cleanly\n";
    return run;
}

// 1. The unit paces both directions at the line rate. Each run of the
// program is followed by a run of a minimal client sending the same bytes
// (recorded once beforehand), so both see the same machine.
void pacedUpdates(const Options& o, const Programs& p, Report& report, LineFigures& line) {
    const DeviceNamespace scratch;
    const std::string record = scratch.stateHome() + "/update.record";
    const ChildRun recorded = updateRun(p, 0, {p.update, "--record", record}, {});
    if (!completed(recorded)) {
        report.fail("recording an update: " + describe(recorded));
        return;
    }
    std::vector<double> walls, replays;
    std::vector<ChildRun> runs;
    for (int i = 0; i < o.runs; ++i) {
        ChildRun run = updateRun(p, kBaud, {p.update}, {});
        if (!completed(run)) {
            report.fail("paced update: " + describe(run));
            continue;
        }
        line = lineFiguresOf(run);
        walls.push_back(run.figure("wall_ns"));
        const ChildRun replay = replayRun(p, kBaud, record);
        if (replay.ok())
            replays.push_back(replay.figure("wall_ns"));
        else
            report.fail("paced replay: " + describe(replay));
        std::cerr << "  paced update " << i + 1 << '/' << o.runs << ": " << seconds(walls.back())
                  << " (the same bytes from a minimal client: "
                  << (replay.ok() ? seconds(replays.back()) : "failed") << ")\n";
        runs.push_back(std::move(run));
    }
    const double wall = median(walls);
    const double r = wall / line.floorNs;
    report.add({"Whole update, paced at " + std::to_string(kBaud) + " baud: wall time",
                seconds(wall), "line floor " + seconds(line.floorNs), ratio(r),
                verdict(r, kPacedGoal, "at most " + ratio(kPacedGoal))});
    const double minimal = median(replays);
    report.add({"The same bytes from a minimal client (write, drain check, read; no program), "
                "paced",
                seconds(minimal), "line floor " + seconds(line.floorNs),
                ratio(minimal / line.floorNs), "-"});
    report.add({"Paced update: the program over the minimal client", seconds(wall - minimal),
                "minimal client " + seconds(minimal), ratio(wall / minimal), "-"});
    if (runs.empty())
        return;
    // Where the time above the floor went, in the run nearest the median.
    const ChildRun& m = *std::min_element(runs.begin(), runs.end(), [&](auto& a, auto& b) {
        return std::abs(a.figure("wall_ns") - wall) < std::abs(b.figure("wall_ns") - wall);
    });
    const double n = m.figure("exchanges");
    const auto perExchange = [&](double ns) { return format("%.0f us", ns / n / 1e3); };
    const double complementOver = m.figure("to_complement_ns") - n * lineNs(2);
    const double replyOver = m.figure("to_reply_ns") - lineNs(m.figure("frame_reply_bytes"));
    const double betweenOver =
        m.figure("between_ns") - m.figure("slept_ns") - lineNs(m.figure("between_bytes"));
    report.note("Paced update, time above the line per exchange (" + format("%.0f", n) +
                " exchanges, run nearest the median): attention byte to its complement " +
                perExchange(complementOver) + ", complement to the end of the reply " +
                perExchange(replyOver) + ", between exchanges " + perExchange(betweenOver) +
                "; the 1000 ms pause took " + millis(m.figure("slept_ns")) + ".");
}

// 1b. The same paced update through the model of a USB serial adapter
// (usb_adapter_comm.h): a full-speed adapter's 1 ms frames with its latency
// timer at 1 ms and at its common default of 16 ms, and a high-speed
// adapter's 125 us microframes.
void usbUpdates(const Options& o, const Programs& p, Report& report) {
    struct Adapter {
        int frameUs;
        int latencyMs;
        const char* name;
    };
    const Adapter adapters[] = {{1000, 16, "full-speed, latency timer 16 ms (the usual default)"},
                                {1000, 1, "full-speed, latency timer 1 ms"},
                                {125, 1, "high-speed (125 us microframes), latency timer 1 ms"}};
    for (const Adapter& a : adapters) {
        std::vector<double> walls, lates;
        LineFigures line;
        // Without the window's runs (minutes each), the line's bytes come from
        // an unpaced update: the same bytes.
        if (!o.usbWindow)
            line = lineFiguresOf(updateRun(p, 0, {p.update}, {}));
        for (int i = 0; i < (o.usbWindow ? o.usbRuns : 0); ++i) {
            const ChildRun run = updateRun(p, kBaud,
                                           {p.update, "--usb-adapter", std::to_string(a.latencyMs),
                                            "--usb-frame-us", std::to_string(a.frameUs)},
                                           {}, kUsbUpdateTimeout);
            if (!completed(run)) {
                report.fail(std::string("update through a USB adapter, ") + a.name + ": " +
                            describe(run));
                continue;
            }
            line = lineFiguresOf(run);
            walls.push_back(run.figure("wall_ns"));
            lates.push_back(run.figure("usb_late_ns"));
            std::cerr << "  USB adapter, " << a.name << ' ' << i + 1 << '/' << o.usbRuns << ": "
                      << seconds(walls.back()) << '\n';
        }
        const double wall = median(walls);
        const double late = median(lates);
        // What the frames alone cost: one per write.
        const double framesNs = line.writes * a.frameUs * 1e3;
        if (o.usbWindow)
            report.add({std::string("Whole update through a USB adapter model, ") + a.name +
                            ", paced, the window (a write per byte): wall time",
                        seconds(wall) + format(" (%.1f min)", wall / 60e9),
                        "line floor " + seconds(line.floorNs) + "; one frame per write " +
                            seconds(framesNs),
                        ratio(wall / line.floorNs), "-"});
        // kronex-update, its frames written whole: one unit, then four on
        // four adapters at once.
        for (const int units : {1, 4}) {
            std::vector<double> cliWalls;
            double writes = std::nan("");
            for (int i = 0; i < o.usbRuns; ++i) {
                const ChildRun run = updateRun(
                    p, kBaud,
                    {p.update, "--kronex-update", "--units", std::to_string(units), "--usb-adapter",
                     std::to_string(a.latencyMs), "--usb-frame-us", std::to_string(a.frameUs)},
                    {}, kUsbUpdateTimeout, units);
                if (!completed(run)) {
                    report.fail(std::string("kronex-update through USB adapters, ") + a.name +
                                ": " + describe(run));
                    continue;
                }
                cliWalls.push_back(run.figure("wall_ns"));
                writes = run.figure("usb_writes");
                std::cerr << "  kronex-update, " << units << " unit(s), " << a.name << ' ' << i + 1
                          << '/' << o.usbRuns << ": " << seconds(cliWalls.back()) << '\n';
            }
            const double cliWall = median(cliWalls);
            report.add(
                {std::string("Whole update through a USB adapter model, ") + a.name +
                     ", paced, kronex-update (whole frames), " + std::to_string(units) +
                     (units == 1 ? " unit" : " units on as many adapters") + ": wall time",
                 seconds(cliWall),
                 "line floor " + seconds(line.floorNs) + "; " + format("%.0f", writes) + " writes",
                 ratio(cliWall / line.floorNs),
                 a.latencyMs == 16   ? "<= 5"
                 : a.frameUs == 1000 ? "<= 1.3"
                                     : "-"});
        }
        if (o.usbWindow)
            report.note("USB adapter model, " + std::string(a.name) + ": the waits for frame and " +
                        "tick boundaries ended " + seconds(late) +
                        " late in all (this machine's wake-ups; a late wake-up is partly taken " +
                        "back by the next frame).");
    }
}

// 2. The unit answers at once: what the updater itself costs.
void unpacedUpdates(const Options& o, const Programs& p, Report& report, LineFigures& line) {
    std::vector<double> walls, cpu, user, system, peak, loadedPeak;
    for (int i = 0; i < o.runs; ++i) {
        const ChildRun run = updateRun(p, 0, {p.update}, {});
        if (!completed(run)) {
            report.fail("unpaced update: " + describe(run));
            continue;
        }
        line = lineFiguresOf(run);
        walls.push_back(run.figure("wall_ns"));
        user.push_back(run.figure("user_ns"));
        system.push_back(run.figure("system_ns"));
        cpu.push_back(user.back() + system.back());
        peak.push_back(run.figure("peak_kb"));
        loadedPeak.push_back(run.figure("loaded_peak_kb"));
        std::cerr << "  unpaced update " << i + 1 << '/' << o.runs << ": " << seconds(walls.back())
                  << ", CPU " << seconds(cpu.back()) << '\n';
    }
    const double wall = median(walls);
    report.add({"Whole update, unit answering at once: wall time", seconds(wall),
                "the 1000 ms pause", ratio(wall / kRestartPauseNs), "-"});
    const double c = median(cpu);
    report.add({"Whole update, unit answering at once: updater CPU (user + system)",
                seconds(c) + " (" + seconds(median(user)) + " + " + seconds(median(system)) + ")",
                "goal under 2 s", ratio(c / kCpuGoalNs), verdict(c, kCpuGoalNs, "under 2 s")});
    const double kb = median(peak);
    const double before = median(loadedPeak);
    report.add({"Peak resident memory, whole update (workflow without window)", mebibytes(kb),
                "same process before the update: " + mebibytes(before), ratio(kb / before), "-"});
}

// Counts the update child's system calls with perf, or strace where perf
// cannot count; nullopt when neither can.
std::optional<double> countSyscalls(const Programs& p, bool allowSlow, std::string& how,
                                    LineFigures& line) {
    const DeviceNamespace scratch;
    const std::string file = scratch.stateHome() + "/syscalls.txt";
    std::vector<std::string> command;
    if (const auto perf = findProgram("perf")) {
        const ChildRun probe = runChild(
            {*perf, "stat", "-x,", "-e", "raw_syscalls:sys_enter", "-o", file, "--", "/bin/true"},
            {}, kShortTimeout);
        if (probe.ok()) {
            command = {*perf, "stat", "-x,", "-e",    "raw_syscalls:sys_enter",
                       "-o",  file,   "--",  p.update};
            how = "perf stat -e raw_syscalls:sys_enter";
        }
    }
    if (command.empty() && allowSlow) {
        if (const auto strace = findProgram("strace")) {
            command = {*strace, "-f", "-c", "-o", file, "--", p.update};
            how = "strace -f -c";
        }
    }
    if (command.empty())
        return std::nullopt;
    const ChildRun run = updateRun(p, 0, command, {});
    if (!completed(run))
        return std::nullopt;
    line = lineFiguresOf(run);
    std::ifstream in(file);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        if (how.rfind("perf", 0) == 0) {
            // "count,unit,event,..."
            if (text.find("raw_syscalls:sys_enter") != std::string::npos)
                return std::strtod(text.c_str(), nullptr);
        } else if (text.find(" total") != std::string::npos) {
            // "% time, seconds, usecs/call, calls, [errors,] total"
            std::vector<std::string> f;
            for (std::string w; fields >> w;)
                f.push_back(w);
            if (f.size() >= 5)
                return std::strtod(f[3].c_str(), nullptr);
        }
    }
    return std::nullopt;
}

void syscallsPerExchange(const Options& o, const Programs& p, Report& report) {
    std::string how;
    LineFigures line;
    const auto calls = countSyscalls(p, !o.smoke, how, line);
    if (!calls) {
        report.add({"System calls per exchange (unit answering at once)", "not measured",
                    "needs perf or strace", "-", "-"});
        return;
    }
    const double perExchange = *calls / line.exchanges;
    // The protocol asks for one write per byte; if every WriteFile and
    // ReadFile cost exactly one system call, this is what an exchange would take.
    const double floor = (line.writes + line.reads) / line.exchanges;
    report.add({"System calls per exchange (unit answering at once)", format("%.1f", perExchange),
                "one per transfer: " + format("%.1f", floor), ratio(perExchange / floor), "-"});
    report.note("System calls counted with `" + how + "` over the whole updater process (" +
                format("%.0f", *calls) + " calls, " + format("%.0f", line.exchanges) +
                " exchanges).");
}

// The real window on the offscreen platform: a whole update with every
// message answered OK.
void windowUpdates(const Options& o, const Programs& p, Report& report) {
    std::vector<double> walls, cpu, peak, loadedPeak;
    for (int i = 0; i < o.windowRuns; ++i) {
        const ChildRun run =
            updateRun(p, 0, {p.window, "update"}, {{"QT_QPA_PLATFORM", "offscreen"}});
        if (!completed(run)) {
            report.fail("update in the window: " + describe(run));
            continue;
        }
        walls.push_back(run.figure("wall_ns"));
        cpu.push_back(run.figure("user_ns") + run.figure("system_ns"));
        peak.push_back(run.figure("peak_kb"));
        loadedPeak.push_back(run.figure("loaded_peak_kb"));
        std::cerr << "  update in the window " << i + 1 << '/' << o.windowRuns << ": "
                  << seconds(walls.back()) << ", CPU " << seconds(cpu.back()) << '\n';
    }
    const double wall = median(walls);
    report.add({"Whole update in the window (offscreen), unit answering at once: wall time",
                seconds(wall), "the 1000 ms pause", ratio(wall / kRestartPauseNs), "-"});
    const double c = median(cpu);
    report.add({"Whole update in the window (offscreen): CPU (user + system)", seconds(c),
                "goal under 2 s", ratio(c / kCpuGoalNs), verdict(c, kCpuGoalNs, "under 2 s")});
    const double kb = median(peak);
    const double before = median(loadedPeak);
    report.add({"Peak resident memory, whole update in the window", mebibytes(kb),
                "window shown and loaded: " + mebibytes(before), ratio(kb / before), "-"});
}

// 3. From before the process exists to the window shown with the release in it.
void startups(const Options& o, const Programs& p, Report& report) {
    struct Phases {
        std::vector<double> total, toMain, toApp, afterApp;
    };
    const auto measure = [&](const char* mode, Phases& out) {
        for (int i = 0; i < o.startupRuns; ++i) {
            const DeviceNamespace ns;
            const ChildRun run =
                runChild({p.window, mode},
                         {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_STATE_HOME", ns.stateHome()}},
                         kShortTimeout);
            if (!run.ok()) {
                report.fail(std::string("start-up (") + mode + "): " + describe(run));
                continue;
            }
            const auto started = static_cast<double>(run.startedAtNs);
            out.total.push_back(run.figure("loaded_at_ns") - started);
            out.toMain.push_back(run.figure("main_at_ns") - started);
            out.toApp.push_back(run.figure("app_at_ns") - run.figure("main_at_ns"));
            out.afterApp.push_back(run.figure("loaded_at_ns") - run.figure("app_at_ns"));
        }
    };
    Phases program;
    Phases bare;
    measure("startup", program);
    measure("bare", bare);
    const double t = median(program.total);
    const double b = median(bare.total);
    report.add({"Start-up: process start to the window shown and loaded (offscreen)", millis(t),
                "a Qt window with one label, shown and active: " + millis(b), ratio(t / b), "-"});
    const double w = median(program.afterApp);
    const double bw = median(bare.afterApp);
    report.add({"Start-up: of which after QApplication (window built, shown, release loaded)",
                millis(w), "the window with one label: " + millis(bw), ratio(w / bw), "-"});
    report.note("Start-up of the program, medians: " + millis(median(program.toMain)) +
                " from the spawn to main (loading and linking the libraries), " +
                millis(median(program.toApp)) + " constructing QApplication, " + millis(w) +
                " building, showing and loading the window.");
}

void releaseLoad(const Options& o, Report& report) {
    std::vector<double> times;
    for (int i = 0; i < o.loadRuns; ++i) {
        const std::int64_t t0 = monotonicNs();
        const auto loaded = kronex::loadCatalog(kronex::embeddedRelease());
        const std::int64_t t1 = monotonicNs();
        if (!std::holds_alternative<kronex::LoadedCatalog>(loaded)) {
            report.fail("the embedded release does not load");
            return;
        }
        times.push_back(static_cast<double>(t1 - t0));
    }
    const double t = median(times);
    report.add({"Release load alone: loadCatalog(embeddedRelease())", millis(t), "goal under 2 ms",
                ratio(t / kLoadGoalNs), verdict(t, kLoadGoalNs, "under 2 ms")});
}

// 5. Silent terminals on the first ports, nothing on the others.
void scans(const Options& o, const Programs& p, Report& report) {
    std::vector<double> walls;
    for (int i = 0; i < o.scanRuns; ++i) {
        DeviceNamespace ns;
        std::vector<std::pair<int, int>> terminals;
        for (int n = 1; n <= kPorts; ++n) {
            if (n > o.scanPorts) {
                ns.missing(n);
                continue;
            }
            int master = -1;
            int slave = -1;
            char path[256];
            if (openpty(&master, &slave, path, nullptr, nullptr) != 0) {
                report.fail("openpty failed");
                return;
            }
            terminals.emplace_back(master, slave);
            ns.link(n, path);
        }
        const ChildRun run =
            runChild({p.update}, {{"XDG_STATE_HOME", ns.stateHome()}}, kUpdateTimeout);
        for (const auto& [master, slave] : terminals) {
            close(master);
            close(slave);
        }
        if (!run.ok() || run.figure("outcome=no-unit") != 1) {
            report.fail("scan: " + describe(run));
            continue;
        }
        walls.push_back(run.figure("wall_ns"));
        std::cerr << "  scan " << i + 1 << '/' << o.scanRuns << ": " << seconds(walls.back())
                  << '\n';
    }
    const double wall = median(walls);
    const double floor = o.scanPorts * kTriesPerPort * kSilentReadNs;
    report.add({"Scan of " + std::to_string(o.scanPorts) + " silent ports (the rest missing)",
                seconds(wall),
                std::to_string(o.scanPorts) + " x " + std::to_string(kTriesPerPort) + " x " +
                    format("%.0f ms", kSilentReadNs / 1e6) + " = " + seconds(floor),
                ratio(wall / floor),
                verdict(wall / floor, kScanGoal, "at most " + ratio(kScanGoal))});
}

// The machine's own latency: one byte to another process over a
// pseudo-terminal and back, with nothing else done. Every exchange of an
// update makes at least two such hand-overs each way.
void terminalRoundTrip(const Options& o, Report& report) {
    int master = -1;
    int slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        report.fail("openpty failed");
        return;
    }
    const pid_t echo = fork();
    if (echo == 0) {
        close(slave);
        for (unsigned char b = 0;;) {
            pollfd p{master, POLLIN, 0};
            poll(&p, 1, 5000);
            if (read(master, &b, 1) != 1 || b == 0xFF || write(master, &b, 1) != 1)
                _exit(0);
        }
    }
    close(master);
    std::vector<double> trips;
    for (int i = 0; echo > 0 && i < o.roundTrips; ++i) {
        unsigned char b = 0x55;
        const std::int64_t t0 = monotonicNs();
        if (write(slave, &b, 1) != 1)
            break;
        pollfd p{slave, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1 || read(slave, &b, 1) != 1)
            break;
        trips.push_back(static_cast<double>(monotonicNs() - t0));
    }
    const unsigned char end = 0xFF;
    if (write(slave, &end, 1) != 1 && echo > 0)
        kill(echo, SIGTERM);
    if (echo > 0)
        waitpid(echo, nullptr, 0);
    close(slave);
    if (trips.empty()) {
        report.fail("no round trip over a pseudo-terminal");
        return;
    }
    report.add({"Machine: one byte to another process over a pseudo-terminal and back",
                format("%.1f us", median(trips) / 1e3), "-", "-", "-"});
}

void lineNotes(const LineFigures& line, Report& report) {
    if (std::isnan(line.bytesOut))
        return;
    report.note("A whole update of the sample release moves " + format("%.0f", line.bytesOut) +
                " bytes to the unit and " + format("%.0f", line.bytesIn) + " back in " +
                format("%.0f", line.exchanges) + " framed exchanges (" +
                format("%.0f", line.writes) + " writes, " + format("%.0f", line.reads) +
                " reads, " + format("%.0f", line.silentReads) + " reads ending on a time-out).");
    report.note("Line floor = (" + format("%.0f", line.bytesOut) + " + " +
                format("%.0f", line.bytesIn) + ") x 10 / " + std::to_string(kBaud) +
                " s + 1000 ms + " + format("%.0f", line.silentReads) + " x " +
                format("%.0f ms", kSilentReadNs / 1e6) + " = " + seconds(line.floorNs) + ".");
}

// Every exchange hands bytes between the updater and the unit twice or more,
// and waking a CPU from an idle state can take longer than the hand-over
// itself (on a virtual machine, tens of microseconds). As latency benchmarks
// do, ask the kernel to keep the CPUs out of idle states while this process
// holds the descriptor (PM QoS; needs root). -1 when that is not possible.
int holdOffIdleStates() {
    const int fd = open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const std::int32_t noLatency = 0;
    if (write(fd, &noLatency, sizeof noLatency) != sizeof noLatency) {
        close(fd);
        return -1;
    }
    return fd;
}

int usage(const char* error) {
    if (error != nullptr)
        std::cerr << "kronex-bench: " << error << "\n";
    std::cerr << "usage: kronex-bench [--smoke] [--runs N] [--usb-runs N] [--scan-ports N] [--only "
                 "LIST]\n"
                 "                    [--allow-idle] [--markdown FILE]\n"
                 "  --smoke          every measurement once, a 2-port scan, no paced update\n"
                 "                   and no update through the USB adapter model\n"
                 "  --runs N         paced and unpaced updates per median (default 5)\n"
                 "  --usb-runs N     updates per USB adapter model (default 1; 0: none)\n"
                 "  --usb-no-window  through the USB adapter models, kronex-update's alone\n"
                 "  --scan-ports N   silent ports in the scan (1 to 16, default 16)\n"
                 "  --only LIST      some of machine,paced,usb,unpaced,syscalls,window,startup,\n"
                 "                   load,scan\n"
                 "  --allow-idle     leave the CPUs' idle states alone (by default they are\n"
                 "                   held off while measuring, where allowed)\n"
                 "  --markdown FILE  also write the table to FILE\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto number = [&](int least, int most) {
            if (i + 1 >= argc)
                return -1;
            const int v = std::atoi(argv[++i]);
            return v >= least && v <= most ? v : -1;
        };
        if (a == "--smoke") {
            o.smoke = true;
            o.runs = o.windowRuns = o.startupRuns = o.scanRuns = 1;
            o.scanPorts = 2;
            o.loadRuns = 5;
            o.roundTrips = 50;
            o.paced = false;
            o.usbRuns = 0; // minutes each: the unit tests check the model
        } else if (a == "--runs") {
            if ((o.runs = number(1, 100)) < 0)
                return usage("--runs takes 1 to 100");
        } else if (a == "--usb-no-window") {
            o.usbWindow = false;
        } else if (a == "--usb-runs") {
            if ((o.usbRuns = number(0, 100)) < 0)
                return usage("--usb-runs takes 0 to 100");
        } else if (a == "--scan-ports") {
            if ((o.scanPorts = number(1, kPorts)) < 0)
                return usage("--scan-ports takes 1 to 16");
        } else if (a == "--only") {
            if (i + 1 >= argc)
                return usage("--only needs a list");
            std::istringstream names(argv[++i]);
            for (std::string n; std::getline(names, n, ',');)
                o.only.push_back(n);
        } else if (a == "--allow-idle") {
            o.allowIdle = true;
        } else if (a == "--markdown") {
            if (i + 1 >= argc)
                return usage("--markdown needs a file");
            o.markdown = argv[++i];
        } else if (a == "--help" || a == "-h") {
            return usage(nullptr);
        } else {
            return usage(("unknown option " + a).c_str());
        }
    }

    const int idleHold = o.allowIdle ? -1 : holdOffIdleStates();
    const Programs p;
    Report report;
    LineFigures line;
    std::cerr << "kronex-bench: measuring" << (o.smoke ? " (smoke)" : "") << '\n';
    if (o.wants("machine"))
        terminalRoundTrip(o, report);
    if (o.paced && o.wants("paced"))
        pacedUpdates(o, p, report, line);
    if (o.usbRuns > 0 && o.wants("usb"))
        usbUpdates(o, p, report);
    if (o.wants("unpaced"))
        unpacedUpdates(o, p, report, line);
    if (o.wants("syscalls"))
        syscallsPerExchange(o, p, report);
    if (!p.window.empty() && o.wants("window"))
        windowUpdates(o, p, report);
    if (!p.window.empty() && o.wants("startup"))
        startups(o, p, report);
    if (o.wants("load"))
        releaseLoad(o, report);
    if (o.wants("scan"))
        scans(o, p, report);
    lineNotes(line, report);

    std::ostringstream runs;
    runs << "Medians of " << o.runs << " runs (updates), " << o.usbRuns
         << " (updates through each USB adapter model), " << o.windowRuns
         << " (updates in the window), " << o.startupRuns << " (start-ups), " << o.scanRuns
         << " (scans), " << o.loadRuns << " (release loads)"
         << (o.smoke ? "; smoke setting, not for comparison." : ".")
         << (idleHold >= 0 ? " CPU idle states held off while measuring (cpu_dma_latency 0)."
                           : " CPU idle states left as they are.");
    const std::string table = report.markdown(runs.str());
    std::cout << table;
    if (!o.markdown.empty()) {
        std::ofstream out(o.markdown, std::ios::trunc);
        out << table;
        if (!out) {
            std::cerr << "kronex-bench: cannot write " << o.markdown << '\n';
            return 1;
        }
    }
    if (idleHold >= 0)
        close(idleHold);
    return report.failed() ? 1 : 0;
}
