// What `ports` learns of the adapter behind a COM port, from a sysfs tree
// laid out as Linux lays it out.
#include "port_survey.h"
#include "report.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#ifndef _WIN32 // Windows tells it through SetupAPI, not a tree of files
#include <unistd.h>

namespace fs = std::filesystem;
using kronex::cli::PortState;

TEST(PortSurvey, TellsAUsbAdapterItsDriverAndItsLatencyTimer) {
    const fs::path sys = fs::temp_directory_path() / ("kronex-sys-" + std::to_string(getpid()));
    fs::remove_all(sys);
    // An FTDI adapter, a CDC modem and a port on the board.
    const fs::path usb = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
    const struct {
        const char* tty;
        fs::path device;
        const char* driver;
    } ttys[] = {{"ttyUSB0", usb / "ttyUSB0", "bus/usb-serial/drivers/ftdi_sio"},
                {"ttyACM0", usb, "bus/usb/drivers/cdc_acm"},
                {"ttyS0", sys / "devices/pnp0/00:01", "bus/pnp/drivers/serial"}};
    for (const auto& t : ttys) {
        fs::create_directories(t.device);
        fs::create_directories(sys / t.driver);
        fs::create_directories(sys / "class/tty" / t.tty);
        fs::create_directory_symlink(t.device, sys / "class/tty" / t.tty / "device");
        if (!fs::exists(t.device / "driver"))
            fs::create_directory_symlink(sys / t.driver, t.device / "driver");
    }
    std::ofstream(usb / "ttyUSB0/latency_timer") << "16\n";

    const struct {
        const char* device;
        bool usb;
        const char* driver;
        std::optional<int> latency;
    } cases[] = {{"/dev/ttyUSB0", true, "ftdi_sio", 16},
                 {"/dev/ttyACM0", true, "cdc_acm", std::nullopt},
                 {"/dev/ttyS0", false, "serial", std::nullopt},
                 {"/dev/pts/7", false, "", std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        PortState p;
        p.port = 3;
        p.device = c.device;
        kronex::cli::adapterFacts(p, sys);
        EXPECT_EQ(p.usb, c.usb);
        EXPECT_EQ(p.driver, c.driver);
        EXPECT_EQ(p.latencyMs, c.latency);
        const auto json = kronex::cli::portsJson({p})["ports"][0];
        EXPECT_EQ(json["usb"], c.usb);
        EXPECT_EQ(json["latency_ms"].is_null(), !c.latency);
        std::ostringstream text;
        kronex::cli::printPorts(text, {p});
        EXPECT_EQ(text.str().find("latency timer 16 ms") != std::string::npos, c.latency == 16)
            << text.str();
    }
    fs::remove_all(sys);
}
#endif
