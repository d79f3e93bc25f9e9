#include "serial_port.h"

#include <algorithm>
#include <string>

namespace kronex {

namespace {

constexpr DWORD kQueueSize = 256;

// A write may take 5 s per byte plus 5 s.
COMMTIMEOUTS linkTimeouts() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = kReadTimeoutPerByteMs;
    t.ReadTotalTimeoutMultiplier = kReadTimeoutPerByteMs;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutMultiplier = 5000;
    t.WriteTotalTimeoutConstant = 5000;
    return t;
}

} // namespace

void setLinkLine(DCB& dcb) {
    dcb.BaudRate = kLineBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    // Another program may have left any of these on the port; each can make
    // an update fail halfway.
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fAbortOnError = 0;
}

bool SerialPort::ABRE_PORTA(std::int32_t n) {
    if (open_) {
        FECHA_PORTA();
        return false;
    }
    const std::string name = "\\\\.\\COM" + std::to_string(n);
    handle_ = api_.CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    mayAbortOnError_ = false;
    if (isValidHandle(handle_))
        configure();
    open_ = true;
    return true;
}

// A port that refuses a setting keeps what it had; the open still counts.
void SerialPort::configure() {
    api_.SetupComm(handle_, kQueueSize, kQueueSize);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool read = api_.GetCommState(handle_, &dcb);
    const bool inheritedAbort = !read || dcb.fAbortOnError;
    setLinkLine(dcb);
    mayAbortOnError_ = !api_.SetCommState(handle_, &dcb) && inheritedAbort;
    COMMTIMEOUTS timeouts = linkTimeouts();
    api_.SetCommTimeouts(handle_, &timeouts);
}

void SerialPort::FECHA_PORTA() {
    if (!open_)
        return;
    api_.PurgeComm(handle_, PURGE_RXCLEAR);
    api_.PurgeComm(handle_, PURGE_TXCLEAR);
    if (isValidHandle(handle_))
        api_.CloseHandle(handle_);
    open_ = false;
}

bool SerialPort::ENVIA_DADOS(const std::uint8_t* data, std::int32_t count, std::int32_t& written) {
    written = 0;
    if (count < 0)
        return false;
    // WriteFile only reads the bytes, and transfer() returns once the
    // transfer has ended, so the caller's own array goes out as it is.
    written = transfer(true, const_cast<std::uint8_t*>(data), count);
    return written == count;
}

bool SerialPort::RECEBE_DADOS(std::int32_t count, std::uint8_t* buffer, std::int32_t& read) {
    read = 0;
    if (count < 0)
        return false;
    read = transfer(false, buffer, count);
    return read == count;
}

// One overlapped transfer, waited for; the count the driver reports.
std::int32_t SerialPort::transfer(bool send, void* buffer, std::int32_t count) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = api_.CreateEventA(nullptr, TRUE, TRUE, nullptr);
    // Without an event the completion could not be awaited, so nothing starts.
    failed_ = overlapped.hEvent == nullptr;
    if (failed_)
        return 0;

    DWORD immediate = 0;
    const BOOL started =
        send ? api_.WriteFile(handle_, buffer, static_cast<DWORD>(count), &immediate, &overlapped)
             : api_.ReadFile(handle_, buffer, static_cast<DWORD>(count), &immediate, &overlapped);
    const DWORD error = started ? ERROR_SUCCESS : api_.GetLastError();
    std::int32_t moved = 0;
    if (started || error == ERROR_IO_PENDING)
        moved = awaitCompletion(overlapped, count);
    else
        transferFailed(error); // the driver refused it, as it does for a removed device
    api_.CloseHandle(overlapped.hEvent);
    return moved;
}

// The driver owns the OVERLAPPED and the buffer until the transfer has
// completed, so this returns only once it has: a transfer whose end cannot
// be awaited is cancelled, and its cancellation awaited.
std::int32_t SerialPort::awaitCompletion(OVERLAPPED& overlapped, std::int32_t count) {
    // The time-outs end the transfer; the wait itself needs none.
    const bool signalled = api_.WaitForSingleObject(overlapped.hEvent, INFINITE) == WAIT_OBJECT_0;
    DWORD transferred = 0;
    BOOL done = signalled && api_.GetOverlappedResult(handle_, &overlapped, &transferred, FALSE);
    DWORD error = done ? ERROR_SUCCESS : signalled ? api_.GetLastError() : ERROR_IO_INCOMPLETE;
    bool cancelled = false;
    if (error == ERROR_IO_INCOMPLETE) {
        cancelled = true;
        api_.CancelIoEx(handle_, &overlapped);
        transferred = 0;
        done = api_.GetOverlappedResult(handle_, &overlapped, &transferred, TRUE);
        error = done ? ERROR_SUCCESS : api_.GetLastError();
    }
    if (done)
        return static_cast<std::int32_t>(std::min<DWORD>(transferred, static_cast<DWORD>(count)));
    // Windows completes a transfer that ends by time-out normally, short;
    // wine fails one that moved nothing with ERROR_TIMEOUT. Any other
    // completion error is the device failing the transfer, and it will fail
    // the next one.
    if (error != ERROR_TIMEOUT && !(cancelled && error == ERROR_OPERATION_ABORTED))
        transferFailed(error);
    return 0;
}

void SerialPort::transferFailed(DWORD error) {
    // Abort-on-error left on by another program: a line error fails every
    // transfer until it is cleared. Clearing it fails only on a gone device.
    if (error == ERROR_OPERATION_ABORTED && mayAbortOnError_) {
        DWORD errors = 0;
        failed_ = !api_.ClearCommError(handle_, &errors, nullptr);
        return;
    }
    failed_ = true;
}

} // namespace kronex
