// --log FILE: one line per exchange for support, read off the bytes as they
// pass: the time, the port, the exchange's number, its command and address,
// and the unit's reply status (or how the exchange ended without one).
#pragma once

#include "forwarding_comm.h"

#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace kronex::cli {

// The file every unit's trace writes to, a line at a time.
class ExchangeLog {
  public:
    explicit ExchangeLog(const std::string& path);
    bool isOpen() const { return out_.is_open(); }
    // The first line lost is said at once on standard error; the run goes on.
    void write(const std::string& port, const std::string& text);
    // Why lines were lost (the system's text for the first write that
    // failed); empty while every line went in.
    std::string error();

  private:
    std::mutex mutex_;
    std::string path_;
    std::ofstream out_;
    std::string error_;
};

// One unit's serial calls, passed on unchanged and watched.
class ExchangeTrace final : public ForwardingComm {
  public:
    ExchangeTrace(CommApi& inner, ExchangeLog& log) : ForwardingComm(inner), log_(log) {}
    ~ExchangeTrace() override { endExchange(); }

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD creation, DWORD flags, HANDLE tmpl) override;
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                  LPOVERLAPPED overlapped) override;
    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override;

  private:
    enum class State { Idle, Complement, Frame, Length, Reply };
    void sent(std::uint8_t byte);
    void came(std::uint8_t byte);
    // The exchange's line, told by how far it got.
    void endExchange();
    void write(const std::string& how);

    ExchangeLog& log_;
    std::string port_;
    State state_ = State::Idle;
    unsigned exchanges_ = 0;
    std::vector<std::uint8_t> frame_;
    std::uint8_t attention_ = 0; // its complement opens the frame
    unsigned replyLength_ = 0;   // the reply's length byte, which counts itself
    unsigned replyCame_ = 0;
    std::uint8_t status_ = 0;
    const std::uint8_t* reading_ = nullptr; // the read under way
};

} // namespace kronex::cli
