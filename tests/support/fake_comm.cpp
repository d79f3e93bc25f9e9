#include "fake_comm.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace kronex::test {

std::string comName(int n) {
    return "\\\\.\\COM" + std::to_string(n);
}

void FakePort::arrive(std::uint64_t at, const std::vector<std::uint8_t>& bytes,
                      std::uint64_t gapMs) {
    for (const auto b : bytes) {
        incoming.emplace_back(at, b);
        at += gapMs;
    }
}

namespace {

// What a Windows driver takes out of the incoming bytes under the port's DCB.
bool dropsOnRead(const DCB& dcb, std::uint8_t b) {
    const auto xon = static_cast<std::uint8_t>(dcb.XonChar);
    const auto xoff = static_cast<std::uint8_t>(dcb.XoffChar);
    return (dcb.fNull && b == 0x00) || (dcb.fOutX && (b == xon || b == xoff));
}

} // namespace

FakeComm::FakeComm() = default;

FakePort& FakeComm::port(int n) {
    auto [it, made] = ports_.try_emplace(comName(n));
    if (made) {
        // Settings a driver might report, none of them the link's own.
        DCB& d = it->second.dcb;
        d.DCBlength = sizeof(DCB);
        d.BaudRate = 9600;
        d.fBinary = 1;
        d.fOutxCtsFlow = 1;
        d.fDtrControl = 1;
        d.fRtsControl = 2;
        d.fOutX = 1;
        d.XonLim = 2048;
        d.XoffLim = 512;
        d.ByteSize = 7;
        d.Parity = EVENPARITY;
        d.StopBits = TWOSTOPBITS;
        d.XonChar = 0x11;
        d.XoffChar = 0x13;
        d.EofChar = 0x1A;
    }
    return it->second;
}

std::vector<CommCall> FakeComm::callsNamed(const std::string& name) const {
    std::vector<CommCall> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [&](const CommCall& c) { return c.name == name; });
    return out;
}

void FakeComm::record(const char* name, const std::string& port, std::int64_t arg) {
    calls.push_back({name, port, arg, now_});
}

void FakeComm::recordTransfer(const char* name, FakePort* port, std::int64_t arg) {
    if (!recordTransfers)
        return;
    std::string portName;
    for (const auto& [n, p] : ports_)
        if (&p == port)
            portName = n;
    record(name, portName, arg);
}

BOOL FakeComm::fail(DWORD error) {
    lastError_ = error;
    return FALSE;
}

FakePort* FakeComm::portOf(HANDLE h) {
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == handles_.end() || it->second.isEvent)
        return nullptr;
    return it->second.port;
}

HANDLE FakeComm::CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                             HANDLE) {
    record("CreateFileA", name);
    const auto it = ports_.find(name);
    if (it == ports_.end() || !it->second.exists) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    const bool heldHere = std::any_of(handles_.begin(), handles_.end(),
                                      [&](const auto& h) { return h.second.portName == name; });
    if (it->second.heldElsewhere || heldHere) {
        lastError_ = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    ++it->second.opens;
    const auto h = nextHandle_++;
    handles_[h] = Handle{false, false, name, &it->second};
    return reinterpret_cast<HANDLE>(h);
}

BOOL FakeComm::SetupComm(HANDLE h, DWORD in, DWORD out) {
    FakePort* p = portOf(h);
    recordTransfer("SetupComm", p, in);
    if (!p)
        return fail(ERROR_INVALID_HANDLE);
    p->inQueue = in;
    p->outQueue = out;
    return TRUE;
}

BOOL FakeComm::GetCommState(HANDLE h, LPDCB dcb) {
    FakePort* p = portOf(h);
    recordTransfer("GetCommState", p, 0);
    if (!p)
        return fail(ERROR_INVALID_HANDLE);
    *dcb = p->dcb;
    return TRUE;
}

BOOL FakeComm::SetCommState(HANDLE h, LPDCB dcb) {
    FakePort* p = portOf(h);
    recordTransfer("SetCommState", p, dcb->BaudRate);
    if (!p)
        return fail(ERROR_INVALID_HANDLE);
    if (p->refusesSettings)
        return fail(ERROR_INVALID_PARAMETER);
    p->dcb = *dcb;
    return TRUE;
}

BOOL FakeComm::SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t) {
    FakePort* p = portOf(h);
    recordTransfer("SetCommTimeouts", p, 0);
    if (!p)
        return fail(ERROR_INVALID_HANDLE);
    p->timeouts = *t;
    return TRUE;
}

