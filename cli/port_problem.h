// Why a port could not be opened, in the system's own words: another program
// holds it, the user may not open it, or there is no such port.
#pragma once

#include "win32_types.h"

#include <optional>
#include <string>

namespace kronex::cli {

// NotSerial: COMn leads to a regular file, folder, pipe or socket.
enum class PortCause { Held, Denied, Missing, Failed, NotSerial };

struct PortProblem {
    PortCause cause = PortCause::Missing;
    long code = 0;     // the system's error number (errno on Linux, GetLastError on Windows)
    std::string text;  // the system's text for it
    std::string group; // Linux, denied: the group the device belongs to
    // NotSerial: where the port leads, and what is there ("a folder").
    std::string device, kind;
};

// The problem's text in the chosen language: this program's own words for a
// port that is not a serial port, the system's text otherwise.
std::string problemText(const PortProblem& problem);

// COMn could not be opened and the serial layer said `error` (a Win32
// code). On Linux the device itself is asked again for the system's errno,
// which tells a port that is held from one this user may not open.
PortProblem diagnosePort(int port, DWORD error);

// "held", "denied", "missing", "failed", "not_serial".
std::string causeName(PortCause cause);

} // namespace kronex::cli
