#include "tracing_comm.h"

namespace kronex::test {

TracingComm::TracingComm(CommApi& real, std::FILE* log, bool everyCall)
    : ForwardingComm(real), log_(log), everyCall_(everyCall), startTick_(real.GetTickCount()) {}

std::string TracingComm::portOf(HANDLE file) const {
    const auto it = ports_.find(file);
    return it == ports_.end() ? std::string() : it->second;
}

DWORD TracingComm::elapsed() {
    return real().GetTickCount() - startTick_;
}

void TracingComm::note(const char* call, HANDLE file, bool ok, DWORD error,
                       const std::string& detail) {
    ++calls[call];
    const std::string port = portOf(file);
    if (!ok) {
        failures.push_back({call, port, error});
        lastError_ = error;
    }
    if (log_ && (!ok || everyCall_)) {
        std::fprintf(log_, "[%6lu ms] %s(%s%s) %s", static_cast<unsigned long>(elapsed()), call,
                     port.c_str(), detail.c_str(), ok ? "ok" : "failed");
        if (!ok)
            std::fprintf(log_, ": error %lu", static_cast<unsigned long>(error));
        std::fputc('\n', log_);
        std::fflush(log_);
    }
}

HANDLE TracingComm::CreateFileA(LPCSTR name, DWORD access, DWORD shareMode,
                                LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                HANDLE templateFile) {
    opened.emplace_back(name);
    const HANDLE h =
        real().CreateFileA(name, access, shareMode, security, creation, flags, templateFile);
    const bool ok = h != INVALID_HANDLE_VALUE;
    const DWORD error = ok ? 0 : real().GetLastError();
    ports_[h] = name;
    note("CreateFileA", h, ok, error);
    return h;
}

BOOL TracingComm::SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
    const BOOL r = real().SetupComm(file, inQueue, outQueue);
    note("SetupComm", file, r, r ? 0 : real().GetLastError());
    return r;
}

BOOL TracingComm::GetCommState(HANDLE file, LPDCB dcb) {
    const BOOL r = real().GetCommState(file, dcb);
    note("GetCommState", file, r, r ? 0 : real().GetLastError());
    return r;
}

BOOL TracingComm::SetCommState(HANDLE file, LPDCB dcb) {
    const BOOL r = real().SetCommState(file, dcb);
    note("SetCommState", file, r, r ? 0 : real().GetLastError(),
         ", " + std::to_string(dcb->BaudRate) + " baud");
    return r;
}

BOOL TracingComm::SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    const BOOL r = real().SetCommTimeouts(file, timeouts);
    note("SetCommTimeouts", file, r, r ? 0 : real().GetLastError());
    return r;
}

BOOL TracingComm::WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                            LPOVERLAPPED overlapped) {
    const BOOL r = real().WriteFile(file, data, count, written, overlapped);
    const DWORD error = r ? 0 : real().GetLastError();
    note("WriteFile", file, r || error == ERROR_IO_PENDING, error);
    lastError_ = error;
    return r;
}

BOOL TracingComm::ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                           LPOVERLAPPED overlapped) {
    read_ = {overlapped, file, count, real().GetTickCount()};
    const BOOL r = real().ReadFile(file, buffer, count, read, overlapped);
    const DWORD error = r ? 0 : real().GetLastError();
    note("ReadFile", file, r || error == ERROR_IO_PENDING, error);
    lastError_ = error;
    return r;
}

HANDLE TracingComm::CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                                 BOOL initialState, LPCSTR name) {
    const HANDLE h = real().CreateEventA(security, manualReset, initialState, name);
    note("CreateEventA", nullptr, h != nullptr, h ? 0 : real().GetLastError());
    return h;
}

DWORD TracingComm::WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    const DWORD r = real().WaitForSingleObject(object, milliseconds);
    note("WaitForSingleObject", nullptr, r == WAIT_OBJECT_0,
         r == WAIT_FAILED ? real().GetLastError() : r);
    return r;
}

BOOL TracingComm::GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                      BOOL wait) {
    const BOOL r = real().GetOverlappedResult(file, overlapped, transferred, wait);
    const DWORD error = r ? 0 : real().GetLastError();
    note("GetOverlappedResult", file, r, error);
    if (overlapped == read_.overlapped && file == read_.file) {
        // What the driver reported, even when the call answered false.
        const DWORD got = *transferred;
        if (!r || got < read_.asked)
            shortReads.push_back(
                {portOf(file), read_.asked, got, real().GetTickCount() - read_.startTick, error});
        read_ = {};
    }
    return r;
}

BOOL TracingComm::CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    const BOOL r = real().CancelIoEx(file, overlapped);
    note("CancelIoEx", file, r, r ? 0 : real().GetLastError());
    return r;
}

BOOL TracingComm::ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) {
    const BOOL r = real().ClearCommError(file, errors, status);
    note("ClearCommError", file, r, r ? 0 : real().GetLastError(),
         r && errors ? ", errors " + std::to_string(*errors) : "");
    return r;
}

BOOL TracingComm::PurgeComm(HANDLE file, DWORD flags) {
    const BOOL r = real().PurgeComm(file, flags);
    note("PurgeComm", file, r, r ? 0 : real().GetLastError(),
         flags == PURGE_RXCLEAR   ? ", receive"
         : flags == PURGE_TXCLEAR ? ", transmit"
                                  : ", other");
    return r;
}

BOOL TracingComm::CloseHandle(HANDLE object) {
    const BOOL r = real().CloseHandle(object);
    note("CloseHandle", object, r, r ? 0 : real().GetLastError());
    if (ports_.count(object) && object != INVALID_HANDLE_VALUE)
        ports_.erase(object);
    return r;
}

} // namespace kronex::test
