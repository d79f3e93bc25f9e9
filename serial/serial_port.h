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

// The link's line, over whatever the last program left in `dcb`: 166667
// baud, 8 data bits, no parity, one stop bit, every byte passed as it is, no
// flow control holding either side, no line error stopping the transfers.
// DTR and RTS, the limits and the characters stay as they are.
void setLinkLine(DCB& dcb);

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

    // True when the driver failed the last transfer, at its start or at its
    // completion: the port is missing or its device has gone (an adapter
    // pulled out, a line that hung up). Nothing can come through such a
    // port, so there is no use waiting on it. A transfer that ended by a
    // time-out, or that this class cancelled itself, is no failure.
    bool failed() const { return failed_; }

    bool isOpen() const { return open_; }
    HANDLE handle() const { return handle_; }
    CommApi& api() { return api_; }

  private:
    void configure();
    std::int32_t transfer(bool send, void* buffer, std::int32_t count);
    std::int32_t awaitCompletion(OVERLAPPED& overlapped, std::int32_t count);
    void transferFailed(DWORD error);

    CommApi& api_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool open_ = false;
    bool failed_ = false;
    // The port refused the link's settings and may still abort every
    // transfer after a line error until the error is cleared.
    bool mayAbortOnError_ = false;
};

// Any negative handle value stands for a failed open.
inline bool isValidHandle(HANDLE h) {
    return reinterpret_cast<std::intptr_t>(h) >= 0;
}

} // namespace kronex
