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

bool SerialPort::ABRE_PORTA(std::int32_t n) {
    if (open_) {
        FECHA_PORTA();
        return false;
    }
    const std::string name = "\\\\.\\COM" + std::to_string(n);
    handle_ = api_.CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (isValidHandle(handle_)) {
        // A port that refuses a setting keeps what it had; the open still counts.
        api_.SetupComm(handle_, kQueueSize, kQueueSize);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        api_.GetCommState(handle_, &dcb);
        dcb.BaudRate = kLineBaudRate;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        api_.SetCommState(handle_, &dcb);
        COMMTIMEOUTS timeouts = linkTimeouts();
        api_.SetCommTimeouts(handle_, &timeouts);
    }
    open_ = true;
    return true;
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
    std::int32_t moved = 0;
    // Any other error: the driver refused the transfer, as it does for a
    // removed device, and will refuse the next one just as fast.
    failed_ = !started && api_.GetLastError() != ERROR_IO_PENDING;
    if (!failed_) {
        // The time-outs end the transfer; the wait itself needs none.
        if (api_.WaitForSingleObject(overlapped.hEvent, INFINITE) == WAIT_OBJECT_0) {
            DWORD transferred = 0;
            if (api_.GetOverlappedResult(handle_, &overlapped, &transferred, FALSE))
                moved = static_cast<std::int32_t>(
                    std::min<DWORD>(transferred, static_cast<DWORD>(count)));
        }
    }
    api_.CloseHandle(overlapped.hEvent);
    return moved;
}

} // namespace kronex
