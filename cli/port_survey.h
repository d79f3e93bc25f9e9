// `kronex-update ports`: COM1 to COM16 as the program resolves them, whether
// each opens, and whether a unit in update mode answers the handshake there.
#pragma once

#include "unit_run.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kronex::cli {

struct PortState {
    int port = 0;
    std::string device; // what COMn opens
    std::string via;    // Linux: the namespace link, when there is one
    Probe state = Probe::Missing;
    // What the system tells of the adapter behind the port, where it tells.
    bool usb = false;             // a USB serial adapter
    std::string driver;           // its driver, when known
    std::optional<int> latencyMs; // its latency timer, when the driver has one
};

// Linux: whether the tty device at `device` is a USB serial adapter, its
// driver and its latency timer, from sysfs under `sys` (/sys/class/tty/NAME).
void adapterFacts(PortState& p, const std::filesystem::path& sys = "/sys");

// Probes every port at the same time, each on its own link.
std::vector<PortState> surveyPorts();

} // namespace kronex::cli
