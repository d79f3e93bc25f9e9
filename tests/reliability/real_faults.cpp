#include "real_faults.h"

#include "detection.h"
#include "devsim_process.h"
#include "dos_devices.h"
#include "dump_file.h"
#include "expected_update.h"
#include "fake_window.h"
#include "loaded_catalog.h"
#include "start_button.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kronex::test {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using devsim::test::DevsimProcess;

constexpr int kUnitCom = 3;
constexpr auto kLongestRun = 60s; // a whole update takes a few seconds here

std::string fileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> linesOf(const fs::path& p) {
    std::vector<std::string> out;
    std::istringstream in(fileText(p));
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// A throw-away device namespace: the unit on COM3 and every other COM name
// a link to nothing, so that no real port of the machine is touched.
class Scene {
  public:
    Scene() : dir_(fs::temp_directory_path() / ("kronex-real-" + std::to_string(getpid()))) {
        fs::remove_all(dir_);
        setenv("XDG_STATE_HOME", dir_.c_str(), 1);
        fs::create_directories(posix::dosDevicesDir());
        for (int n = kFirstPort; n <= kLastPort; ++n)
            if (n != kUnitCom)
                fs::create_symlink(dir_ / "no-such-port", posix::comLinkPath(n));
    }
    ~Scene() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    const fs::path& dir() const { return dir_; }
    fs::path transcript() const { return dir_ / "transcript.txt"; }
    fs::path dump() const { return dir_ / "dump"; }

    // kronex-devsim on COM3, answering at once, with these faults.
    std::unique_ptr<DevsimProcess> startUnit(std::vector<std::string> faults) const {
        std::vector<std::string> args = {"--com",        std::to_string(kUnitCom), "--print-path",
                                         "--transcript", transcript().string(),    "--dump",
                                         dump().string()};
        args.insert(args.end(), faults.begin(), faults.end());
        auto unit = std::make_unique<DevsimProcess>(args, dir_.string());
        if (unit->readLine(5s).empty())
            return nullptr;
        return unit;
    }

    // Waits until the unit's transcript holds `line`, or `commands` lines
    // other than handshakes.
    bool waitForUnit(const std::string& line, std::size_t commands = 0) const {
        const auto deadline = Clock::now() + kLongestRun;
        while (Clock::now() < deadline) {
            const auto lines = linesOf(transcript());
            std::size_t seen = 0;
            for (const auto& l : lines) {
                if (!line.empty() && l == line)
                    return true;
                seen += l.rfind("HANDSHAKE", 0) != 0;
            }
            if (commands > 0 && seen >= commands)
                return true;
            // The whole transcript is read each time: not so often that the
            // reading competes with the program and the unit for the CPU.
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

  private:
    fs::path dir_;
};

// The start button pressed once in a child process, OK at the first
// message; how it ended comes back on a pipe as one line of numbers.
class Program {
  public:
    Program() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            run(fds[1]);
        }
        close(fds[1]);
        result_ = fds[0];
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (result_ >= 0)
            close(result_);
    }

    // The CPU time it has used so far, from the scheduler's own count.
    double cpuSeconds() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/schedstat");
        double ns = -1e9;
        in >> ns;
        return ns / 1e9;
    }

    void kill9() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // Waits for it to end; its total CPU time in `cpu`.
    ProgramEnd wait(double& cpu) {
        ProgramEnd end;
        const auto deadline = Clock::now() + kLongestRun;
        int status = 0;
        rusage usage{};
        while (wait4(pid_, &status, WNOHANG, &usage) == 0) {
            if (Clock::now() >= deadline)
                return end;
            std::this_thread::sleep_for(1ms);
        }
        pid_ = -1;
        cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        std::string text;
        char buffer[512];
        for (ssize_t n; (n = read(result_, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
        std::istringstream in(text);
        int terminated = 0;
        end.exited = static_cast<bool>(in >> end.position >> end.maximum >> terminated >>
                                       end.descriptorsLeft);
        end.terminationRequested = terminated != 0;
        for (unsigned code; in >> code;)
            end.shown.push_back(code);
        return end;
    }

  private:
    [[noreturn]] static void run(int out) {
        auto loaded = loadCatalog(sampleRelease());
        auto& catalog = std::get<LoadedCatalog>(loaded);
        SerialLink link(systemCommApi());
        FakeWindow window;
        window.maximum = catalog.progressMax;
        Workflow w{window, link, sampleRelease(), catalog, dumpFilePath(), {}};
        const int before = openDescriptors();
        sbATUClick(window, w);
        std::string line = std::to_string(window.position) + " " + std::to_string(window.maximum) +
                           " " + std::to_string(window.terminationRequested) + " " +
                           std::to_string(openDescriptors() - before);
        for (const auto code : window.shown)
            line += " " + std::to_string(code);
        line += "\n";
        [[maybe_unused]] const auto written = write(out, line.data(), line.size());
        _exit(0);
    }

    pid_t pid_ = -1;
    int result_ = -1;
};

std::string describe(const std::vector<unsigned>& codes) {
    std::string s;
    for (const auto c : codes)
        s += (s.empty() ? "" : ",") + std::to_string(c);
    return "[" + s + "]";
}

// How the unit is made to vanish at a phase: its faults, and what its
// transcript shows once the program is there.
struct Placement {
    std::vector<std::string> faults;
    std::string line;                    // a transcript line, or
    std::size_t commands = 0;            // this many commands
    std::chrono::milliseconds settle{0}; // then this long, for the program to be waiting
};

Placement placementOf(const std::string& phase) {
    // Silence from exchange k holds the program in its wait for the
    // complement of k's attention byte while the unit is killed.
    auto silentAt = [](const std::string& command) {
        const int k = exchangeOf(command);
        return Placement{
            {"--silent-from", std::to_string(k)}, "", static_cast<std::size_t>(k - 1), 300ms};
    };
    if (phase == "scan")
        return {{"--handshake-from", "1000000"}, "HANDSHAKE unanswered", 0, 0ms};
    if (phase == "compatibility check")
        return {{"--silent-from", "1"}, "HANDSHAKE", 0, 300ms};
    if (phase == "pause after the first run command")
        return {{}, "RUN t0", 0, 300ms}; // the pause lasts 1000 ms
    if (phase == "main image")
        return silentAt("ERASE t0 B000");
    if (phase == "data part")
        return silentAt("DATA 0100+00");
    return silentAt("WRITE t1 1A00");
}

} // namespace

const std::vector<VanishCase>& vanishCases() {
    static const std::vector<VanishCase> cases = {
        {"scan", {MSG_INICIAR, MSG_PORTA}, false},
        {"compatibility check", {MSG_INICIAR, MSG_VERSAO, MSG_PORTA}, false},
        {"main image", {MSG_INICIAR}, true},
        {"pause after the first run command", {MSG_INICIAR}, true},
        {"data part", {MSG_INICIAR}, true},
        {"target-1 image", {MSG_INICIAR}, true},
    };
    return cases;
}

VanishRun runVanish(const VanishCase& c) {
    VanishRun r;
    Scene scene;
    const Placement at = placementOf(c.phase);
    auto unit = scene.startUnit(at.faults);
    if (!unit) {
        r.problem = "kronex-devsim did not start";
        return r;
    }
    Program program;
    if (!scene.waitForUnit(at.line, at.commands)) {
        r.problem = "the program never reached the " + c.phase;
        return r;
    }
    std::this_thread::sleep_for(at.settle);
    const double cpuBefore = program.cpuSeconds();
    const auto vanished = Clock::now();
    unit->stop(SIGKILL); // its terminal hangs up, as a pulled adapter's port does
    double cpu = 0;
    r.end = program.wait(cpu);
    r.wallSeconds = std::chrono::duration<double>(Clock::now() - vanished).count();
    r.cpuSeconds = cpu - cpuBefore;
    if (!r.end.exited)
        r.problem = "the program did not end";
    else if (r.end.shown != c.expectedMessages)
        r.problem =
            "messages " + describe(r.end.shown) + ", expected " + describe(c.expectedMessages);
    else if (r.end.terminationRequested != c.programEnds)
        r.problem = c.programEnds ? "the program was not asked to end" : "not back to idle";
    else if (r.end.descriptorsLeft != 0)
        r.problem = std::to_string(r.end.descriptorsLeft) + " descriptors left open";
    return r;
}

const std::vector<KillPoint>& killPoints() {
    static const std::vector<KillPoint> points = {
        {"data part", "DATA 0100+00"},
        {"top block (read, not yet erased)", "ERASE t0 FF80"},
        {"target-1 image", "WRITE t1 1A00"},
    };
    return points;
}

KilledRun runKilled(const KillPoint& p) {
    KilledRun r;
    auto problem = [&](const std::string& what) { r.problems.push_back(what); };
    Scene scene;
    auto unit = scene.startUnit({"--deaf-at", std::to_string(exchangeOf(p.command))});
    if (!unit) {
        problem("kronex-devsim did not start");
        return r;
    }
    {
        Program first;
        if (!scene.waitForUnit("ATTENTION unanswered")) {
            problem("the first copy never reached the " + p.where);
            return r;
        }
        first.kill9(); // as a crash or the task manager would
    }
    double cpu = 0;
    r.second = Program().wait(cpu);
    const auto& e = r.second;
    if (!e.exited || e.shown != std::vector<unsigned>{MSG_INICIAR, MSG_CONCLUIDO} ||
        e.position != e.maximum || !e.terminationRequested || e.descriptorsLeft != 0)
        problem("the second copy did not complete: messages " + describe(e.shown) + ", bar " +
                std::to_string(e.position) + " of " + std::to_string(e.maximum));
    if (unit->stop(SIGTERM) != 0) {
        problem("kronex-devsim did not write its memories");
        return r;
    }
    const ExpectedUpdate& want = expectedSampleUpdate();
    auto same = [](const std::string& got, const auto& expected) {
        return got == std::string(expected.begin(), expected.end());
    };
    if (!same(fileText(scene.dump() / "target0.bin"), want.target0))
        problem("target 0 differs from a clean update's");
    if (!same(fileText(scene.dump() / "target1.bin"), want.target1))
        problem("target 1 differs from a clean update's");
    if (!same(fileText(scene.dump() / "data.bin"), want.data))
        problem("the data memory differs from a clean update's");
    if (fileText(dumpFilePath()) != dumpText(want.identity) + "\r\n")
        problem("the diagnostic file differs from a clean update's");
    return r;
}

} // namespace kronex::test
