// CommApi on Windows: each call goes straight to kernel32.
#include "comm_api.h"

namespace kronex {

namespace {

class Win32CommApi final : public CommApi {
  public:
    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD creation, DWORD flags, HANDLE templateFile) override {
        return ::CreateFileA(name, access, shareMode, security, creation, flags, templateFile);
    }
    BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) override {
        return ::SetupComm(file, inQueue, outQueue);
    }
    BOOL GetCommState(HANDLE file, LPDCB dcb) override { return ::GetCommState(file, dcb); }
    BOOL SetCommState(HANDLE file, LPDCB dcb) override { return ::SetCommState(file, dcb); }
    BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) override {
        return ::SetCommTimeouts(file, timeouts);
    }
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                   LPOVERLAPPED overlapped) override {
        return ::WriteFile(file, data, count, written, overlapped);
    }
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                  LPOVERLAPPED overlapped) override {
        return ::ReadFile(file, buffer, count, read, overlapped);
    }
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override {
        return ::CreateEventA(security, manualReset, initialState, name);
    }
    DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override {
        return ::WaitForSingleObject(object, milliseconds);
    }
    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override {
        return ::GetOverlappedResult(file, overlapped, transferred, wait);
    }
    DWORD GetLastError() override { return ::GetLastError(); }
    BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) override {
        return ::CancelIoEx(file, overlapped);
    }
    BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) override {
        return ::ClearCommError(file, errors, status);
    }
    BOOL PurgeComm(HANDLE file, DWORD flags) override { return ::PurgeComm(file, flags); }
    BOOL CloseHandle(HANDLE object) override { return ::CloseHandle(object); }
    DWORD GetTickCount() override { return ::GetTickCount(); }
    void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
};

} // namespace

// The latency timer is the driver's setting, changed in Device Manager.
void askLowLatency(bool) {}

CommApi& systemCommApi() {
    static Win32CommApi api;
    return api;
}

} // namespace kronex
