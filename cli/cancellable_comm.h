// The platform's serial calls for one unit's session, with two additions:
// once Ctrl-C is pressed every transfer fails at once and every wait is
// over, so the session stops at the exchange it was in; and the bytes
// written are counted for the progress display. Only a call refused here
// reports "aborted": a transfer that did start is the driver's until it
// completes, and its caller must wait for it.
#pragma once

#include "forwarding_comm.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

// One per session: the clock skew below is not shared between threads.

namespace kronex::cli {

class CancellableComm final : public ForwardingComm {
  public:
    CancellableComm(CommApi& inner, std::function<bool()> stopped)
        : ForwardingComm(inner), stopped_(std::move(stopped)) {}

    std::uint64_t bytesWritten() const { return written_.load(std::memory_order_relaxed); }

    // From the first transfer since startSpan() to the last: the time the unit
    // was being worked on, without the waits before it.
    using Span =
        std::pair<std::chrono::steady_clock::time_point, std::chrono::steady_clock::time_point>;
    void startSpan() { span_.reset(); }
    std::optional<Span> span() const { return span_; }

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD creation, DWORD flags, HANDLE tmpl) override;
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                  LPOVERLAPPED overlapped) override;
    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override;
    DWORD GetLastError() override { return refused_ ? kAborted : real().GetLastError(); }
    // Once stopped, a line error can no longer be cleared: the port counts as failed.
    BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) override;
    DWORD GetTickCount() override;
    void Sleep(DWORD ms) override;

  private:
    static constexpr DWORD kAborted = 995; // ERROR_OPERATION_ABORTED
    // Whether this wrapper refused the last open or transfer itself.
    bool refuse();
    void transferred();
    std::function<bool()> stopped_;
    bool refused_ = false;
    std::atomic<std::uint64_t> written_{0};
    DWORD skew_ = 0; // only the session's own thread reads the clock
    std::optional<Span> span_;
};

} // namespace kronex::cli