BOOL FakeComm::complete(LPOVERLAPPED ov, LPDWORD count, DWORD moved) {
    ov->Internal = 0;
    ov->InternalHigh = moved;
    const auto ev = handles_.find(reinterpret_cast<std::uintptr_t>(ov->hEvent));
    if (ev != handles_.end() && ev->second.isEvent)
        ev->second.signalled = true;
    if (completeSynchronously) {
        if (count)
            *count = moved;
        return TRUE;
    }
    return fail(ERROR_IO_PENDING);
}

void FakeComm::setEvent(HANDLE event, bool signalled) {
    const auto ev = handles_.find(reinterpret_cast<std::uintptr_t>(event));
    if (ev != handles_.end() && ev->second.isEvent)
        ev->second.signalled = signalled;
}

std::optional<BOOL> FakeComm::startOtherwise(FakePort* p, LPOVERLAPPED ov, bool read) {
    // A failing read still takes time, so polling loops end.
    const std::uint64_t failingTime = read ? 1 : 0;
    if (now_ >= p->goneFrom) {
        ++p->failedTransfers;
        now_ += failingTime;
        if (p->completionError == 0)
            return fail(ERROR_GEN_FAILURE);
        ov->Internal = p->completionError; // here: the Win32 error itself
        ov->InternalHigh = 0;
        setEvent(ov->hEvent, true);
        return fail(ERROR_IO_PENDING);
    }
    if (p->dcb.fAbortOnError && p->lineError) {
        now_ += failingTime;
        return fail(ERROR_OPERATION_ABORTED);
    }
    if (p->holdsTransfers) {
        setEvent(ov->hEvent, false); // starting a transfer resets its event
        pending_[ov] = ov->hEvent;
        return fail(ERROR_IO_PENDING);
    }
    return std::nullopt;
}

BOOL FakeComm::WriteFile(HANDLE h, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED ov) {
    FakePort* p = portOf(h);
    recordTransfer("WriteFile", p, count);
    if (!p || !ov)
        return fail(ERROR_INVALID_HANDLE);
    if (failWriteStart)
        return fail(ERROR_GEN_FAILURE);
    if (const auto other = startOtherwise(p, ov, false))
        return *other;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (DWORD i = 0; i < count; ++i) {
        p->sent.push_back(bytes[i]);
        if (!p->peer)
            continue;
        // Answers queue up behind whatever is still on its way.
        std::uint64_t at = p->incoming.empty() ? now_ : std::max(now_, p->incoming.back().first);
        for (const auto b : p->peer(bytes[i]))
            p->incoming.emplace_back(at, b);
    }
    return complete(ov, written, count);
}

BOOL FakeComm::ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED ov) {
    FakePort* p = portOf(h);
    recordTransfer("ReadFile", p, count);
    if (!p || !ov) {
        now_ += 1; // a failing call still takes time, so polling loops end
        return fail(ERROR_INVALID_HANDLE);
    }
    if (const auto other = startOtherwise(p, ov, true))
        return *other;
    const COMMTIMEOUTS& t = p->timeouts;
    const bool hasTotal = t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0;
    const std::uint64_t deadline =
        hasTotal ? now_ + std::uint64_t{t.ReadTotalTimeoutMultiplier} * count +
                       t.ReadTotalTimeoutConstant
                 : std::numeric_limits<std::uint64_t>::max();
    auto* out = static_cast<std::uint8_t*>(buffer);
    DWORD got = 0;
    std::uint64_t lastByte = 0;
    while (got < count) {
        std::uint64_t limit = deadline;
        if (got > 0 && t.ReadIntervalTimeout != 0)
            limit = std::min(limit, lastByte + t.ReadIntervalTimeout);
        if (p->incoming.empty() || p->incoming.front().first > limit) {
            if (limit == std::numeric_limits<std::uint64_t>::max())
                throw std::logic_error("a read on a silent fake port would never end");
            now_ = std::max(now_, limit);
            break;
        }
        now_ = std::max(now_, p->incoming.front().first);
        const std::uint8_t b = p->incoming.front().second;
        p->incoming.pop_front();
        lastByte = now_;
        if (!dropsOnRead(p->dcb, b))
            out[got++] = b;
    }
    return complete(ov, read, got);
}

