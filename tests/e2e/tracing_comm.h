// The platform's serial calls with a record of what each one answered: every
// failure with its error code, the time each short read took, the ports
// opened. For finding where a platform's serial layer stops a real update.
#pragma once

#include "forwarding_comm.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kronex::test {

class TracingComm : public ForwardingComm {
  public:
    struct Failure {
        std::string call, port;
        DWORD error = 0;
    };
    struct ShortRead {
        std::string port;
        DWORD asked = 0, got = 0, milliseconds = 0;
        DWORD error = 0; // of GetOverlappedResult, 0 when it answered true
    };

    // `log` receives one line per failed call as it happens (and per call
    // when `everyCall` is set).
    TracingComm(CommApi& real, std::FILE* log, bool everyCall = false);

    std::vector<std::string> opened;   // device names, in order
    std::map<std::string, int> calls;  // by call name
    std::vector<Failure> failures;     // in order
    std::vector<ShortRead> shortReads; // reads that ended with fewer bytes than asked

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD creation, DWORD flags, HANDLE templateFile) override;
    BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) override;
    BOOL GetCommState(HANDLE file, LPDCB dcb) override;
    BOOL SetCommState(HANDLE file, LPDCB dcb) override;
    BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) override;
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                  LPOVERLAPPED overlapped) override;
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override;
    DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override;
    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override;
    // The error of the last call that failed through this table: logging
    // may have changed the thread's own since.
    DWORD GetLastError() override { return lastError_; }
    BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) override;
    BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) override;
    BOOL PurgeComm(HANDLE file, DWORD flags) override;
    BOOL CloseHandle(HANDLE object) override;

  private:
    struct PendingRead {
        LPOVERLAPPED overlapped = nullptr;
        HANDLE file = nullptr;
        DWORD asked = 0, startTick = 0;
    };

    // Counts the call; on failure records it with the error code.
    void note(const char* call, HANDLE file, bool ok, DWORD error, const std::string& detail = "");
    std::string portOf(HANDLE file) const;
    DWORD elapsed();

    std::FILE* log_;
    bool everyCall_;
    DWORD startTick_;
    DWORD lastError_ = 0;
    // Handles and their device names; a failed open leaves its name on the
    // invalid handle until the next open.
    std::map<HANDLE, std::string> ports_;
    PendingRead read_;
};

} // namespace kronex::test
