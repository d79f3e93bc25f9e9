// The per-user device namespace that maps Windows device names to files:
// ${XDG_STATE_HOME:-$HOME/.local/state}/kronex/dosdevices/comN -> a tty.
#pragma once

#include <optional>
#include <string>

namespace kronex::posix {

// ${XDG_STATE_HOME:-$HOME/.local/state}/kronex: the user's own folder for
// this program's files (not created here).
std::string kronexStateDir();

// The namespace folder (not created here).
std::string dosDevicesDir();

// The link that stands for COMn ("com3" for COM3; no leading zeros).
std::string comLinkPath(int n);

// The root of drive C: the namespace entry "c:" if it exists (a link to any
// folder), otherwise ${XDG_STATE_HOME:-$HOME/.local/state}/kronex/drive_c
// (not created here).
std::string driveCRoot();

// What a "\\.\COMn" or "COMn" name opens: the namespace link if it exists
// (even when it dangles, so that the open fails), otherwise /dev/ttyS{n-1}.
// Anything else is opened as the path it names. nullopt for a malformed COM name.
std::optional<std::string> resolveDeviceName(const std::string& name);

} // namespace kronex::posix
