// The thread's last error, as GetLastError reports it, and the Win32 codes
// that stand for the errno values this layer meets.
#pragma once

#include "win32_types.h"

namespace kronex::posix {

// Codes that win32_types.h does not declare, with their Windows values.
inline constexpr DWORD kErrorInvalidFunction = 1;
// What Windows answers for serial calls on a handle that is no serial port:
// a COM link to a regular file, folder, pipe or socket.
inline constexpr DWORD kErrorNotSerialPort = kErrorInvalidFunction;
inline constexpr DWORD kErrorPossibleDeadlock = 1131;

DWORD lastError();
void setLastError(DWORD error);

// The Win32 code for a failed system call's errno.
DWORD errorFromErrno(int err);

} // namespace kronex::posix
