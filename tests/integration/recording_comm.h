// The platform's serial calls with a note of every port the program opens.
#pragma once

#include "comm_api.h"

#include <string>
#include <vector>

namespace kronex::test {

class RecordingComm : public CommApi {
  public:
    explicit RecordingComm(CommApi& real) : real_(real) {}
    std::vector<std::string> opened;

    HANDLE CreateFileA(LPCSTR name, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f,
                       HANDLE t) override {
        opened.emplace_back(name);
        return real_.CreateFileA(name, a, s, sa, c, f, t);
    }
    BOOL SetupComm(HANDLE h, DWORD i, DWORD o) override { return real_.SetupComm(h, i, o); }
    BOOL GetCommState(HANDLE h, LPDCB d) override { return real_.GetCommState(h, d); }
    BOOL SetCommState(HANDLE h, LPDCB d) override { return real_.SetCommState(h, d); }
    BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t) override {
        return real_.SetCommTimeouts(h, t);
    }
    BOOL WriteFile(HANDLE h, LPCVOID d, DWORD n, LPDWORD w, LPOVERLAPPED o) override {
        return real_.WriteFile(h, d, n, w, o);
    }
    BOOL ReadFile(HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED o) override {
        return real_.ReadFile(h, b, n, r, o);
    }
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL m, BOOL i, LPCSTR n) override {
        return real_.CreateEventA(sa, m, i, n);
    }
    DWORD WaitForSingleObject(HANDLE h, DWORD ms) override {
        return real_.WaitForSingleObject(h, ms);
    }
    BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED o, LPDWORD n, BOOL w) override {
        return real_.GetOverlappedResult(h, o, n, w);
    }
    DWORD GetLastError() override { return real_.GetLastError(); }
    BOOL PurgeComm(HANDLE h, DWORD f) override { return real_.PurgeComm(h, f); }
    BOOL CloseHandle(HANDLE h) override { return real_.CloseHandle(h); }
    DWORD GetTickCount() override { return real_.GetTickCount(); }
    void Sleep(DWORD ms) override { real_.Sleep(ms); }

  private:
    CommApi& real_;
};

} // namespace kronex::test
