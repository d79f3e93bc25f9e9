// A port another program holds is passed over, its traffic untouched, and a
// second copy of the updater never reaches a unit the first one holds.
#include "detection.h"
#include "devsim_process.h"
#include "embedded_release.h"
#include "fake_window.h"
#include "recording_comm.h"
#include "start_button.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

using namespace kronex;
using kronex::devsim::test::DevsimProcess;
namespace fs = std::filesystem;

namespace {

struct HeldPort : ::testing::Test {
    fs::path state;
    fs::path devices;

    void SetUp() override {
        state = fs::temp_directory_path() /
                ("kronex-held-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(state);
        devices = state / "kronex" / "dosdevices";
        fs::create_directories(devices);
        // Only the ports a case sets up exist.
        for (int n = 1; n <= 16; ++n)
            fs::create_symlink(state / "nothing", devices / ("com" + std::to_string(n)));
        setenv("XDG_STATE_HOME", state.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(state); }

    void point(int n, const std::string& target) {
        const auto link = devices / ("com" + std::to_string(n));
        fs::remove(link);
        fs::create_symlink(target, link);
    }
};

std::string fileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST_F(HeldPort, ScanPassesOverAPortAnotherProgramHolds) {
    // Another program's terminal, opened and locked the way a serial program does.
    int master = -1, slave = -1;
    char path[256];
    ASSERT_EQ(openpty(&master, &slave, path, nullptr, nullptr), 0);
    fcntl(master, F_SETFL, O_NONBLOCK);
    const int other = open(path, O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    point(2, path);

    DevsimProcess unit({"--com", "4", "--print-path"}, state.string());
    ASSERT_FALSE(unit.readLine(std::chrono::seconds(5)).empty());

    auto loaded = loadCatalog(embeddedRelease());
    auto& catalog = std::get<LoadedCatalog>(loaded);
    SerialLink link(systemCommApi());
    test::FakeWindow window;
    window.maximum = catalog.progressMax;
    Workflow workflow{window, link, embeddedRelease(), catalog, state / "TEXTO2.TXT", {}};
    sbATUClick(window, workflow);

    EXPECT_EQ(window.shown, (std::vector<MessageCode>{MSG_INICIAR, MSG_CONCLUIDO}));
    std::uint8_t seen[16];
    EXPECT_EQ(read(master, seen, sizeof seen), -1); // not one byte reached the held port
    EXPECT_EQ(errno, EAGAIN);
    close(other);
    close(master);
    close(slave);
    EXPECT_EQ(unit.stop(SIGTERM), 0);
}

TEST_F(HeldPort, ASecondCopyNeverWritesToTheSameUnit) {
    const auto transcript = state / "transcript.txt";
    DevsimProcess unit({"--com", "3", "--print-path", "--transcript", transcript.string()},
                       state.string());
    ASSERT_FALSE(unit.readLine(std::chrono::seconds(5)).empty());

    // The first copy has found the unit and holds its port.
    SerialPort first(systemCommApi());
    ASSERT_TRUE(first.ABRE_PORTA(3));
    ASSERT_TRUE(isValidHandle(first.handle()));

    auto loaded = loadCatalog(embeddedRelease());
    auto& catalog = std::get<LoadedCatalog>(loaded);
    test::RecordingComm comm(systemCommApi());
    SerialLink second(comm);
    test::FakeWindow window;
    Workflow workflow{window, second, embeddedRelease(), catalog, state / "TEXTO2.TXT", {}};
    sbATUClick(window, workflow);

    EXPECT_EQ(window.shown, (std::vector<MessageCode>{MSG_INICIAR, MSG_PORTA}));
    EXPECT_EQ(comm.opened.size(), 16u);
    first.FECHA_PORTA();
    EXPECT_EQ(unit.stop(SIGTERM), 0);
    EXPECT_EQ(fileText(transcript), ""); // the unit heard nothing from the second copy
}
