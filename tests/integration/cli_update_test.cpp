// kronex-update as the repair bench runs it, against kronex-devsim on
// pseudo-terminals: the same commands as the window, and several units at
// once where one refuses a data block.
#include "detection.h"
#include "devsim_process.h"
#include "dump_file.h"
#include "embedded_release.h"
#include "expected_update.h"
#include "fake_window.h"
#include "start_button.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kronex;
using kronex::devsim::test::DevsimProcess;
namespace fs = std::filesystem;

namespace {

// How many times `what` stands in `text`.
std::size_t timesIn(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string fileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a whole update of the release this build carries must send and leave.
const test::ExpectedUpdate& embeddedUpdate() {
    static const auto expected =
        test::expectedUpdate(test::ReleaseEntries::of(embeddedRelease()), devsim::DeviceModel());
    return expected;
}

std::vector<std::string> commandsIn(const fs::path& transcript) {
    std::vector<std::string> out;
    std::istringstream in(fileText(transcript));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("HANDSHAKE", 0) != 0)
            out.push_back(line);
    return out;
}

// A namespace of its own: COM1 and COM2 lead nowhere, so no scan touches
// this machine's own ports.
struct Bench {
    fs::path state = fs::temp_directory_path() / ("kronex-cli-" + std::to_string(getpid()));
    Bench() {
        fs::remove_all(state);
        fs::create_directories(state / "kronex" / "dosdevices");
        for (const char* n : {"com1", "com2"})
            fs::create_symlink(state / "none", state / "kronex" / "dosdevices" / n);
        setenv("XDG_STATE_HOME", state.c_str(), 1);
    }
    ~Bench() { fs::remove_all(state); }

    std::unique_ptr<DevsimProcess> unit(int com, const std::string& name,
                                        std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--com", std::to_string(com), "--print-path",
                                         "--transcript", (state / (name + ".txt")).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto p = std::make_unique<DevsimProcess>(args, state.string());
        EXPECT_FALSE(p->readLine(std::chrono::seconds(5)).empty());
        return p;
    }

    // kronex-update with these arguments: its exit status and standard output.
    // Standard input is nothing, or a terminal where `typed` waits to be read.
    std::pair<int, std::string> run(const std::string& args,
                                    const std::optional<std::string>& typed = std::nullopt,
                                    const std::string& prefix = "") {
        std::string command = prefix + std::string(KRONEX_UPDATE) + " " + args + " 2>" +
                              (state / "progress.txt").string();
        int master = -1, slave = -1;
        char terminal[256] = "/dev/null";
        if (typed) {
            EXPECT_EQ(openpty(&master, &slave, terminal, nullptr, nullptr), 0);
            EXPECT_EQ(write(master, typed->data(), typed->size()),
                      static_cast<ssize_t>(typed->size()));
        }
        command += std::string(" <") + terminal;
        FILE* out = popen(command.c_str(), "r");
        std::string text;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;)
            text.append(buffer, n);
        const int status = pclose(out);
        if (typed) {
            close(master);
            close(slave);
        }
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
    }
    std::string progress() { return fileText(state / "progress.txt"); }
    void point(int com, const std::string& target) {
        const auto link = state / "kronex" / "dosdevices" / ("com" + std::to_string(com));
        fs::remove(link);
        fs::create_symlink(target, link);
    }
};

// What the schema in docs/ finds wrong with kronex-update's JSON ("" when nothing).
std::string schemaProblems(const std::string& json) {
    const fs::path file = fs::temp_directory_path() / ("kronex-json-" + std::to_string(getpid()));
    std::ofstream(file) << json;
    FILE* out =
        popen((std::string(KRONEX_SCHEMA_CHECK) + " <" + file.string() + " 2>&1").c_str(), "r");
    std::string text;
    char buffer[1024];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;)
        text.append(buffer, n);
    const int status = pclose(out);
    fs::remove(file);
    return status == 0 ? "" : "schema check: " + text;
}

// A terminal another program has open and locked, as a serial program does.
struct HeldTerminal {
    int master = -1, slave = -1, other = -1;
    char path[256] = {};
    HeldTerminal() {
        EXPECT_EQ(openpty(&master, &slave, path, nullptr, nullptr), 0);
        fcntl(master, F_SETFL, O_NONBLOCK);
        other = open(path, O_RDWR | O_NOCTTY);
        EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    }
    ~HeldTerminal() {
        close(other);
        close(slave);
        close(master);
    }
};

