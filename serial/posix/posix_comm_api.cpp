// CommApi on Linux: kernel32's serial calls as the link uses them, over
// termios devices and this layer's own handles. Every transfer is done
// within the ReadFile/WriteFile call and has completed when the call
// returns, so an OVERLAPPED is never left pending.
#include "comm_api.h"
#include "dcb_termios.h"
#include "dos_devices.h"
#include "handle_table.h"
#include "monotonic_clock.h"
#include "timed_transfer.h"
#include "win32_errors.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>

namespace kronex {

namespace {

using posix::setLastError;

// The NTSTATUS values an OVERLAPPED's Internal holds after a serial transfer.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusTimeout = 0x102;

// A line that hung up (an adapter pulled out, a pseudo-terminal whose other
// end closed) fails each transfer at once, as ReadFile and WriteFile on a
// removed device do: "a device attached to the system is not functioning".
constexpr DWORD kLineGone = ERROR_GEN_FAILURE;

constexpr DWORD kPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

BOOL fail(DWORD error) {
    setLastError(error);
    return FALSE;
}

// What a freshly opened Windows port reports for the fields a termios line
// does not hold: DTR and RTS raised (Linux raises both at open too).
DCB freshPortDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = 1;
    dcb.fDtrControl = 1; // DTR_CONTROL_ENABLE
    dcb.fRtsControl = posix::kRtsControlEnable;
    return dcb;
}

class PosixCommApi final : public CommApi {
  public:
    // Access, share mode and flags are not looked at: a port is always opened
    // for reading and writing, exclusively, and serves overlapped and plain
    // transfers alike.
    HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD,
                       HANDLE) override {
        if (!name || creation != OPEN_EXISTING) {
            setLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        const auto path = posix::resolveDeviceName(name);
        DWORD error = ERROR_FILE_NOT_FOUND;
        auto device = path ? posix::openPortDevice(*path, error) : nullptr;
        if (!device) {
            setLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        auto port = std::make_shared<posix::Port>(std::move(device));
        port->kept = freshPortDcb();
        return handles_.add(std::move(port));
    }

    BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) override {
        const auto port = handles_.port(file);
        if (!port)
            return fail(ERROR_INVALID_HANDLE);
        port->inQueue = inQueue;
        port->outQueue = outQueue;
        return TRUE;
    }

    BOOL GetCommState(HANDLE file, LPDCB dcb) override {
        const auto port = handles_.port(file);
        if (!port)
            return fail(ERROR_INVALID_HANDLE);
        posix::LineTermios line;
        if (!dcb)
            return fail(ERROR_INVALID_PARAMETER);
        if (!posix::readLineTermios(port->device->fd(), line))
            return fail(posix::errorFromErrno(errno));
        *dcb = port->kept;
        posix::termiosToDcb(line, *dcb);
        return TRUE;
    }

    // All settings go to the device in one call; when the device refuses it,
    // or reports back less than was asked, the line is left as it was.
    BOOL SetCommState(HANDLE file, LPDCB dcb) override {
        const auto port = handles_.port(file);
        if (!port)
            return fail(ERROR_INVALID_HANDLE);
        const int fd = port->device->fd();
        posix::LineTermios old;
        if (!dcb)
            return fail(ERROR_INVALID_PARAMETER);
        if (!posix::readLineTermios(fd, old))
            return fail(posix::errorFromErrno(errno));
        posix::LineTermios asked = old;
        if (!posix::dcbToTermios(*dcb, asked))
            return fail(ERROR_INVALID_PARAMETER);
        if (!posix::writeLineTermios(fd, asked))
            return fail(posix::errorFromErrno(errno));
        posix::LineTermios got;
        if (!posix::readLineTermios(fd, got) || !posix::lineTook(asked, got)) {
            posix::writeLineTermios(fd, old);
            return fail(ERROR_INVALID_PARAMETER);
        }
        port->kept = *dcb;
        return TRUE;
    }

    BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) override {
        const auto port = handles_.port(file);
        if (!port)
            return fail(ERROR_INVALID_HANDLE);
        if (!timeouts || !posix::timeoutsValid(*timeouts))
            return fail(ERROR_INVALID_PARAMETER);
        port->timeouts = *timeouts;
        return TRUE;
    }

    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                   LPOVERLAPPED overlapped) override {
        const auto start = startTransfer(file, data, count, written, overlapped);
        if (!start.port)
            return FALSE;
        auto limits = posix::writeLimits(start.port->timeouts, count);
        if (start.port->kept.BaudRate != 0)
            limits.byteTime =
                std::chrono::nanoseconds(10'000'000'000LL / start.port->kept.BaudRate);
        bool lost = false;
        const std::size_t sent =
            count == 0
                ? 0
                : posix::writeWithin(start.port->device->fd(),
                                     static_cast<const std::uint8_t*>(data), count, limits, &lost);
        if (lost && sent == 0)
            return fail(kLineGone);
        finishTransfer(start, sent, count, written, overlapped);
        return TRUE;
    }

    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                  LPOVERLAPPED overlapped) override {
        const auto start = startTransfer(file, buffer, count, read, overlapped);
        if (!start.port)
            return FALSE;
        bool lost = false;
        const std::size_t got =
            count == 0
                ? 0
                : posix::readWithin(start.port->device->fd(), static_cast<std::uint8_t*>(buffer),
                                    count, posix::readLimits(start.port->timeouts, count), &lost);
        if (lost && got == 0)
            return fail(kLineGone);
        finishTransfer(start, got, count, read, overlapped);
        return TRUE;
    }

    // Named events would be shared with other processes; this layer has none.
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override {
        if (name) {
            setLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return handles_.add(std::make_shared<posix::Event>(manualReset, initialState));
    }

    DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override {
        const auto event = handles_.event(object);
        if (!event) {
            setLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (event->take())
            return WAIT_OBJECT_0;
        // Nothing here runs in the background to signal it later, so an
        // endless wait would hang for ever: refuse it at once instead.
        if (milliseconds == INFINITE) {
            setLastError(posix::kErrorPossibleDeadlock);
            return WAIT_FAILED;
        }
        posix::sleepFor(std::chrono::milliseconds(milliseconds));
        return WAIT_TIMEOUT;
    }

    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL) override {
        if (!handles_.port(file))
            return fail(ERROR_INVALID_HANDLE);
        if (!overlapped || !transferred)
            return fail(ERROR_INVALID_PARAMETER);
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
        return TRUE;
    }

    DWORD GetLastError() override { return posix::lastError(); }

    // Nothing to cancel: every transfer has completed by the time its call
    // returns, which Windows answers with ERROR_NOT_FOUND.
    BOOL CancelIoEx(HANDLE file, LPOVERLAPPED) override {
        if (!handles_.port(file))
            return fail(ERROR_INVALID_HANDLE);
        return fail(ERROR_NOT_FOUND);
    }

    // A termios line never aborts its transfers after a line error, so there
    // is no error state to clear; the queues' fill levels are reported.
    BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) override {
        const auto port = handles_.port(file);
        if (!port)
            return fail(ERROR_INVALID_HANDLE);
        if (errors)
            *errors = 0;
        if (status) {
            *status = COMSTAT{};
            int queued = 0;
            if (ioctl(port->device->fd(), FIONREAD, &queued) == 0 && queued > 0)
                status->cbInQue = static_cast<DWORD>(queued);
            queued = 0;
            if (ioctl(port->device->fd(), TIOCOUTQ, &queued) == 0 && queued > 0)
                status->cbOutQue = static_cast<DWORD>(queued);
        }
        return TRUE;
    }

    // The abort flags have nothing to do: no transfer is ever pending.
    BOOL PurgeComm(HANDLE file, DWORD flags) override {
        const auto port = handles_.port(file);
        if (!port)
            return fail(ERROR_INVALID_HANDLE);
        if (flags & ~kPurgeFlags)
            return fail(ERROR_INVALID_PARAMETER);
        const bool input = flags & PURGE_RXCLEAR;
        const bool output = flags & PURGE_TXCLEAR;
        if (!input && !output)
            return TRUE;
        const int queues = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
        if (tcflush(port->device->fd(), queues) != 0)
            return fail(posix::errorFromErrno(errno));
        return TRUE;
    }

    BOOL CloseHandle(HANDLE object) override {
        return handles_.close(object) ? TRUE : fail(ERROR_INVALID_HANDLE);
    }

    DWORD GetTickCount() override { return posix::tickCount(); }

    void Sleep(DWORD milliseconds) override {
        posix::sleepFor(std::chrono::milliseconds(milliseconds));
    }

  private:
    struct Transfer {
        std::shared_ptr<posix::Port> port; // null: the transfer could not start
        std::shared_ptr<posix::Event> event;
    };

    // Checks what the transfer needs and resets the OVERLAPPED's event (an
    // OVERLAPPED without one is allowed, as on Windows).
    Transfer startTransfer(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done,
                           LPOVERLAPPED overlapped) {
        if (done)
            *done = 0;
        Transfer transfer{handles_.port(file), nullptr};
        if (!transfer.port) {
            setLastError(ERROR_INVALID_HANDLE);
            return {};
        }
        if (count != 0 && !buffer) {
            setLastError(ERROR_INVALID_PARAMETER);
            return {};
        }
        if (overlapped && overlapped->hEvent) {
            transfer.event = handles_.event(overlapped->hEvent);
            if (!transfer.event) {
                setLastError(ERROR_INVALID_HANDLE);
                return {};
            }
            transfer.event->reset();
        }
        return transfer;
    }

    // A short transfer, ended by a time-out or by the line hanging up after
    // some bytes moved, completes as a Windows serial time-out does:
    // successfully, with fewer bytes.
    static void finishTransfer(const Transfer& transfer, std::size_t moved, DWORD count,
                               LPDWORD done, LPOVERLAPPED overlapped) {
        if (overlapped) {
            overlapped->Internal = moved == count ? kStatusSuccess : kStatusTimeout;
            overlapped->InternalHigh = moved;
        }
        if (done)
            *done = static_cast<DWORD>(moved);
        if (transfer.event)
            transfer.event->set();
    }

    posix::HandleTable handles_;
};

} // namespace

CommApi& systemCommApi() {
    static PosixCommApi api;
    return api;
}

} // namespace kronex
