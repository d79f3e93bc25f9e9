#include "exchange_trace.h"

#include "device_commands.h"
#include "messages.h"
#include "report.h"
#include "session_stop.h"
#include "utc_now.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace kronex::cli {

namespace {

constexpr std::uint8_t kHandshake = 0xBC;

// The frame's command and address as a stop report names them.
std::string commandOf(const std::vector<std::uint8_t>& f) {
    if (f.size() < 4)
        return "frame cut short";
    SessionStop s;
    s.exchange = 1;
    s.command = f[1];
    const auto command = static_cast<std::uint8_t>(f[1] & ~kTarget1Bit);
    if (f[1] == kCmdWriteData && f.size() > 4) {
        s.address = static_cast<std::uint16_t>(f[2] << 8 | f[3]);
        s.half = f[4];
    } else if (command == kCmdWrite && f.size() > 4) {
        s.address = static_cast<std::uint16_t>(f[3] << 8 | f[4]);
    } else {
        s.address = static_cast<std::uint16_t>(f[2] << 8 | f[3]);
    }
    return commandText(s);
}

} // namespace

ExchangeLog::ExchangeLog(const std::string& path) : path_(path), out_(path, std::ios::app) {}

void ExchangeLog::write(const std::string& port, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!error_.empty())
        return;
    errno = 0;
    out_ << utcNow(true) << ' ' << port << ' ' << text << '\n' << std::flush;
    if (out_)
        return;
    error_ = errno != 0 ? std::strerror(errno) : "write failed";
    // Told while the technician can still act on it, not only at the end.
    std::cerr << "kronex-update: " +
                     fill(tr("--log {1}: lines can no longer be written ({2}); the run goes on "
                             "without its trace"),
                          {printable(path_), error_}) +
                     "\n"
              << std::flush;
}

std::string ExchangeLog::error() {
    std::lock_guard lock(mutex_);
    return error_;
}

HANDLE ExchangeTrace::CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                  HANDLE tmpl) {
    endExchange("ended without a reply");
    port_ = name ? name : "";
    if (port_.rfind("\\\\.\\", 0) == 0)
        port_ = port_.substr(4);
    exchanges_ = 0;
    return real().CreateFileA(name, access, share, security, creation, flags, tmpl);
}

BOOL ExchangeTrace::WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                              LPOVERLAPPED overlapped) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (DWORD i = 0; i < count; ++i)
        sent(bytes[i]);
    return real().WriteFile(file, data, count, written, overlapped);
}

BOOL ExchangeTrace::ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                             LPOVERLAPPED overlapped) {
    reading_ = static_cast<const std::uint8_t*>(buffer);
    return real().ReadFile(file, buffer, count, read, overlapped);
}

BOOL ExchangeTrace::GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                        BOOL wait) {
    const BOOL done = real().GetOverlappedResult(file, overlapped, transferred, wait);
    if (done && reading_ && transferred)
        for (DWORD i = 0; i < *transferred; ++i)
            came(reading_[i]);
    reading_ = nullptr;
    return done;
}

void ExchangeTrace::sent(std::uint8_t byte) {
    if (state_ == State::Frame) {
        frame_.push_back(byte);
        if (frame_.size() >= frame_.front())
            state_ = State::Length;
        return;
    }
    if (byte == kHandshake) {
        endExchange("no reply"); // the handshake itself is not an exchange
        return;
    }
    endExchange(state_ == State::Complement ? "no complement" : "no reply");
    ++exchanges_;
    frame_.clear();
    state_ = State::Complement;
}

void ExchangeTrace::came(std::uint8_t byte) {
    switch (state_) {
    case State::Complement:
        if (byte == 0x78)
            state_ = State::Frame;
        break;
    case State::Length:
        if (byte == 0)
            endExchange("reply of length 0");
        else
            state_ = State::Status;
        break;
    case State::Status: {
        char status[16];
        std::snprintf(status, sizeof status, "%02X", byte);
        endExchange(std::string("status ") + status);
        break;
    }
    default:
        break;
    }
}

void ExchangeTrace::endExchange(const std::string& how) {
    if (state_ == State::Idle)
        return;
    const std::string command = state_ == State::Complement ? "" : commandOf(frame_) + " ";
    log_.write(port_, "exchange " + std::to_string(exchanges_) + ": " + command + how);
    state_ = State::Idle;
}

} // namespace kronex::cli