// kronex-update with a terminal of `columns` columns on standard input and
// error, as a technician runs it; standard output goes to a file.
struct OnTerminal {
    Bench& bench;
    int master = -1, slave = -1;
    pid_t pid = -1;
    std::string screen; // all it wrote on the terminal
    OnTerminal(Bench& b, const std::string& args, unsigned short columns = 80) : bench(b) {
        const winsize size{24, columns, 0, 0};
        EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
        const std::string command = std::string("exec ") + KRONEX_UPDATE + " " + args + " >" +
                                    (bench.state / "out.txt").string();
        if ((pid = fork()) == 0) {
            dup2(slave, 0);
            dup2(slave, 2);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~OnTerminal() {
        close(master);
        close(slave);
    }
    void read(int ms) {
        pollfd p{master, POLLIN, 0};
        char buffer[4096];
        for (ssize_t n; poll(&p, 1, ms) > 0 && (n = ::read(master, buffer, sizeof buffer)) > 0;
             ms = 0)
            screen.append(buffer, static_cast<std::size_t>(n));
    }
    bool shows(const std::string& text) { // within 30 s
        for (int i = 0; i < 3000 && screen.find(text) == std::string::npos; ++i)
            read(10);
        return screen.find(text) != std::string::npos;
    }
    // Its exit status once it has ended; -1 when it has not `within` later.
    int end(std::chrono::seconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0)
            if (std::chrono::steady_clock::now() < deadline) {
                read(10);
            } else {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
        read(0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string out() { return fileText(bench.state / "out.txt"); }
};

} // namespace

TEST(CliUpdate, SendsWhatTheWindowSends) {
    Bench bench;
    // The window's workflow on the same release, then kronex-update's scan.
    auto windowUnit = bench.unit(3, "window");
    auto loaded = loadCatalog(embeddedRelease());
    auto& catalog = std::get<LoadedCatalog>(loaded);
    SerialLink link(systemCommApi());
    test::FakeWindow window;
    window.maximum = catalog.progressMax;
    Workflow workflow{window, link, embeddedRelease(), catalog, bench.state / "window.TXT", {}};
    sbATUClick(window, workflow);
    ASSERT_EQ(windowUnit->stop(SIGTERM), 0);

    auto cliUnit = bench.unit(3, "cli");
    const auto [status, out] = bench.run("update --yes");
    ASSERT_EQ(cliUnit->stop(SIGTERM), 0);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.rfind("COM3 (290A1BC2): updated in ", 0), 0u) << out;
    // Handshakes included: the same bytes in the same order.
    EXPECT_EQ(fileText(bench.state / "cli.txt"), fileText(bench.state / "window.txt"));
    EXPECT_EQ(commandsIn(bench.state / "cli.txt"), embeddedUpdate().commands);
    EXPECT_EQ(fileText(bench.state / "kronex" / "drive_c" / "TEXTO2.TXT"),
              fileText(bench.state / "window.TXT"));
    EXPECT_NE(out.find("\n  diagnostic file: " +
                       (bench.state / "kronex" / "drive_c" / "TEXTO2.TXT").string() + "\n"),
              std::string::npos)
        << out;
}

// Four units of one kind updated before, their serial numbers neighbours
// (every 1-bit of 290A1BC2 is set in 292A1BE2, 290A1BC0 has a subset of
// them) and their top blocks equal: each keeps its own serial number.
TEST(CliUpdate, FourUnitsAtOnceOneRefusingADataBlock) {
    Bench bench;
    const std::map<std::string, std::string> serials = {
        {"COM3", "290A1BC2"}, {"COM4", "292A1BE2"}, {"COM5", "290A1BC3"}, {"COM6", "290A1BC0"}};
    // The unit on COM5 refuses the first data block, whatever release is embedded.
    const auto& commands = embeddedUpdate().commands;
    const auto firstData = std::find_if(commands.begin(), commands.end(), [](const std::string& c) {
        return c.rfind("DATA ", 0) == 0;
    });
    ASSERT_NE(firstData, commands.end());
    const int k = static_cast<int>(firstData - commands.begin()) + 1;
    const std::string block = firstData->substr(5); // "0000+00"
    std::vector<std::unique_ptr<DevsimProcess>> units;
    for (int com = 3; com <= 6; ++com) {
        std::vector<std::string> options = {"--serial", serials.at("COM" + std::to_string(com)),
                                            "--top-of", "290A1BC2", "--updated-before"};
        if (com == 5)
            options.insert(options.end(), {"--nak-at", std::to_string(k)});
        units.push_back(bench.unit(com, "unit" + std::to_string(com), options));
    }
    const auto [status, out] = bench.run("update --port 3 --port 4 --port 5 --port 6 --yes --json "
                                         "--log " +
                                         (bench.state / "trace.log").string() + " --dump-dir " +
                                         (bench.state / "dumps").string());
    for (auto& u : units)
        EXPECT_EQ(u->stop(SIGTERM), 0);
    EXPECT_EQ(status, 1) << out;
    // The refusing unit's end is told as it comes, not after the others'.
    const std::string progress = bench.progress();
    const auto failedAt = progress.find(" exchanges), failed\n");
    ASSERT_NE(failedAt, std::string::npos) << progress;
    EXPECT_EQ(progress.rfind("COM5: ", failedAt), progress.rfind('\n', failedAt) + 1) << progress;
    // Where the others have far to go after the refusal (a small release is
    // over within one look at the units), it is told before theirs end.
    if (embeddedUpdate().commands.size() > 1000) {
        EXPECT_LT(failedAt, progress.find("COM3: 100%")) << progress;
    }
    const auto json = nlohmann::json::parse(out);
    EXPECT_EQ(schemaProblems(out), "");
    ASSERT_EQ(json["units"].size(), 4u) << out;
    // The release's identity block with the unit's own serial number.
    const auto expected = [](const std::string& serial) {
        auto identity = embeddedUpdate().identity;
        for (std::size_t i = 0; i < 3; ++i)
            identity[i] =
                static_cast<std::uint8_t>(std::stoi(serial.substr(2 + 2 * i, 2), nullptr, 16));
        return dumpText(identity) + "\r\n";
    };
    for (const auto& u : json["units"]) {
        const std::string port = u["port"];
        if (port == "COM5") {
            EXPECT_EQ(u["outcome"], "failed");
            EXPECT_EQ(u["failed_step"], "data part section 1");
            EXPECT_EQ(u["failed_command"], "DATA block " + block);
            EXPECT_EQ(u["failed_exchange"], k);
            EXPECT_EQ(u["reason"], "refused with status 0x55");
            EXPECT_EQ(u["explanation"], "the unit refused to write a block");
            EXPECT_NE(u["next_step"].get<std::string>().find("run the update again"),
                      std::string::npos);
            EXPECT_EQ(u["release_after"], 233); // the identity block is untouched
            EXPECT_EQ(commandsIn(bench.state / "unit5.txt").back(), *firstData + " [nak]");
            // The trace names the refused exchange, its command and the unit's status.
            EXPECT_NE(fileText(bench.state / "trace.log")
                          .find(" COM5 exchange " + std::to_string(k) + ": DATA block " + block +
                                " status 55\n"),
                      std::string::npos);
            continue;
        }
        EXPECT_EQ(u["outcome"], "updated") << port;
        EXPECT_EQ(u["explanation"], nullptr);
        EXPECT_EQ(u["exchanges_done"], u["exchanges_total"]);
        const std::string& serial = serials.at(port);
        EXPECT_EQ(u["serial_number"], serial);
        EXPECT_EQ(commandsIn(bench.state / ("unit" + port.substr(3) + ".txt")), commands) << port;
        // Every exchange traced as the unit heard it, each answered.
        std::vector<std::string> traced;
        std::istringstream trace(fileText(bench.state / "trace.log"));
        for (std::string line; std::getline(trace, line);)
            if (const auto at = line.find(" " + port + " exchange "); at != std::string::npos)
                traced.push_back(line.substr(line.find(": ", at) + 2));
        std::vector<std::string> heard;
        for (std::string c : commands)
            heard.push_back((c.rfind("DATA ", 0) == 0 ? c.insert(5, "block ") : c) + " status AA");
        EXPECT_EQ(traced, heard) << port;
        EXPECT_EQ(fileText(bench.state / "dumps" / ("TEXTO2-" + serial + "-" + port + ".TXT")),
                  expected(serial));
    }
}

TEST(CliUpdate, PortArgumentsAreDecimalAndReachAboveCom16) {
    Bench bench;
    auto unit = bench.unit(12, "unit12");
    // A leading zero is decimal, never octal: 012 is COM12, not COM10.
    for (const std::string given : {"012", "12", "COM12", "com12"}) {
        const auto [status, out] = bench.run("info --json --port " + given);
        EXPECT_EQ(status, 0) << given << out;
        const auto json = nlohmann::json::parse(out);
        EXPECT_EQ(json["port"], "COM12") << given;
        EXPECT_EQ(json["compatible"], true);
        EXPECT_EQ(schemaProblems(out), "");
    }
    for (const std::string given : {"0x0c", "+3", "COM", "COM0", "257", "1e1"}) {
        const auto [status, out] = bench.run("update --yes --json --port " + given);
        EXPECT_EQ(status, 64) << given;
        const auto json = nlohmann::json::parse(out);
        EXPECT_EQ(json["error"], "usage") << given;
        EXPECT_NE(json["message"].get<std::string>().find("not a port number"), std::string::npos);
        EXPECT_EQ(schemaProblems(out), "");
    }
    // The technician's language: Portuguese from the system or --lang, the JSON English.
    const std::string pt = "LANG=pt_BR.UTF-8 LC_ALL= LC_MESSAGES= ";
    EXPECT_NE(bench.run("update --yes --port 9", std::nullopt, pt)
                  .second.find("COM9: esta porta não existe neste computador"),
              std::string::npos);
    EXPECT_NE(bench.run("--lang en update --yes --port 9", std::nullopt, pt)
                  .second.find("COM9: there is no such port on this computer"),
              std::string::npos);
    EXPECT_NE(bench.run("update --lang pt_BR --yes --port 9").second.find("O que fazer: "),
              std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(bench.run("update --yes --json --port 9", std::nullopt, pt)
                                        .second)["units"][0]["explanation"],
              "there is no such port on this computer, or it would not open");

    // 010 is COM10 (not COM8), which this bench does not have: a failure, named.
    const auto [status, out] = bench.run("update --yes --json --port 010");
    EXPECT_EQ(status, 1);
    const auto json = nlohmann::json::parse(out);
    EXPECT_EQ(json["units"][0]["port"], "COM10");
    EXPECT_EQ(json["units"][0]["outcome"], "missing");
    EXPECT_EQ(json["units"][0]["port_error"]["cause"], "missing");
    EXPECT_EQ(unit->stop(SIGTERM), 0);
    EXPECT_EQ(fileText(bench.state / "unit12.txt").find("ERASE"), std::string::npos);
}

TEST(CliUpdate, EveryNamedPortAccountedFor) {
    Bench bench;
    // COM3 refuses the first data block, COM4 is held by another program, COM5
    // leads nowhere, COM6 answers the handshake but never the identity read.
    const auto& commands = embeddedUpdate().commands;
    const auto firstData = std::find_if(commands.begin(), commands.end(), [](const std::string& c) {
        return c.rfind("DATA ", 0) == 0;
    });
    const int k = static_cast<int>(firstData - commands.begin()) + 1;
    auto refusing = bench.unit(3, "unit3", {"--nak-at", std::to_string(k)});
    HeldTerminal held;
    bench.point(4, held.path);
    bench.point(5, (bench.state / "unplugged").string());
    auto incompatible = bench.unit(6, "unit6", {"--incompatible"});
    const auto [status, out] = bench.run("update --yes --json --port 3 --port COM4 --port 5 "
                                         "--port com6");
    EXPECT_EQ(refusing->stop(SIGTERM), 0);
    EXPECT_EQ(incompatible->stop(SIGTERM), 0);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(schemaProblems(out), "");
    const auto units = nlohmann::json::parse(out)["units"];
    ASSERT_EQ(units.size(), 4u) << out;
    EXPECT_EQ(units[0]["outcome"], "failed");
    EXPECT_EQ(units[0]["failed_exchange"], k);
    EXPECT_EQ(units[1]["outcome"], "held");
    EXPECT_EQ(units[1]["port_error"]["cause"], "held");
    EXPECT_EQ(units[1]["port_error"]["code"], EWOULDBLOCK);
    EXPECT_EQ(units[2]["outcome"], "missing");
    EXPECT_EQ(units[2]["port_error"]["code"], ENOENT);
    EXPECT_EQ(units[2]["port_error"]["text"], std::strerror(ENOENT));
    EXPECT_EQ(units[3]["outcome"], "incompatible");
    EXPECT_EQ(units[3]["reason"], "no complement within 5 s");
    EXPECT_EQ(units[3]["failed_command"], "READ t0 2000");
    EXPECT_NE(units[3]["next_step"].get<std::string>().find("F2"), std::string::npos);
    std::uint8_t seen[16];
    EXPECT_EQ(read(held.master, seen, sizeof seen), -1); // the held port heard nothing
    // Each of the incompatible unit's eleven tries was shown as it failed.
    const std::string progress = bench.progress();
    EXPECT_NE(progress.find("COM6: try 1 of 11"), std::string::npos) << progress;
    EXPECT_NE(progress.find("COM6: try 11 of 11"), std::string::npos) << progress;
}

TEST(CliUpdate, PortThisUserMayNotOpen) {
    Bench bench;
    auto unit = bench.unit(7, "unit7");
    // As root, the run drops to nobody, who may not open root's terminals.
    std::string prefix;
    if (geteuid() == 0)
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    else
        fs::permissions(fs::read_symlink(bench.state / "kronex" / "dosdevices" / "com7"),
                        fs::perms::none);
    const auto [status, out] = bench.run("update --yes --json --port 7", std::nullopt, prefix);
    EXPECT_EQ(unit->stop(SIGTERM), 0);
    EXPECT_EQ(status, 1) << out;
    const auto u = nlohmann::json::parse(out)["units"][0];
    EXPECT_EQ(u["outcome"], "denied");
    EXPECT_EQ(u["port_error"]["code"], EACCES);
    EXPECT_NE(u["next_step"].get<std::string>().find("usermod -aG"), std::string::npos);
    EXPECT_EQ(fileText(bench.state / "unit7.txt"), "");
}

TEST(CliUpdate, NothingSentWhenTheRunCannotBeRight) {
    Bench bench;
    auto unit = bench.unit(3, "unit3");
    const fs::path file = bench.state / "a-file";
    std::ofstream(file) << "x";
    // The diagnostic folder is a file; a missing --dump-dir value; no terminal
    // to confirm on and no --yes.
    // An empty --dump-dir or --log; a --log that is a folder, with why.
    for (const std::string& args : std::vector<std::string>{
             "update --port 3 --yes --json --dump-dir " + file.string(),
             "update --port 3 --json --dump-dir -y", "update --json --all",
             "update --port 3 --yes --json --dump-dir ''",
             "update --port 3 --yes --json --log=", "info --port 3 --json --log ''",
             "verify --port 3 --json --log " + bench.state.string()}) {
        const auto [status, out] = bench.run(args);
        EXPECT_EQ(status, 64) << args;
        EXPECT_EQ(nlohmann::json::parse(out)["error"], "usage") << args;
        EXPECT_EQ(schemaProblems(out), "");
        if (args.find("--log " + bench.state.string()) != std::string::npos) {
            EXPECT_NE(out.find("cannot be written: it is a folder"), std::string::npos) << out;
        }
    }
    EXPECT_EQ(unit->stop(SIGTERM), 0);
    EXPECT_EQ(fileText(bench.state / "unit3.txt"), "");
}

TEST(CliUpdate, AsksAfterTheSurveyAndADeclineWritesNothing) {
    Bench bench;
    auto unit = bench.unit(3, "declined");
    // An unclear answer is asked once more; "não" in capitals declines.
    const auto [status, out] = bench.run("update --port 3 --json", std::string("talvez\nNÃO\n"));
    EXPECT_EQ(unit->stop(SIGTERM), 0);
    EXPECT_EQ(status, 3) << out;
    EXPECT_NE(bench.progress().find("Please answer y or yes (s, sim)"), std::string::npos);
    const auto json = nlohmann::json::parse(out);
    EXPECT_EQ(schemaProblems(out), "");
    EXPECT_EQ(json["confirmed"], false);
    EXPECT_EQ(json["units"][0]["outcome"], "answered");
    // The question named the unit, what it holds and what would be written.
    const std::string question = bench.progress();
    EXPECT_NE(question.find("COM3  unit 290A1BC2, release recorded 233"), std::string::npos)
        << question;
    EXPECT_NE(question.find("Release " + std::to_string(json["release"]["number"].get<int>())),
              std::string::npos);
    EXPECT_EQ(commandsIn(bench.state / "declined.txt"), (std::vector<std::string>{"READ t0 2000"}));

    // In Portuguese the decline is the technician's, never read as the unit's refusal.
    auto again = bench.unit(3, "declinedPt");
    const auto [ptStatus, pt] = bench.run("update --port 3 --lang pt_BR", std::string("n\n"));
    EXPECT_EQ(again->stop(SIGTERM), 0);
    EXPECT_EQ(ptStatus, 3) << pt;
    EXPECT_NE(pt.find("Nada foi gravado: você não confirmou a atualização."), std::string::npos)
        << pt;

    // Ctrl-C at the question ends it at once: interrupted, not declined or failed.
    auto cut = bench.unit(3, "cut");
    OnTerminal asked(bench, "update --port 3 --json");
    ASSERT_TRUE(asked.shows("Type y and Enter"));
    kill(asked.pid, SIGINT);
    EXPECT_EQ(asked.end(std::chrono::seconds(5)), 130);
    EXPECT_EQ(cut->stop(SIGTERM), 0);
    const auto cutJson = nlohmann::json::parse(asked.out());
    EXPECT_EQ(schemaProblems(asked.out()), "");
    EXPECT_EQ(cutJson["confirmed"], false);
    EXPECT_EQ(cutJson["units"][0]["outcome"], "interrupted");
    EXPECT_EQ(cutJson["summary"]["interrupted"], 1);
    EXPECT_EQ(cutJson["summary"]["failed"], 0);
    EXPECT_EQ(asked.screen.find('['), std::string::npos) << asked.screen; // no bar
    EXPECT_EQ(commandsIn(bench.state / "cut.txt"), (std::vector<std::string>{"READ t0 2000"}));

    // Confirmed, the session goes on with the same link: the window's bytes. On
    // a narrow terminal each bar fits its line, and says how the unit ended.
    auto confirmed = bench.unit(3, "confirmed");
    OnTerminal narrow(bench, "update --port 3 --lang en", 45);
    ASSERT_TRUE(narrow.shows("Type y and Enter"));
    ASSERT_EQ(write(narrow.master, " Sim \n", 6), 6);
    EXPECT_EQ(narrow.end(std::chrono::seconds(60)), 0) << narrow.out();
    EXPECT_EQ(confirmed->stop(SIGTERM), 0);
    EXPECT_EQ(commandsIn(bench.state / "confirmed.txt"), embeddedUpdate().commands);
    const std::string& screen = narrow.screen;
    EXPECT_NE(screen.find("COM3  [#"), std::string::npos) << screen;
    EXPECT_NE(screen.find("] 100%"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" kB  updated"), std::string::npos) << screen;
    for (auto at = screen.find("\rCOM3"); at != std::string::npos;
         at = screen.find("\rCOM3", at + 1))
        EXPECT_LT(screen.find("\x1b[K", at) - at - 1, 45u) << screen.substr(at, 80);
}

TEST(CliUpdate, AllKeepsHeldPortsInItsRecord) {
    Bench bench;
    HeldTerminal held;
    bench.point(2, held.path);
    auto unit = bench.unit(3, "unit3");
    const auto [status, out] = bench.run("update --all --yes --json --skip-current");
    EXPECT_EQ(unit->stop(SIGTERM), 0);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(schemaProblems(out), "");
    const auto json = nlohmann::json::parse(out);
    ASSERT_EQ(json["units"].size(), 2u) << out;
    EXPECT_EQ(json["units"][0]["port"], "COM2");
    EXPECT_EQ(json["units"][0]["outcome"], "held");
    EXPECT_EQ(json["units"][1]["outcome"], "updated");
    EXPECT_EQ(json["summary"]["updated"], 1);
    EXPECT_EQ(json["summary"]["failed"], 0);
    EXPECT_EQ(json["summary"]["bytes_sent"], json["units"][1]["bytes_sent"]);
}

// Runs kronex-update in the background; stop() ends it as Ctrl-C would.
struct Background {
    Bench& bench;
    std::pair<int, std::string> result;
    std::thread thread;
    Background(Bench& b, const std::string& args) : bench(b) {
        const std::string prefix = "echo $$ >" + (bench.state / "pid").string() + "; exec ";
        thread =
            std::thread([this, args, prefix] { result = bench.run(args, std::nullopt, prefix); });
    }
    std::pair<int, std::string> stop() {
        kill(std::stoi(fileText(bench.state / "pid")), SIGTERM);
        return join();
    }
    std::pair<int, std::string> join() {
        thread.join();
        return result;
    }
};

// Polls until the unit's transcript shows a whole update (or a minute passed).
bool updated(const fs::path& transcript) {
    for (int i = 0; i < 600; ++i) {
        if (commandsIn(transcript) == embeddedUpdate().commands)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST(CliUpdate, LoopTakesUnitsOneAfterAnother) {
    Bench bench;
    Background loop(bench, "update --loop --yes --json --port 3 --dump-dir " +
                               (bench.state / "dumps").string());
    for (int n = 1; n <= 3; ++n) {
        auto unit = bench.unit(3, "unit" + std::to_string(n));
        EXPECT_TRUE(updated(bench.state / ("unit" + std::to_string(n) + ".txt"))) << n;
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // its record written
        EXPECT_EQ(unit->stop(SIGTERM), 0);
        // Switched off: the loop sees the port go quiet before the next unit comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    const auto [status, out] = loop.stop();
    EXPECT_EQ(status, 0) << out << bench.progress();
    EXPECT_EQ(schemaProblems(out), "");
    std::istringstream lines(out);
    int records = 0;
    for (std::string line; std::getline(lines, line); ++records)
        EXPECT_EQ(nlohmann::json::parse(line)["units"][0]["outcome"], "updated") << line;
    EXPECT_EQ(records, 3);

    // In text: the unit's progress, a failed unit waited for until switched
    // off and on, and one closing summary.
    Background text(bench, "update --loop --yes --port 3 --lang en --dump-dir " +
                               (bench.state / "dumps").string());
    {
        // Refused halfway through its session, whatever the release.
        auto refusing = bench.unit(
            3, "refusing", {"--nak-at", std::to_string(embeddedUpdate().commands.size() / 2)});
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        EXPECT_EQ(refusing->stop(SIGTERM), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    auto good = bench.unit(3, "good");
    EXPECT_TRUE(updated(bench.state / "good.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto [textStatus, textOut] = text.stop();
    EXPECT_EQ(good->stop(SIGTERM), 0);
    EXPECT_EQ(textStatus, 1) << textOut;
    EXPECT_NE(textOut.find("[1] COM3 (290A1BC2): the unit refused"), std::string::npos) << textOut;
    EXPECT_NE(textOut.find("What to do: switch the unit off and on again in update mode"),
              std::string::npos)
        << textOut;
    EXPECT_EQ(textOut.find("run the update again"), std::string::npos) << textOut;
    EXPECT_NE(textOut.find("[2] COM3 (290A1BC2): updated in "), std::string::npos) << textOut;
    EXPECT_EQ(timesIn(textOut, " updated, "), 1u) << textOut; // one summary
    EXPECT_NE(textOut.find("1 updated, 1 failed; "), std::string::npos) << textOut;
    // The updated unit's progress once, not again while its port goes quiet.
    const std::string progress = bench.progress();
    EXPECT_EQ(timesIn(progress, "COM3: 100% ("), 1u) << progress;
    // Each unit's last line says how it ended.
    EXPECT_TRUE(std::regex_search(progress, std::regex(R"(\(\d+ of \d+ exchanges\), failed)")))
        << progress;
    EXPECT_TRUE(std::regex_search(progress, std::regex(R"(\((\d+) of \1 exchanges\), updated)")))
        << progress;
}

TEST(CliUpdate, WaitsForAUnitAndQuietPrintsTheSummaryAlone) {
    Bench bench;
    Background waiting(bench, "update --wait --yes --quiet --port 3");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // nothing there yet
    auto unit = bench.unit(3, "late");
    const auto [status, out] = waiting.join();
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.rfind("1 updated, 0 failed; ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(bench.progress(), "");
    // The other commands' one closing line; `ports` kept off this machine's own ports.
    for (int n = 4; n <= 16; ++n)
        bench.point(n, (bench.state / "none").string());
    for (const auto& [args, line] : std::vector<std::pair<std::string, std::string>>{
             {"ports -q", "1 unit in update mode: COM3\n"},
             {"info -q --port 3", "COM3 (290A1BC2): already has release "},
             {"verify --quiet --port 3", "COM3 (290A1BC2): verified: all "}}) {
        const auto [quietStatus, quietOut] = bench.run(args + " --lang en");
        EXPECT_EQ(quietStatus, 0) << args;
        EXPECT_EQ(quietOut.rfind(line, 0), 0u) << args << ": " << quietOut;
        EXPECT_EQ(std::count(quietOut.begin(), quietOut.end(), '\n'), 1) << quietOut;
        EXPECT_EQ(bench.progress(), "") << args;
    }
    EXPECT_EQ(unit->stop(SIGTERM), 0);

    // The run's total counts the time the unit was being updated, not the wait.
    Background json(bench, "update --wait --yes --json --port 3");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    auto later = bench.unit(3, "later");
    const auto [jstatus, jout] = json.join();
    EXPECT_EQ(later->stop(SIGTERM), 0);
    EXPECT_EQ(jstatus, 0) << jout;
    const auto j = nlohmann::json::parse(jout);
    EXPECT_EQ(j["summary"]["seconds"], j["units"][0]["seconds"]) << jout;

    const auto [vstatus, version] = bench.run("--version --json");
    EXPECT_EQ(vstatus, 0);
    EXPECT_EQ(schemaProblems(version), "");
    EXPECT_EQ(nlohmann::json::parse(version)["release"]["number"],
              std::get<LoadedCatalog>(loadCatalog(embeddedRelease())).releaseNumber);
}

TEST(CliUpdate, VerifyPassesAfterAnUpdateAndNamesAPlantedDifference) {
    Bench bench;
    const auto& commands = embeddedUpdate().commands;
    const int n = static_cast<int>(commands.size());
    // The unit keeps one byte of the last target-1 write inverted, as a failing cell would.
    const auto last = std::find_if(commands.rbegin(), commands.rend(), [](const std::string& c) {
        return c.rfind("WRITE t1 ", 0) == 0;
    });
    const int corrupt = static_cast<int>(commands.rend() - last);
    // A unit that holds another release is told apart from a faulty one.
    auto other = bench.unit(3, "other");
    const auto [otherStatus, otherOut] = bench.run("verify --port 3 --json");
    EXPECT_EQ(otherStatus, 1);
    EXPECT_EQ(schemaProblems(otherOut), "");
    const auto otherJson = nlohmann::json::parse(otherOut);
    EXPECT_EQ(otherJson["outcome"], "other_release") << otherOut;
    EXPECT_EQ(otherJson["release_recorded"], 233);
    EXPECT_NE(otherJson["next_step"].get<std::string>().find("update it to this release"),
              std::string::npos);
    EXPECT_NE(bench.run("verify --port 3 --lang en")
                  .second.find("COM3 (290A1BC2): the unit holds release 233, not the one"),
              std::string::npos);
    EXPECT_EQ(other->stop(SIGTERM), 0);

    auto unit = bench.unit(3, "unit3", {"--corrupt-at", std::to_string(corrupt)});
    EXPECT_EQ(bench.run("update --port 3 --yes").first, 0);
    const auto [status, out] = bench.run("verify --port 3 --json");
    EXPECT_EQ(status, 1) << out;
    EXPECT_EQ(schemaProblems(out), "");
    const auto json = nlohmann::json::parse(out);
    EXPECT_EQ(json["outcome"], "differs");
    ASSERT_EQ(json["faults"].size(), 1u) << out;
    EXPECT_EQ("WRITE " + json["faults"][0]["block"].get<std::string>(), *last);
    EXPECT_EQ(json["faults"][0]["first_byte"], 0);
    EXPECT_EQ(unit->stop(SIGTERM), 0);
    const auto heard = commandsIn(bench.state / "unit3.txt");
    // verify only ever reads.
    EXPECT_TRUE(std::all_of(heard.begin() + n, heard.end(),
                            [](const std::string& c) { return c.rfind("READ ", 0) == 0; }));

    // A clean unit verifies; one that refuses a read is never called verified.
    auto clean = bench.unit(3, "clean", {"--nak-at", std::to_string(n + 3)});
    EXPECT_EQ(bench.run("update --port 3 --yes").first, 0);
    const auto [bad, refused] = bench.run("verify --port 3 --json");
    EXPECT_EQ(bad, 1) << refused;
    const auto r = nlohmann::json::parse(refused);
    EXPECT_EQ(r["outcome"], "unreadable");
    EXPECT_EQ(r["faults"][0]["read"], false);
    EXPECT_EQ(r["faults"][0]["why"], "refused with status 0x55");
    const auto [good, verified] = bench.run("verify --port 3 --json");
    EXPECT_EQ(good, 0) << verified;
    EXPECT_EQ(nlohmann::json::parse(verified)["outcome"], "verified");
    // It holds this release now: --skip-current leaves it as it is.
    const auto [skip, skipped] = bench.run("update --port 3 --yes --json --skip-current");
    EXPECT_EQ(skip, 0) << skipped;
    EXPECT_EQ(nlohmann::json::parse(skipped)["units"][0]["outcome"], "skipped");
    EXPECT_EQ(schemaProblems(skipped), "");
    EXPECT_EQ(clean->stop(SIGTERM), 0);
    const auto heardClean = commandsIn(bench.state / "clean.txt");
    EXPECT_EQ(std::count_if(heardClean.begin(), heardClean.end(),
                            [](const std::string& c) { return c.rfind("ERASE", 0) == 0; }),
              std::count_if(commands.begin(), commands.end(),
                            [](const std::string& c) { return c.rfind("ERASE", 0) == 0; }));
}

// Closing the terminal (SIGHUP) and a service manager's stop (SIGTERM) end an
// update as Ctrl-C does: the session stops, the report says so, exit 130.
TEST(CliUpdate, HangUpAndTerminateStopLikeCtrlC) {
    Bench bench;
    const auto& expected = embeddedUpdate().commands;
    for (const int signal : {SIGINT, SIGHUP, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        const std::string name = "unit" + std::to_string(signal);
        auto unit = bench.unit(3, name);
        const fs::path out = bench.state / (name + ".json");
        const pid_t cli = fork();
        if (cli == 0) {
            const std::string command = std::string("exec ") + KRONEX_UPDATE +
                                        " update --port 3 --yes --json >" + out.string() +
                                        " 2>/dev/null";
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(cli, 0);
        // A tenth of the way in: the session is running.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (commandsIn(bench.state / (name + ".txt")).size() < expected.size() / 10 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(cli, signal);
        int status = 0;
        ASSERT_EQ(waitpid(cli, &status, 0), cli);
        EXPECT_EQ(unit->stop(SIGTERM), 0);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 130);
        const auto json = nlohmann::json::parse(fileText(out));
        ASSERT_EQ(json["units"].size(), 1u);
        EXPECT_EQ(json["units"][0]["outcome"], "interrupted");
        const auto sent = commandsIn(bench.state / (name + ".txt"));
        EXPECT_LT(sent.size(), expected.size());
        EXPECT_TRUE(std::equal(sent.begin(), sent.end(), expected.begin()));
    }
}

// An update cut in its final run leaves the unit's record: the report and
// `info` call the update incomplete, never the release installed. A unit
// whose identity was erased takes its blocks back from the record, by
// `restore` or by the update itself; a unit no record fits is reported as
// identity lost, with nothing erased; a record is never put into another unit.
TEST(CliUpdate, ACutUpdateIsReportedIncompleteAndItsRecordPutsTheUnitBack) {
    Bench bench;
    const auto& commands = embeddedUpdate().commands;
    const auto last = std::find(commands.rbegin(), commands.rend(), "RUN t1");
    ASSERT_NE(last, commands.rend());
    const int finalRun = static_cast<int>(commands.rend() - last); // its exchange
    auto cut = bench.unit(3, "cut", {"--silent-from", std::to_string(finalRun)});
    const auto [status, out] = bench.run("update --port 3 --yes --json");
    ASSERT_EQ(cut->stop(SIGTERM), 0);
    EXPECT_EQ(status, 1) << out;
    const auto unit = nlohmann::json::parse(out)["units"][0];
    EXPECT_EQ(unit["outcome"], "failed");
    EXPECT_TRUE(unit["release_after"].is_null()) << out;
    EXPECT_EQ(unit["incomplete"]["stopped_at"], "final run") << out;
    const auto records = [&] {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(bench.state / "kronex"))
            if (e.path().extension() == ".record")
                found.push_back(e.path());
        return found;
    };
    ASSERT_EQ(records().size(), 1u);
    const std::string record = records()[0].string();

    auto again = bench.unit(3, "again");
    const auto [infoStatus, info] = bench.run("info --port 3 --json");
    ASSERT_EQ(again->stop(SIGTERM), 0);
    const auto j = nlohmann::json::parse(info);
    EXPECT_EQ(j["verdict"].get<std::string>().rfind("update incomplete: stopped at final run", 0),
              0u)
        << info;
    EXPECT_EQ(j["incomplete"]["stopped_at"], "final run");

    // Another unit, its identity erased: its own top block does not fit the record.
    auto lost = bench.unit(3, "lost", {"--serial", "29000001", "--erased-identity"});
    const auto [lostStatus, lostOut] = bench.run("update --port 3 --yes --json");
    ASSERT_EQ(lost->stop(SIGTERM), 0);
    EXPECT_EQ(lostStatus, 1) << lostOut;
    const auto lostUnit = nlohmann::json::parse(lostOut)["units"][0];
    EXPECT_EQ(lostUnit["outcome"], "identity_lost");
    // A blank identity holds no serial number or release: unknown, not 29FFFFFF and 255.
    EXPECT_TRUE(lostUnit["serial_number"].is_null()) << lostOut;
    EXPECT_TRUE(lostUnit["release_before"].is_null()) << lostOut;
    EXPECT_NE(lostUnit["reason"].get<std::string>().find("nothing was erased"), std::string::npos);
    // Decided from the check's reads, before anything is erased.
    EXPECT_EQ(commandsIn(bench.state / "lost.txt"),
              (std::vector<std::string>{"READ t0 2000", "READ t0 FF80"}));

    // Another unit, intact or blank with its own top block: the record is not
    // its own, and nothing that changes it is sent.
    for (const std::string options : {"--serial 29000001", "--serial 29000001 --erased-identity"}) {
        std::vector<std::string> args;
        for (std::size_t at = 0; at < options.size();) {
            const auto end = std::min(options.find(' ', at), options.size());
            args.push_back(options.substr(at, end - at));
            at = end + 1;
        }
        auto other = bench.unit(3, "other", args);
        const auto [refused, refusal] = bench.run("restore --record " + record + " --port 3 --yes");
        ASSERT_EQ(other->stop(SIGTERM), 0);
        EXPECT_EQ(refused, 1) << refusal;
        EXPECT_NE(refusal.find("not 290A1BC2"), std::string::npos) << refusal;
        for (const auto& c : commandsIn(bench.state / "other.txt"))
            EXPECT_EQ(c.rfind("READ t0 ", 0), 0u) << c;
    }

    auto erased = bench.unit(3, "erased", {"--erased-identity"});
    // Ctrl-C at restore's question: nothing written, said as interrupted.
    OnTerminal asked(bench, "restore --record " + record + " --port 3 --json");
    ASSERT_TRUE(asked.shows("Type y and Enter"));
    kill(asked.pid, SIGINT);
    EXPECT_EQ(asked.end(std::chrono::seconds(5)), 130);
    EXPECT_EQ(nlohmann::json::parse(asked.out())["units"][0]["outcome"], "interrupted");
    const auto [restored, done] =
        bench.run("restore --record " + record + " --port 3 --yes --json");
    ASSERT_EQ(erased->stop(SIGTERM), 0);
    EXPECT_EQ(restored, 0) << done;
    const auto restoredUnit = nlohmann::json::parse(done)["units"][0];
    EXPECT_EQ(restoredUnit["outcome"], "restored");
    EXPECT_EQ(restoredUnit["serial_number"], "290A1BC2");
    // Everything sent: the look's handshake and two reads, then the restore's
    // own, each block read, erased and written (an attention byte and a frame
    // each, 4 bytes but for a write's 133).
    EXPECT_EQ(restoredUnit["exchanges_done"], 2 + 2 + 6) << done;
    EXPECT_EQ(restoredUnit["bytes_sent"], 2 * (1 + 2 * 5) + 4 * 5 + 2 * (1 + 133)) << done;
    // The unit's blocks as they were, kept first.
    ASSERT_TRUE(restoredUnit["kept_before"].is_string()) << done;
    EXPECT_NE(fileText(restoredUnit["kept_before"].get<std::string>()).find("serial: 29FFFFFF"),
              std::string::npos);
    const auto sent = commandsIn(bench.state / "erased.txt");
    const std::vector<std::string> tail = {"READ t0 FF80", "ERASE t0 FF80", "WRITE t0 FF80",
                                           "READ t0 2000", "ERASE t0 2000", "WRITE t0 2000"};
    ASSERT_GE(sent.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), sent.end() - 6));

    // The update itself finishes from the record, then drops it.
    auto rerun = bench.unit(3, "rerun", {"--erased-identity"});
    const auto [updated, rerunOut] = bench.run("update --port 3 --yes");
    ASSERT_EQ(rerun->stop(SIGTERM), 0);
    EXPECT_EQ(updated, 0) << rerunOut;
    EXPECT_EQ(rerunOut.rfind("COM3 (290A1BC2): updated in ", 0), 0u) << rerunOut;
    auto withTopFirst = commands; // the blank identity's top block read first
    withTopFirst.insert(withTopFirst.begin() + 1, "READ t0 FF80");
    EXPECT_EQ(commandsIn(bench.state / "rerun.txt"), withTopFirst);
    EXPECT_EQ(fileText(bench.state / "kronex" / "drive_c" / "TEXTO2.TXT"),
              dumpText(embeddedUpdate().identity) + "\r\n");
    EXPECT_TRUE(records().empty());
}

// A record is input from outside: one that is not a unit record as this
// program writes it is refused with the rule it breaks, exit 64 and one JSON
// document, before any port is opened; never a hang, a crash or an abort.
TEST(CliUpdate, RestoreRefusesWhatIsNotAUnitRecord) {
    Bench bench;
    const fs::path fifo = bench.state / "unit-fifo.record";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path huge = bench.state / "unit-huge.record";
    fs::resize_file((std::ofstream(huge), huge), 3u << 20);
    std::ofstream(bench.state / "port.record") << "KRONEX unit record 1\nserial: 29000000\n";
    struct Case {
        std::string record, reason;
    };
    for (const Case& c :
         {Case{"/dev/zero", "not a regular file"}, Case{bench.state.string(), "not a regular file"},
          Case{fifo.string(), "not a regular file"}, Case{huge.string(), "larger than"},
          Case{(bench.state / "port.record").string(), "lines are not the record's keys"},
          Case{(bench.state / "none.record").string(), "cannot be read"}}) {
        SCOPED_TRACE(c.record);
        const auto [status, out] =
            bench.run("restore --record " + c.record + " --port 3 --yes --json --lang en");
        EXPECT_EQ(status, 64) << out;
        const auto json = nlohmann::json::parse(out);
        EXPECT_EQ(json["error"], "usage");
        EXPECT_NE(json["message"].get<std::string>().find(c.reason), std::string::npos) << out;
        EXPECT_EQ(schemaProblems(out), "");
    }
    // A path with control characters comes back with them shown, not acting.
    const auto [status, out] =
        bench.run("restore --record \"$(printf '/no\\033[2J')\" --yes --lang en");
    EXPECT_EQ(status, 64);
    EXPECT_NE(bench.progress().find("/no\\x1B[2J: not a unit record"), std::string::npos)
        << bench.progress();
}

// Standard output and error closed half-way (`| head`): the run stops as on
// a hang-up, at a point where no block is left erased, and ends by itself.
TEST(CliUpdate, AClosedOutputStopsTheRunLikeAHangUp) {
    Bench bench;
    const auto& expected = embeddedUpdate().commands;
    // At the line's rate, so that even the smallest release is still being
    // written when the output closes (its restart pause alone is a second).
    auto unit = bench.unit(3, "unit", {"--baud", "166667"});
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t cli = fork();
    if (cli == 0) {
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        execl(KRONEX_UPDATE, KRONEX_UPDATE, "update", "--port", "3", "--yes", "--lang", "en",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    // The first progress line, then the reader goes away.
    FILE* in = fdopen(pipeEnds[0], "r");
    char line[512];
    ASSERT_NE(fgets(line, sizeof line, in), nullptr);
    fclose(in);
    int status = 0;
    ASSERT_EQ(waitpid(cli, &status, 0), cli);
    EXPECT_EQ(unit->stop(SIGTERM), 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const auto sent = commandsIn(bench.state / "unit.txt");
    EXPECT_LT(sent.size(), expected.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), expected.begin()));
    ASSERT_FALSE(sent.empty());
    EXPECT_NE(sent.back().rfind("ERASE", 0), 0u) << sent.back();
}

// --log lines that cannot be written are said at the end with the file and
// the error, and a run that went well then exits 74, not 0.
TEST(CliUpdate, ALogThatLosesLinesIsReported) {
    Bench bench;
    auto unit = bench.unit(3, "unit");
    const auto [status, out] = bench.run("info --port 3 --log /dev/full --lang en");
    EXPECT_EQ(status, 74) << out;
    EXPECT_NE(bench.progress().find("--log /dev/full: lines could not be written (No space left "
                                    "on device)"),
              std::string::npos)
        << bench.progress();
    // A whole update: said once as it happens, before the units' results.
    const auto [updateStatus, updated] =
        bench.run("update --port 3 --yes --log /dev/full --lang en");
    EXPECT_EQ(unit->stop(SIGTERM), 0);
    EXPECT_EQ(updateStatus, 74) << updated;
    const std::string progress = bench.progress();
    const std::string early = "--log /dev/full: lines can no longer be written (No space left on "
                              "device); the run goes on";
    const auto at = progress.find(early);
    EXPECT_LT(at, progress.find("COM3: 100%")) << progress;
    EXPECT_EQ(progress.find(early, at + 1), std::string::npos) << progress;
}

// A fault of the program's own ends it with one line and one JSON document,
// exit 70, never an abort: here a --dump-dir text that is not UTF-8 cannot
// go into the usage document.
TEST(CliUpdate, AFaultOfItsOwnEndsWithOneDocumentAndStatus70) {
    Bench bench;
    std::ofstream(bench.state / "file") << "x";
    const auto [status, out] =
        bench.run("update --port 3 --yes --json --dump-dir " + (bench.state / "file").string() +
                  "/\"$(printf '\\377')\"");
    EXPECT_EQ(status, 70) << out;
    const auto json = nlohmann::json::parse(out);
    EXPECT_EQ(json["error"], "internal");
    EXPECT_EQ(json["command"], "update");
    EXPECT_EQ(schemaProblems(out), "");
    EXPECT_NE(bench.progress().find("kronex-update: internal error"), std::string::npos);
}

// Every exit status docs/CLI.md and --help document, each from a run that
// earns it. A loop ended by Ctrl-C keeps its units' status
// (LoopTakesUnitsOneAfterAnother); a cut update gives 130
// (HangUpAndTerminateStopLikeCtrlC).
TEST(CliUpdate, EveryDocumentedExitStatus) {
    Bench bench;
    // A port that opens and where nothing answers.
    int master = -1, slave = -1;
    char silent[256] = {};
    ASSERT_EQ(openpty(&master, &slave, silent, nullptr, nullptr), 0);
    std::ofstream(bench.state / "file") << "x";
    struct Case {
        std::string args;
        const char* unit; // devsim options on COM3; null: COM3 is the silent port
        int status;
        std::optional<std::string> typed = std::nullopt;
    };
    const std::string file = (bench.state / "file").string();
    const std::vector<Case> cases = {
        {"update --port 3 --yes", "", 0},
        {"info --port 3", "", 0},
        {"verify --port 3", "", 1}, // it holds another release
        {"update --port 3 --yes", "--nak-at 3", 1},
        {"update --port 3 --yes", "--incompatible", 1},
        {"update --port 3 --yes", nullptr, 1},
        {"info --port 3", nullptr, 1},
        {"update --port 9 --yes", "", 1},
        {"update --yes", nullptr, 2},
        {"info", nullptr, 2},
        {"update --port 3", "", 3, std::string("n\n")},
        {"update --port 3", "", 64},
        {"update --port 0x0c --yes", "", 64},
        {"restore --record " + file + " --yes", "", 64},
        {"update --port 3 --yes --json --dump-dir " + file + "/\"$(printf '\\377')\"", "", 70},
        {"info --port 3 --log /dev/full", "", 74},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args + (c.unit ? std::string(" / unit ") + c.unit : " / silent port"));
        std::unique_ptr<DevsimProcess> unit;
        if (c.unit) {
            std::vector<std::string> options;
            std::istringstream words(c.unit);
            for (std::string w; words >> w;)
                options.push_back(w);
            unit = bench.unit(3, "unit", options);
        } else {
            bench.point(3, silent);
        }
        const auto [status, out] = bench.run(c.args + " --lang en", c.typed);
        if (unit) {
            EXPECT_EQ(unit->stop(SIGTERM), 0);
        }
        EXPECT_EQ(status, c.status) << out << bench.progress();
    }
    close(slave);
    close(master);
}
