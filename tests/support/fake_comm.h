// A scripted stand-in for the kernel32 serial calls, on a virtual clock:
// reads that wait advance the clock by the time they would take, Sleep
// advances it, and nothing waits on the wall clock. Records every call.
#pragma once

#include "comm_api.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kronex::test {

// The far end of a fake port: answers each byte the PC writes.
using Peer = std::function<std::vector<std::uint8_t>(std::uint8_t)>;

struct FakePort {
    bool exists = true;
    bool heldElsewhere = false;   // another program has it open
    bool refusesSettings = false; // SetCommState fails, as a pseudo-terminal's may
    Peer peer;                    // none: a silent line
    // From this virtual time on the device is gone (an adapter pulled out):
    // every transfer on it fails at once, as on a removed device; or, with
    // `completionError` set, starts and then completes with that error, as a
    // pulled adapter's pending transfers do on Windows.
    std::uint64_t goneFrom = std::numeric_limits<std::uint64_t>::max();
    DWORD completionError = 0;
    int failedTransfers = 0; // transfers the gone device failed
    // Transfers start and stay pending: nothing completes them but CancelIoEx.
    bool holdsTransfers = false;
    // A framing error came in. With the DCB's fAbortOnError set, every
    // transfer then fails with ERROR_OPERATION_ABORTED until ClearCommError.
    bool lineError = false;
    // Bytes on their way to the PC, each with the virtual time it arrives.
    std::deque<std::pair<std::uint64_t, std::uint8_t>> incoming;
    std::vector<std::uint8_t> sent; // every byte the PC wrote, in order
    int opens = 0;
    // What GetCommState reports; as on Windows, its fNull drops incoming
    // 0x00 bytes and its fOutX takes the XON and XOFF characters out of
    // what is read.
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD inQueue = 0, outQueue = 0;

    // Queues bytes arriving from virtual time `at` on, one every `gapMs`.
    void arrive(std::uint64_t at, const std::vector<std::uint8_t>& bytes, std::uint64_t gapMs = 0);
};

struct CommCall {
    std::string name;     // "CreateFileA", "ReadFile", ...
    std::string port;     // the port's name, where the call concerns one
    std::int64_t arg = 0; // count, flags or the like
    std::uint64_t at = 0; // virtual time of the call
};

class FakeComm : public CommApi {
  public:
    FakeComm();

    // The port "\\.\COMn", made on first use as an existing, silent line.
    // A COM port never named here does not exist.
    FakePort& port(int n);
    std::uint64_t now() const { return now_; }
    void advance(std::uint64_t ms) { now_ += ms; }
    void setTickBase(DWORD base) { tickBase_ = base; }

    std::vector<CommCall> calls;
    // Off: only opens, closes of ports and pauses are recorded, which keeps a
    // whole update (a million calls) fast.
    bool recordTransfers = true;
    std::vector<CommCall> callsNamed(const std::string& name) const;
    int openHandles() const { return static_cast<int>(handles_.size()); }
    // Transfers started and not yet completed.
    int pendingTransfers() const { return static_cast<int>(pending_.size()); }
    // Transfers whose event was closed while the driver could still
    // complete into their OVERLAPPED.
    int abandonedTransfers = 0;

    // Fault switches.
    bool failCreateEvent = false;
    bool failWriteStart = false;        // WriteFile fails at once with an error other than pending
    bool completeSynchronously = false; // transfers answer TRUE instead of pending

    HANDLE CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) override;
    BOOL SetupComm(HANDLE, DWORD, DWORD) override;
    BOOL GetCommState(HANDLE, LPDCB) override;
    BOOL SetCommState(HANDLE, LPDCB) override;
    BOOL SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS) override;
    BOOL WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) override;
    BOOL ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) override;
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) override;
    DWORD WaitForSingleObject(HANDLE, DWORD) override;
    BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD, BOOL) override;
    DWORD GetLastError() override { return lastError_; }
    BOOL CancelIoEx(HANDLE, LPOVERLAPPED) override;
    BOOL ClearCommError(HANDLE, LPDWORD, LPCOMSTAT) override;
    BOOL PurgeComm(HANDLE, DWORD) override;
    BOOL CloseHandle(HANDLE) override;
    DWORD GetTickCount() override;
    void Sleep(DWORD ms) override;

  private:
    struct Handle {
        bool isEvent = false;
        bool signalled = false;
        std::string portName;
        FakePort* port = nullptr;
    };
    FakePort* portOf(HANDLE h);
    BOOL complete(LPOVERLAPPED ov, LPDWORD count, DWORD moved);
    // A transfer that does not complete as it starts; nullopt: it may run.
    std::optional<BOOL> startOtherwise(FakePort* p, LPOVERLAPPED ov, bool read);
    void setEvent(HANDLE event, bool signalled);
    void record(const char* name, const std::string& port, std::int64_t arg = 0);
    void recordTransfer(const char* name, FakePort* port, std::int64_t arg);
    BOOL fail(DWORD error);

    std::map<std::string, FakePort> ports_;
    std::map<std::uintptr_t, Handle> handles_;
    std::map<LPOVERLAPPED, HANDLE> pending_; // each with its event
    std::uintptr_t nextHandle_ = 0x100;
    std::uint64_t now_ = 0;
    DWORD tickBase_ = 0;
    DWORD lastError_ = 0;
};

// The device name the link builds for COMn.
std::string comName(int n);

} // namespace kronex::test
