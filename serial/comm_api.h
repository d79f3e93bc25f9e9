// The kernel32 calls the serial link makes, behind one table so that tests
// can put a scripted port and a virtual clock in their place. On Windows the
// system table forwards to kernel32; elsewhere to serial/posix.
#pragma once

#include "win32_types.h"

namespace kronex {

class CommApi {
  public:
    virtual ~CommApi() = default;

    virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode,
                               LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                               HANDLE templateFile) = 0;
    virtual BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) = 0;
    virtual BOOL GetCommState(HANDLE file, LPDCB dcb) = 0;
    virtual BOOL SetCommState(HANDLE file, LPDCB dcb) = 0;
    virtual BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) = 0;
    virtual BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                           LPOVERLAPPED overlapped) = 0;
    virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                          LPOVERLAPPED overlapped) = 0;
    virtual HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                                LPCSTR name) = 0;
    virtual DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) = 0;
    virtual BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                     BOOL wait) = 0;
    virtual DWORD GetLastError() = 0;
    virtual BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) = 0;
    virtual BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) = 0;
    virtual BOOL PurgeComm(HANDLE file, DWORD flags) = 0;
    virtual BOOL CloseHandle(HANDLE object) = 0;
    virtual DWORD GetTickCount() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
};

// The platform's own calls: kernel32 on Windows, serial/posix elsewhere.
CommApi& systemCommApi();

// Whether ports opened from now on ask their driver for its lowest latency
// while open: on Linux the serial line's low-latency flag (an FTDI adapter's
// driver then ticks every 1 ms instead of 16), put back at close; a driver
// that refuses it leaves the port as it was. Not asked unless set:
// kronex-update sets it, the window does not. Nothing on Windows, where the
// latency timer is a driver setting (Device Manager).
void askLowLatency(bool on);

} // namespace kronex
