#include "child_process.h"

#include "process_stats.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kronex::bench {

namespace fs = std::filesystem;

namespace {

struct Spawned {
    pid_t pid = -1;
    int output = -1; // the child's standard output
    int errors = -1; // and its standard error
};

Spawned spawn(const std::vector<std::string>& args, const Environment& env) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> vars;
    for (const auto& [name, value] : env)
        vars.push_back(name + "=" + value);
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string var(*e);
        bool replaced = false;
        for (const auto& [name, value] : env)
            replaced = replaced || var.rfind(name + "=", 0) == 0;
        if (!replaced)
            vars.push_back(var);
    }
    std::vector<char*> envp;
    for (auto& v : vars)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = args;
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    Spawned s;
    if (posix_spawn(&s.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        s.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    s.output = out[0];
    s.errors = err[0];
    return s;
}

std::map<std::string, double> parseFigures(const std::string& text) {
    std::map<std::string, double> figures;
    std::istringstream in(text);
    std::string name;
    std::string value;
    while (in >> name >> value) {
        char* end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        figures[name] = end != value.c_str() && *end == '\0' ? v : std::nan("");
        if (value == "completed" || value == "no-unit" || value == "failed")
            figures[name + "=" + value] = 1;
    }
    return figures;
}

} // namespace

double ChildRun::figure(const std::string& name) const {
    const auto it = figures.find(name);
    return it == figures.end() ? std::nan("") : it->second;
}

ChildRun runChild(const std::vector<std::string>& argv, const Environment& env,
                  std::chrono::milliseconds timeout) {
    ChildRun run;
    run.startedAtNs = monotonicNs();
    const Spawned s = spawn(argv, env);
    if (s.pid < 0) {
        close(s.output);
        close(s.errors);
        run.errors = "cannot start " + argv[0];
        return run;
    }
    const std::int64_t deadline = run.startedAtNs + timeout.count() * 1'000'000;
    bool killed = false;
    std::array<pollfd, 2> fds{pollfd{s.output, POLLIN, 0}, pollfd{s.errors, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const std::int64_t left = (deadline - monotonicNs()) / 1'000'000;
        if (left <= 0) {
            kill(s.pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds.data(), fds.size(), static_cast<int>(std::min<std::int64_t>(left, 1000))) <
                0 &&
            errno != EINTR)
            break;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? run.output : run.errors).append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int status = 0;
    while (wait4(s.pid, &status, 0, &run.usage) < 0 && errno == EINTR) {
    }
    run.exitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (killed)
        run.errors += "killed after " + std::to_string(timeout.count()) + " ms\n";
    run.figures = parseFigures(run.output);
    return run;
}

SimulatedUnit::SimulatedUnit(const std::string& program, const std::string& stateHome, int com,
                             long baud) {
    // One unit per port, each of its own: units that read as the same unit
    // are never updated at once (the record of its own blocks is held).
    char serial[9];
    std::snprintf(serial, sizeof serial, "290A1B%02X", (0xC2 + com - 3) & 0xFF);
    std::vector<std::string> args = {program,        "--com",    std::to_string(com),
                                     "--print-path", "--serial", serial};
    if (baud > 0) {
        args.emplace_back("--baud");
        args.emplace_back(std::to_string(baud));
    }
    const Spawned s = spawn(args, {{"XDG_STATE_HOME", stateHome}});
    pid_ = s.pid;
    output_ = s.output;
    if (s.errors >= 0)
        close(s.errors); // it writes there only when it fails, and then stop() says so
    if (pid_ < 0)
        return;
    // Its first line is the terminal's path, printed once COMn is registered.
    const std::int64_t deadline = monotonicNs() + 5'000'000'000;
    std::string line;
    while (monotonicNs() < deadline) {
        pollfd p{output_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char c = 0;
        if (read(output_, &c, 1) != 1)
            break;
        if (c == '\n') {
            ready_ = !line.empty();
            path_ = line;
            break;
        }
        line += c;
    }
}

SimulatedUnit::~SimulatedUnit() {
    stop();
}

bool SimulatedUnit::stop() {
    if (output_ >= 0) {
        close(output_);
        output_ = -1;
    }
    if (pid_ <= 0)
        return false;
    kill(pid_, SIGTERM);
    int status = 0;
    const std::int64_t deadline = monotonicNs() + 5'000'000'000;
    for (;;) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_)
            break;
        if (monotonicNs() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

DeviceNamespace::DeviceNamespace() {
    std::string pattern = (fs::temp_directory_path() / "kronex-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    root_ = pattern;
    fs::create_directories(fs::path(root_) / "kronex" / "dosdevices");
}

DeviceNamespace::~DeviceNamespace() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void DeviceNamespace::link(int n, const std::string& target) {
    unlink(n);
    fs::create_symlink(target,
                       fs::path(root_) / "kronex" / "dosdevices" / ("com" + std::to_string(n)));
}

void DeviceNamespace::missing(int n) {
    link(n, (fs::path(root_) / "no-such-port").string());
}

void DeviceNamespace::unlink(int n) {
    std::error_code ec;
    fs::remove(fs::path(root_) / "kronex" / "dosdevices" / ("com" + std::to_string(n)), ec);
}

} // namespace kronex::bench