HANDLE FakeComm::CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL initial, LPCSTR) {
    if (recordTransfers)
        record("CreateEventA", "");
    if (failCreateEvent) {
        lastError_ = ERROR_GEN_FAILURE;
        return nullptr;
    }
    const auto h = nextHandle_++;
    handles_[h] = Handle{true, initial != FALSE, ""};
    return reinterpret_cast<HANDLE>(h);
}

DWORD FakeComm::WaitForSingleObject(HANDLE h, DWORD) {
    if (recordTransfers)
        record("WaitForSingleObject", "");
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    // Nothing else runs here, so an event that is not set never will be.
    if (it == handles_.end() || !it->second.isEvent || !it->second.signalled)
        return WAIT_FAILED;
    return WAIT_OBJECT_0;
}

BOOL FakeComm::GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD count, BOOL wait) {
    FakePort* p = portOf(h);
    recordTransfer("GetOverlappedResult", p, static_cast<std::int64_t>(ov->InternalHigh));
    if (!p)
        return fail(ERROR_INVALID_HANDLE);
    if (pending_.count(ov)) {
        // Nothing else runs here, so a pending transfer would never end.
        if (wait)
            throw std::logic_error("waiting for a transfer that nothing completes");
        return fail(ERROR_IO_INCOMPLETE);
    }
    *count = static_cast<DWORD>(ov->InternalHigh);
    if (ov->Internal != 0)
        return fail(static_cast<DWORD>(ov->Internal));
    return TRUE;
}

BOOL FakeComm::CancelIoEx(HANDLE h, LPOVERLAPPED ov) {
    FakePort* p = portOf(h);
    recordTransfer("CancelIoEx", p, 0);
    if (!p)
        return fail(ERROR_INVALID_HANDLE);
    bool found = false;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (ov && it->first != ov) {
            ++it;
            continue;
        }
        it->first->Internal = ERROR_OPERATION_ABORTED;
        it->first->InternalHigh = 0;
        setEvent(it->second, true);
        it = pending_.erase(it);
        found = true;
    }
    return found ? TRUE : fail(ERROR_NOT_FOUND);
}

BOOL FakeComm::ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT status) {
    FakePort* p = portOf(h);
    recordTransfer("ClearCommError", p, p && p->lineError);
    if (!p)
        return fail(ERROR_INVALID_HANDLE);
    if (now_ >= p->goneFrom)
        return fail(ERROR_GEN_FAILURE);
    if (errors)
        *errors = p->lineError ? CE_FRAME : 0;
    p->lineError = false;
    if (status) {
        *status = COMSTAT{};
        for (const auto& [at, b] : p->incoming)
            status->cbInQue += at <= now_ ? 1 : 0;
    }
    return TRUE;
}

BOOL FakeComm::PurgeComm(HANDLE h, DWORD flags) {
    FakePort* p = portOf(h);
    recordTransfer("PurgeComm", p, flags);
    if (!p)
        return fail(ERROR_INVALID_HANDLE);
    if (flags & PURGE_RXCLEAR)
        while (!p->incoming.empty() && p->incoming.front().first <= now_)
            p->incoming.pop_front();
    return TRUE;
}

BOOL FakeComm::CloseHandle(HANDLE h) {
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    const bool event = it != handles_.end() && it->second.isEvent;
    if (recordTransfers || !event)
        record("CloseHandle", it == handles_.end() ? "?" : it->second.portName, event);
    if (it == handles_.end())
        return fail(ERROR_INVALID_HANDLE);
    for (auto p = pending_.begin(); p != pending_.end();) {
        if (p->second != h) {
            ++p;
            continue;
        }
        ++abandonedTransfers;
        p = pending_.erase(p);
    }
    handles_.erase(it);
    return TRUE;
}

DWORD FakeComm::GetTickCount() {
    return static_cast<DWORD>(tickBase_ + now_);
}

void FakeComm::Sleep(DWORD ms) {
    record("Sleep", "", ms);
    now_ += ms;
}

} // namespace kronex::test
