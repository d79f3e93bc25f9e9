#include "dos_devices.h"

#include <cstdlib>
#include <sys/stat.h>

namespace kronex::posix {

namespace {

std::string stateHome() {
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/state";
}

// Port number of "COMn" (case-insensitive), 0 if the text is not one.
int comNumber(const std::string& name) {
    if (name.size() < 4)
        return 0;
    auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    if (lower(name[0]) != 'c' || lower(name[1]) != 'o' || lower(name[2]) != 'm')
        return 0;
    if (name[3] == '0' || name.size() > 6)
        return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

} // namespace

std::string kronexStateDir() {
    return stateHome() + "/kronex";
}

std::string dosDevicesDir() {
    return kronexStateDir() + "/dosdevices";
}

std::string driveCRoot() {
    const std::string entry = dosDevicesDir() + "/c:";
    struct stat st {};
    if (lstat(entry.c_str(), &st) == 0)
        return entry;
    return kronexStateDir() + "/drive_c";
}

std::string comLinkPath(int n) {
    return dosDevicesDir() + "/com" + std::to_string(n);
}

std::optional<std::string> resolveDeviceName(const std::string& name) {
    static const std::string kDevicePrefix = "\\\\.\\";
    std::string bare = name;
    if (bare.rfind(kDevicePrefix, 0) == 0)
        bare = bare.substr(kDevicePrefix.size());
    else if (!bare.empty() && bare[0] == '/')
        return bare;
    const int n = comNumber(bare);
    if (n <= 0)
        return std::nullopt;
    const std::string link = comLinkPath(n);
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0)
        return link;
    return "/dev/ttyS" + std::to_string(n - 1);
}

} // namespace kronex::posix
