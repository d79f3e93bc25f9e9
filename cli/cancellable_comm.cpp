#include "cancellable_comm.h"

namespace kronex::cli {

namespace {
// Added to the clock at every reading once stopped: whenever a reply window
// started, it has passed by the next reading.
constexpr DWORD kPastEveryWait = 10 * 1000;
} // namespace

void CancellableComm::transferred() {
    const auto now = std::chrono::steady_clock::now();
    if (!span_)
        span_.emplace(now, now);
    span_->second = now;
}

bool CancellableComm::refuse() {
    refused_ = stopped_();
    return refused_;
}

HANDLE CancellableComm::CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                    LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                    HANDLE tmpl) {
    if (refuse())
        return INVALID_HANDLE_VALUE;
    return real().CreateFileA(name, access, share, security, creation, flags, tmpl);
}

BOOL CancellableComm::WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                                LPOVERLAPPED overlapped) {
    if (refuse())
        return FALSE; // GetLastError then says "aborted", not "pending"
    written_.fetch_add(count, std::memory_order_relaxed);
    transferred();
    return real().WriteFile(file, data, count, written, overlapped);
}

BOOL CancellableComm::ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                               LPOVERLAPPED overlapped) {
    if (refuse())
        return FALSE;
    const BOOL done = real().ReadFile(file, buffer, count, read, overlapped);
    if (done && read && *read > 0)
        transferred();
    return done;
}

BOOL CancellableComm::GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped,
                                          LPDWORD transferredBytes, BOOL wait) {
    const BOOL done = real().GetOverlappedResult(file, overlapped, transferredBytes, wait);
    if (done && transferredBytes && *transferredBytes > 0)
        transferred();
    return done;
}

BOOL CancellableComm::ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) {
    if (refuse())
        return FALSE;
    return real().ClearCommError(file, errors, status);
}

DWORD CancellableComm::GetTickCount() {
    if (stopped_())
        skew_ += kPastEveryWait;
    return real().GetTickCount() + skew_;
}

void CancellableComm::Sleep(DWORD ms) {
    // The pause after the restart command, in steps that notice Ctrl-C.
    constexpr DWORD kStep = 50;
    while (ms > 0 && !stopped_()) {
        const DWORD now = ms < kStep ? ms : kStep;
        real().Sleep(now);
        ms -= now;
    }
}

} // namespace kronex::cli
