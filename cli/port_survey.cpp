#include "port_survey.h"

#include "detection.h"

#include <algorithm>
#include <fstream>
#include <future>

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on
#else
#include "dos_devices.h"
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

#ifdef _WIN32
// The devices of the "Ports (COM & LPT)" class.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string registryText(HKEY key, const char* name) {
    char text[256] = {};
    DWORD size = sizeof text - 1, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return text;
}

// Each COM port the system lists: whether its device hangs off USB (its
// instance path starts with USB\ or, for FTDI's driver, FTDIBUS\), its
// driver's service, and the FTDI driver's LatencyTimer among the device's
// parameters.
void adapterFactsOfAll(std::vector<PortState>& ports) {
    HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const std::string name = registryText(key, "PortName");
        DWORD latency = 0, size = sizeof latency, type = 0;
        const bool hasLatency =
            RegQueryValueExA(key, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD;
        RegCloseKey(key);
        const auto it = std::find_if(ports.begin(), ports.end(), [&](const PortState& p) {
            return _stricmp(name.c_str(), ("COM" + std::to_string(p.port)).c_str()) == 0;
        });
        if (it == ports.end())
            continue;
        char text[512] = {};
        if (SetupDiGetDeviceInstanceIdA(set, &device, text, sizeof text - 1, nullptr)) {
            it->usb = _strnicmp(text, "USB\\", 4) == 0 || _strnicmp(text, "FTDIBUS\\", 8) == 0;
        }
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr,
                                              reinterpret_cast<BYTE*>(text), sizeof text - 1,
                                              nullptr))
            it->driver = text;
        if (hasLatency)
            it->latencyMs = static_cast<int>(latency);
    }
    SetupDiDestroyDeviceInfoList(set);
}
#endif

} // namespace

void adapterFacts(PortState& p, const std::filesystem::path& sys) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // The tty's own name: ttyUSB0 behind /dev/ttyUSB0 or a link to it.
    const fs::path real = fs::weakly_canonical(p.device, ec);
    if (ec || real.filename().empty())
        return;
    const fs::path tty = sys / "class" / "tty" / real.filename();
    const fs::path device = fs::canonical(tty / "device", ec);
    if (ec)
        return; // not a tty with hardware behind it (a pseudo-terminal)
    const std::string where = device.generic_string();
    p.usb = where.find("/usb") != std::string::npos;
    const fs::path driver = fs::canonical(device / "driver", ec);
    if (!ec)
        p.driver = driver.filename().string();
    std::ifstream latency(device / "latency_timer");
    if (int ms = 0; latency >> ms)
        p.latencyMs = ms;
}

std::vector<PortState> surveyPorts() {
    std::vector<PortState> ports;
    std::vector<std::future<Probe>> probes;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        PortState& p = ports.emplace_back();
        p.port = n;
        resolve(p);
#ifndef _WIN32
        adapterFacts(p);
#endif
        probes.push_back(std::async(std::launch::async, probePort, n));
    }
#ifdef _WIN32
    adapterFactsOfAll(ports);
#endif
    for (std::size_t i = 0; i < ports.size(); ++i)
        ports[i].state = probes[i].get();
    return ports;
}

} // namespace kronex::cli
