// `kronex-update ports`: COM1 to COM16 as the program resolves them, whether
// each opens, and whether a unit in update mode answers the handshake there.
#pragma once

#include "unit_run.h"

#include <string>
#include <vector>

namespace kronex::cli {

struct PortState {
    int port = 0;
    std::string device; // what COMn opens
    std::string via;    // Linux: the namespace link, when there is one
    Probe state = Probe::Missing;
};

// Probes every port at the same time, each on its own link.
std::vector<PortState> surveyPorts();

} // namespace kronex::cli
