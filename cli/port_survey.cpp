#include "port_survey.h"

#include "detection.h"

#include <future>

#ifndef _WIN32
#include "dos_devices.h"

#include <filesystem>
#endif

namespace kronex::cli {

namespace {

void resolve(PortState& p) {
#ifdef _WIN32
    p.device = "\\\\.\\COM" + std::to_string(p.port);
#else
    const std::filesystem::path link = posix::comLinkPath(p.port);
    std::error_code ec;
    if (std::filesystem::is_symlink(link, ec)) {
        p.via = link.string();
        p.device = std::filesystem::read_symlink(link, ec).string();
    } else {
        p.device = *posix::resolveDeviceName("COM" + std::to_string(p.port));
    }
#endif
}

} // namespace

std::vector<PortState> surveyPorts() {
    std::vector<PortState> ports;
    std::vector<std::future<Probe>> probes;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        PortState& p = ports.emplace_back();
        p.port = n;
        resolve(p);
        probes.push_back(std::async(std::launch::async, probePort, n));
    }
    for (std::size_t i = 0; i < ports.size(); ++i)
        ports[i].state = probes[i].get();
    return ports;
}

} // namespace kronex::cli
