// The platform's serial calls passed on unchanged: the base of the wrappers
// that watch, count or cut them off (kronex-update's Ctrl-C, the tests'
// recorders, the benchmark's counter), so that each overrides only the calls
// it adds to.
#pragma once

#include "comm_api.h"

namespace kronex {

class ForwardingComm : public CommApi {
  public:
    explicit ForwardingComm(CommApi& real) : real_(real) {}

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD creation, DWORD flags, HANDLE templateFile) override {
        return real_.CreateFileA(name, access, shareMode, security, creation, flags, templateFile);
    }
    BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) override {
        return real_.SetupComm(file, inQueue, outQueue);
    }
    BOOL GetCommState(HANDLE file, LPDCB dcb) override { return real_.GetCommState(file, dcb); }
    BOOL SetCommState(HANDLE file, LPDCB dcb) override { return real_.SetCommState(file, dcb); }
    BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) override {
        return real_.SetCommTimeouts(file, timeouts);
    }
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                   LPOVERLAPPED overlapped) override {
        return real_.WriteFile(file, data, count, written, overlapped);
    }
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                  LPOVERLAPPED overlapped) override {
        return real_.ReadFile(file, buffer, count, read, overlapped);
    }
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override {
        return real_.CreateEventA(security, manualReset, initialState, name);
    }
    DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override {
        return real_.WaitForSingleObject(object, milliseconds);
    }
    BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override {
        return real_.GetOverlappedResult(file, overlapped, transferred, wait);
    }
    DWORD GetLastError() override { return real_.GetLastError(); }
    BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) override {
        return real_.CancelIoEx(file, overlapped);
    }
    BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) override {
        return real_.ClearCommError(file, errors, status);
    }
    BOOL PurgeComm(HANDLE file, DWORD flags) override { return real_.PurgeComm(file, flags); }
    BOOL CloseHandle(HANDLE object) override { return real_.CloseHandle(object); }
    DWORD GetTickCount() override { return real_.GetTickCount(); }
    void Sleep(DWORD milliseconds) override { real_.Sleep(milliseconds); }

  protected:
    CommApi& real() { return real_; }

  private:
    CommApi& real_;
};

} // namespace kronex
