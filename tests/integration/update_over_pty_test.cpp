// A whole update as the program runs it, on this platform's serial calls:
// COM1 a silent terminal, COM2 missing, kronex-devsim on COM3.
#include "detection.h"
#include "devsim_process.h"
#include "dump_file.h"
#include "embedded_release.h"
#include "expected_update.h"
#include "fake_window.h"
#include "recording_comm.h"
#include "start_button.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <pty.h>
#include <unistd.h>

using namespace kronex;
using kronex::devsim::test::DevsimProcess;
namespace fs = std::filesystem;

namespace {

std::string fileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(text.substr(start, nl - start));
    return out;
}

} // namespace

TEST(UpdateOverPty, WholeUpdateOfTheEmbeddedRelease) {
    const fs::path state = fs::temp_directory_path() / ("kronex-e2e-" + std::to_string(getpid()));
    fs::remove_all(state);
    const fs::path devices = state / "kronex" / "dosdevices";
    fs::create_directories(devices);
    fs::create_directories(state / "dump");
    setenv("XDG_STATE_HOME", state.c_str(), 1);

    // COM1: a terminal nobody answers on. COM2: a link to nothing.
    int master = -1, slave = -1;
    char silentPath[256];
    ASSERT_EQ(openpty(&master, &slave, silentPath, nullptr, nullptr), 0);
    fcntl(master, F_SETFL, O_NONBLOCK); // a failed run must not leave the check below waiting
    fs::create_symlink(silentPath, devices / "com1");
    fs::create_symlink(state / "no-such-port", devices / "com2");

    DevsimProcess unit({"--com", "3", "--print-path", "--dump", (state / "dump").string(),
                        "--transcript", (state / "transcript.txt").string()},
                       state.string());
    ASSERT_FALSE(unit.readLine(std::chrono::seconds(5)).empty());

    auto loaded = loadCatalog(embeddedRelease());
    auto& catalog = std::get<LoadedCatalog>(loaded);
    test::RecordingComm comm(systemCommApi());
    SerialLink link(comm);
    test::FakeWindow window;
    window.maximum = catalog.progressMax;
    Workflow workflow{window, link, embeddedRelease(), catalog, dumpFilePath(), {}};
    sbATUClick(window, workflow);

    EXPECT_EQ(window.shown, (std::vector<MessageCode>{MSG_INICIAR, MSG_CONCLUIDO}));
    EXPECT_EQ(window.position, catalog.progressMax);
    EXPECT_EQ(window.status, "Atualização concluída!");
    EXPECT_TRUE(window.terminationRequested);
    EXPECT_EQ(comm.opened, (std::vector<std::string>{"\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM3"}));
    std::uint8_t stray[64];
    EXPECT_EQ(read(master, stray, sizeof stray), 11); // eleven handshakes, all unanswered
    EXPECT_EQ(stray[0], 0xBC);

    ASSERT_EQ(unit.stop(SIGTERM), 0);
    // Whatever release the build embeds, the unit must hold exactly that one.
    const auto expected =
        test::expectedUpdate(test::ReleaseEntries::of(embeddedRelease()), devsim::DeviceModel());
    std::vector<std::string> commands;
    for (const auto& line : lines(fileText(state / "transcript.txt")))
        if (line.rfind("HANDSHAKE", 0) != 0)
            commands.push_back(line);
    EXPECT_EQ(commands, expected.commands);
    const auto target0 = fileText(state / "dump" / "target0.bin");
    const auto target1 = fileText(state / "dump" / "target1.bin");
    const auto data = fileText(state / "dump" / "data.bin");
    EXPECT_EQ(target0, std::string(expected.target0.begin(), expected.target0.end()));
    EXPECT_EQ(target1, std::string(expected.target1.begin(), expected.target1.end()));
    EXPECT_EQ(data, std::string(expected.data.begin(), expected.data.end()));
    // With no "c:" entry in the namespace, drive C: is kronex/drive_c.
    EXPECT_EQ(fileText(state / "kronex" / "drive_c" / "TEXTO2.TXT"),
              dumpText(expected.identity) + "\r\n");

    close(master);
    close(slave);
    fs::remove_all(state);
}
