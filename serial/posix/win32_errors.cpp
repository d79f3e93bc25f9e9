#include "win32_errors.h"

#include <cerrno>

namespace kronex::posix {

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
} // namespace

DWORD lastError() {
    return tLastError;
}

void setLastError(DWORD error) {
    tLastError = error;
}

DWORD errorFromErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOTTY:
        return kErrorInvalidFunction;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace kronex::posix
