// Nothing left behind: descriptors after many opens and closes of a real
// terminal, memory and handles after many whole updates (the leak checker of
// the sanitizer build watches the second).
#include "comm_api.h"
#include "serial_port.h"
#include "workflow_rig.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

} // namespace

TEST(Resources, TenThousandOpensAndClosesLeaveNoDescriptor) {
    const fs::path state = fs::temp_directory_path() / ("kronex-fd-" + std::to_string(getpid()));
    fs::remove_all(state);
    fs::create_directories(state / "kronex" / "dosdevices");
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    int master = -1, slave = -1;
    char path[256];
    ASSERT_EQ(openpty(&master, &slave, path, nullptr, nullptr), 0);
    fs::create_symlink(path, state / "kronex" / "dosdevices" / "com5");
    fs::create_symlink(state / "nothing", state / "kronex" / "dosdevices" / "com6");

    kronex::SerialPort port(kronex::systemCommApi());
    const int before = openDescriptors();
    for (int i = 0; i < 10000; ++i) {
        port.ABRE_PORTA(i % 2 == 0 ? 5 : 6);
        if (i % 2 == 0) {
            ASSERT_TRUE(kronex::isValidHandle(port.handle())) << "open " << i;
        }
        const std::uint8_t probe = 0xBC;
        std::int32_t moved = 0;
        port.ENVIA_DADOS(&probe, 1, moved); // each transfer makes and closes its own event
        port.FECHA_PORTA();
    }
    EXPECT_EQ(openDescriptors(), before);
    close(master);
    close(slave);
    fs::remove_all(state);
}

TEST(Resources, TwoHundredWholeUpdatesInOneProcess) {
    const int before = openDescriptors();
    for (int run = 0; run < 200; ++run) {
        kronex::test::WorkflowRig rig;
        rig.unitOn(1);
        rig.click();
        ASSERT_EQ(rig.window.shown.back(), kronex::MSG_CONCLUIDO) << "run " << run;
        ASSERT_EQ(rig.comm.openHandles(), 0) << "run " << run;
    }
    EXPECT_EQ(openDescriptors(), before);
}
