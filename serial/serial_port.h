// The link's one serial port: open with the fixed line settings and
// time-outs, move bytes out and in with a wait for completion, close.
#pragma once

#include "comm_api.h"

#include <cstdint>

namespace kronex {

// 3 MHz / 18: not one of the standard rates.
inline constexpr DWORD kLineBaudRate = 166667;
// A read ends this long per byte asked after it starts, or this long after
// the last byte that came: a one-byte read of a silent line takes 100 ms.
inline constexpr DWORD kReadTimeoutPerByteMs = 100;

class SerialPort {
  public:
    explicit SerialPort(CommApi& api) : api_(api) {}
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort() { FECHA_PORTA(); }

    // Opens COMn and marks the link open, answering true even when the port
    // could not be opened (every transfer on it then fails at once). Called
    // while a port is open, it closes that port, opens nothing and answers
    // false.
    bool ABRE_PORTA(std::int32_t n);
    // Purges and closes the port if one is marked open.
    void FECHA_PORTA();
    // Sends `count` bytes of `data`; true when all of them went out.
    bool ENVIA_DADOS(const std::uint8_t* data, std::int32_t count, std::int32_t& written);
    // Receives up to `count` bytes into `buffer`; true when all came. Bytes
    // that came are in the buffer either way; the rest is untouched.
    bool RECEBE_DADOS(std::int32_t count, std::uint8_t* buffer, std::int32_t& read);

    // True when the last transfer could not even start: the port is missing
    // or its device has gone (an adapter pulled out, a line that hung up).
    // Nothing can come through such a port, so there is no use waiting on it.
    bool failed() const { return failed_; }

    bool isOpen() const { return open_; }
    HANDLE handle() const { return handle_; }
    CommApi& api() { return api_; }

  private:
    std::int32_t transfer(bool send, void* buffer, std::int32_t count);

    CommApi& api_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool open_ = false;
    bool failed_ = false;
};

// Any negative handle value stands for a failed open.
inline bool isValidHandle(HANDLE h) {
    return reinterpret_cast<std::intptr_t>(h) >= 0;
}

} // namespace kronex
