#include "exchange_trace.h"

#include "device_commands.h"
#include "handshake.h"
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

// The frame's command and address as a stop report names them.
std::string commandOf(const std::vector<std::uint8_t>& f) {
    const auto fields = decodeFrame(f.data(), f.size());
    if (!fields)
        return "frame cut short";
    SessionStop s;
    s.exchange = 1;
    s.command = fields->code();
    s.address = fields->address;
    s.half = fields->half;
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
    endExchange();
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
    endExchange();
    if (byte == kHandshake)
        return; // the handshake itself is not an exchange
    ++exchanges_;
    frame_.clear();
    attention_ = byte;
    state_ = State::Complement;
}

void ExchangeTrace::came(std::uint8_t byte) {
    switch (state_) {
    case State::Complement:
        // Other bytes before the complement are line noise, skipped as the link skips them.
        if (byte == (attention_ ^ 0xFF))
            state_ = State::Frame;
        break;
    case State::Length:
        replyLength_ = byte;
        replyCame_ = 1;
        if (byte <= 1) { // no room for a status byte
            write("reply of length " + std::to_string(byte));
            break;
        }
        state_ = State::Reply;
        break;
    case State::Reply:
        if (replyCame_ == 1)
            status_ = byte;
        if (++replyCame_ >= replyLength_)
            endExchange();
        break;
    default:
        break;
    }
}

void ExchangeTrace::endExchange() {
    char text[80];
    switch (state_) {
    case State::Idle:
        return;
    case State::Complement:
        write("no complement");
        break;
    case State::Frame:
        write("frame not sent whole");
        break;
    case State::Length:
        write("no reply");
        break;
    case State::Reply:
        if (replyCame_ < 2)
            std::snprintf(text, sizeof text, "reply cut short (%u of %u bytes)", replyCame_,
                          replyLength_);
        else if (replyCame_ < replyLength_)
            std::snprintf(text, sizeof text, "status %02X, reply cut short (%u of %u bytes)",
                          status_, replyCame_, replyLength_);
        else
            std::snprintf(text, sizeof text, "status %02X", status_);
        write(text);
        break;
    }
    state_ = State::Idle;
}

void ExchangeTrace::write(const std::string& how) {
    const std::string command = state_ == State::Complement ? "" : commandOf(frame_) + " ";
    log_.write(port_, "exchange " + std::to_string(exchanges_) + ": " + command + how);
    state_ = State::Idle;
}

} // namespace kronex::cli
