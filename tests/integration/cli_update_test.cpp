// kronex-update as the repair bench runs it, against kronex-devsim on
// pseudo-terminals: the same commands as the window, and several units at
// once where one refuses a data block.
#include "detection.h"
#include "devsim_process.h"
#include "dump_file.h"
#include "embedded_release.h"
#include "expected_update.h"
#include "fake_window.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kronex;
using kronex::devsim::test::DevsimProcess;
namespace fs = std::filesystem;

namespace {

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
    std::pair<int, std::string> run(const std::string& args) {
        const std::string command =
            std::string(KRONEX_UPDATE) + " " + args + " 2>" + (state / "progress.txt").string();
        FILE* out = popen(command.c_str(), "r");
        std::string text;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;)
            text.append(buffer, n);
        const int status = pclose(out);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
    }
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
    sbATUClick(workflow);
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

TEST(CliUpdate, FourUnitsAtOnceOneRefusingADataBlock) {
    Bench bench;
    // The unit on COM5 refuses the first data block, whatever release is embedded.
    const auto& commands = embeddedUpdate().commands;
    const auto firstData = std::find_if(commands.begin(), commands.end(), [](const std::string& c) {
        return c.rfind("DATA ", 0) == 0;
    });
    ASSERT_NE(firstData, commands.end());
    const int k = static_cast<int>(firstData - commands.begin()) + 1;
    const std::string block = firstData->substr(5); // "0000+00"
    std::vector<std::unique_ptr<DevsimProcess>> units;
    for (int com = 3; com <= 6; ++com)
        units.push_back(bench.unit(com, "unit" + std::to_string(com),
                                   com == 5
                                       ? std::vector<std::string>{"--nak-at", std::to_string(k)}
                                       : std::vector<std::string>{}));
    const auto [status, out] = bench.run("update --port 3 --port 4 --port 5 --port 6 --yes --json "
                                         "--dump-dir " +
                                         (bench.state / "dumps").string());
    for (auto& u : units)
        EXPECT_EQ(u->stop(SIGTERM), 0);
    EXPECT_EQ(status, 1) << out;
    const auto json = nlohmann::json::parse(out);
    ASSERT_EQ(json["units"].size(), 4u) << out;
    const auto expected = dumpText(embeddedUpdate().identity) + "\r\n";
    for (const auto& u : json["units"]) {
        const std::string port = u["port"];
        if (port == "COM5") {
            EXPECT_EQ(u["outcome"], "failed");
            EXPECT_EQ(u["failed_step"], "data part section 1");
            EXPECT_EQ(u["failed_command"], "DATA block " + block);
            EXPECT_EQ(u["failed_exchange"], k);
            EXPECT_EQ(u["reason"], "refused with status 0x55");
            EXPECT_EQ(u["release_after"], 233); // the identity block is untouched
            EXPECT_EQ(commandsIn(bench.state / "unit5.txt").back(), *firstData + " [nak]");
            continue;
        }
        EXPECT_EQ(u["outcome"], "updated") << port;
        EXPECT_EQ(u["exchanges_done"], u["exchanges_total"]);
        EXPECT_EQ(u["serial_number"], "290A1BC2");
        EXPECT_EQ(commandsIn(bench.state / ("unit" + port.substr(3) + ".txt")), commands) << port;
        EXPECT_EQ(fileText(bench.state / "dumps" / ("TEXTO2-290A1BC2-" + port + ".TXT")), expected);
    }
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
    EXPECT_NE(lostUnit["reason"].get<std::string>().find("nothing was erased"), std::string::npos);
    EXPECT_EQ(commandsIn(bench.state / "lost.txt").back(), "READ t0 FF80");

    auto other = bench.unit(3, "other", {"--serial", "29000001"});
    const auto [refused, refusal] = bench.run("restore --record " + record + " --port 3 --yes");
    ASSERT_EQ(other->stop(SIGTERM), 0);
    EXPECT_EQ(refused, 1) << refusal;
    for (const auto& c : commandsIn(bench.state / "other.txt"))
        EXPECT_EQ(c, "READ t0 2000");

    auto erased = bench.unit(3, "erased", {"--erased-identity"});
    const auto [restored, done] =
        bench.run("restore --record " + record + " --port 3 --yes --json");
    ASSERT_EQ(erased->stop(SIGTERM), 0);
    EXPECT_EQ(restored, 0) << done;
    EXPECT_EQ(nlohmann::json::parse(done)["units"][0]["outcome"], "restored");
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
    EXPECT_EQ(commandsIn(bench.state / "rerun.txt"), commands);
    EXPECT_EQ(fileText(bench.state / "kronex" / "drive_c" / "TEXTO2.TXT"),
              dumpText(embeddedUpdate().identity) + "\r\n");
    EXPECT_TRUE(records().empty());
}
