// The platform's serial calls for one unit's session, with two additions:
// once Ctrl-C is pressed every transfer fails at once and every wait is
// over, so the session stops at the exchange it was in; and the bytes
// written are counted for the progress display.
#pragma once

#include "comm_api.h"

#include <atomic>
#include <cstdint>
#include <functional>

// One per session: the clock skew below is not shared between threads.

namespace kronex::cli {

class CancellableComm final : public CommApi {
  public:
    CancellableComm(CommApi& inner, std::function<bool()> stopped)
        : inner_(inner), stopped_(std::move(stopped)) {}

    std::uint64_t bytesWritten() const { return written_.load(std::memory_order_relaxed); }

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD creation, DWORD flags, HANDLE tmpl) override;
    BOOL SetupComm(HANDLE file, DWORD in, DWORD out) override {
        return inner_.SetupComm(file, in, out);
    }
    BOOL GetCommState(HANDLE file, LPDCB dcb) override { return inner_.GetCommState(file, dcb); }
    BOOL SetCommState(HANDLE file, LPDCB dcb) override { return inner_.SetCommState(file, dcb); }
    BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS t) override {
        return inner_.SetCommTimeouts(file, t);
    }
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                  LPOVERLAPPED overlapped) override;
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES s, BOOL manual, BOOL initial, LPCSTR name) override {
        return inner_.CreateEventA(s, manual, initial, name);
    }
    DWORD WaitForSingleObject(HANDLE object, DWORD ms) override {
        return inner_.WaitForSingleObject(object, ms);
    }
    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED ov, LPDWORD moved, BOOL wait) override {
        return inner_.GetOverlappedResult(file, ov, moved, wait);
    }
    DWORD GetLastError() override { return stopped_() ? kAborted : inner_.GetLastError(); }
    BOOL PurgeComm(HANDLE file, DWORD flags) override { return inner_.PurgeComm(file, flags); }
    BOOL CloseHandle(HANDLE object) override { return inner_.CloseHandle(object); }
    DWORD GetTickCount() override;
    void Sleep(DWORD ms) override;

  private:
    static constexpr DWORD kAborted = 995; // ERROR_OPERATION_ABORTED
    CommApi& inner_;
    std::function<bool()> stopped_;
    std::atomic<std::uint64_t> written_{0};
    DWORD skew_ = 0; // only the session's own thread reads the clock
};

} // namespace kronex::cli
