// A USB serial adapter between the program and the line, modelled in the
// host's serial calls, where its cost arises. A full-speed adapter moves data
// in 1 ms USB frames: a write completes when its USB transfer does, no sooner
// than the next frame boundary, however few bytes it holds. Incoming bytes
// wait in the adapter until its latency timer ticks (16 ms by default on
// common adapters, 1 ms at best) and reach the program only then. A
// pseudo-terminal shows neither: it takes a write at once and hands a byte
// over as soon as it is written.
//
// A write's bytes go out in the USB frame that carries its transfer, however
// many (a full-speed frame carries up to 19 packets of 64 bytes, more than a
// request frame's 521), so a frame written whole costs one USB frame where
// written byte by byte it costs one per byte.
//
// With `lineUsPerByte` set the model also holds the line itself (a test's
// unit answers at once): the written bytes cross it after their frame, and
// bytes coming back reach the adapter only once they have crossed it. Left
// at 0 where the far end paces the line itself (kronex-devsim).
//
// The bytes and their order are the real port's; only the time each call
// completes is moved. A transfer's cost is paid when its count becomes known:
// in WriteFile or ReadFile when they complete inside the call (the POSIX
// layer), in GetOverlappedResult when they were pending.
#pragma once

#include "forwarding_comm.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace kronex::bench {

struct UsbAdapter {
    std::int64_t frameUs = 1000;    // USB frame: 1 ms at full speed
    std::int64_t latencyUs = 16000; // the adapter's latency timer
    std::int64_t lineUsPerByte = 0; // 0: the line's time is not modelled
};

// The model's time: the monotonic clock, or a test's virtual one.
class AdapterClock {
  public:
    virtual ~AdapterClock() = default;
    virtual std::int64_t nowUs() = 0;
    virtual void sleepUntilUs(std::int64_t at) = 0;
};

class SteadyAdapterClock final : public AdapterClock {
  public:
    std::int64_t nowUs() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void sleepUntilUs(std::int64_t at) override {
        std::this_thread::sleep_until(
            std::chrono::steady_clock::time_point(std::chrono::microseconds(at)));
    }
};

class UsbAdapterComm final : public ForwardingComm {
  public:
    UsbAdapterComm(CommApi& real, UsbAdapter adapter, AdapterClock& clock)
        : ForwardingComm(real), adapter_(adapter), clock_(clock) {}

    // How much later than the frame and tick boundaries the waits ended: the
    // machine's wake-up latency, not the adapter's.
    std::int64_t lateUs() const { return lateUs_; }
    // Writes and reads that moved bytes: each write is a USB transfer.
    std::uint64_t writes() const { return writes_; }
    std::uint64_t reads() const { return reads_; }

    // The adapter's frames and latency ticks run from the moment it is opened.
    HANDLE CreateFileA(LPCSTR name, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f,
                       HANDLE t) override {
        epochUs_ = clock_.nowUs();
        return ForwardingComm::CreateFileA(name, a, s, sa, c, f, t);
    }
    BOOL WriteFile(HANDLE h, LPCVOID d, DWORD n, LPDWORD w, LPOVERLAPPED o) override {
        const std::int64_t startedAt = clock_.nowUs();
        const BOOL ok = ForwardingComm::WriteFile(h, d, n, w, o);
        if (ok && w != nullptr && *w > 0)
            writeDone(startedAt, *w);
        else if (!ok && o != nullptr)
            pending_.push_back({o, true, startedAt});
        return ok;
    }
    BOOL ReadFile(HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED o) override {
        const BOOL ok = ForwardingComm::ReadFile(h, b, n, r, o);
        if (ok && r != nullptr && *r > 0)
            readDone(*r);
        else if (!ok && o != nullptr)
            pending_.push_back({o, false, clock_.nowUs()});
        return ok;
    }
    BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED o, LPDWORD n, BOOL wait) override {
        const BOOL ok = ForwardingComm::GetOverlappedResult(h, o, n, wait);
        const auto it = std::find_if(pending_.begin(), pending_.end(),
                                     [o](const Pending& p) { return p.overlapped == o; });
        if (it == pending_.end())
            return ok;
        const Pending p = *it;
        pending_.erase(it);
        if (ok && n != nullptr && *n > 0) {
            if (p.write)
                writeDone(p.startedAt, *n);
            else
                readDone(*n);
        }
        return ok;
    }

  private:
    struct Pending {
        LPOVERLAPPED overlapped;
        bool write;
        std::int64_t startedAt;
    };

    // The first boundary of a `period` grid strictly after `t`.
    std::int64_t nextBoundary(std::int64_t t, std::int64_t period) const {
        return epochUs_ + ((t - epochUs_) / period + 1) * period;
    }
    void waitUntil(std::int64_t at) {
        if (at <= clock_.nowUs())
            return;
        clock_.sleepUntilUs(at);
        lateUs_ += std::max<std::int64_t>(0, clock_.nowUs() - at);
    }
    void writeDone(std::int64_t startedAt, DWORD bytes) {
        ++writes_;
        const std::int64_t frameAt = nextBoundary(startedAt, adapter_.frameUs);
        waitUntil(frameAt);
        lineFreeUs_ = std::max(lineFreeUs_, frameAt) + lineUs(bytes);
    }
    // Bytes that came in within kLateUs after a tick count as handed over at
    // that tick: the model's own wake-up is that late, and the real port may
    // have held them since before it.
    void readDone(DWORD bytes) {
        ++reads_;
        constexpr std::int64_t kLateUs = 150;
        std::int64_t cameAt = clock_.nowUs();
        if (adapter_.lineUsPerByte > 0) {
            cameAt = std::max(cameAt, lineFreeUs_) + lineUs(bytes);
            lineFreeUs_ = cameAt;
        }
        waitUntil(nextBoundary(cameAt - kLateUs - 1, adapter_.latencyUs));
    }
    std::int64_t lineUs(DWORD bytes) const {
        return static_cast<std::int64_t>(bytes) * adapter_.lineUsPerByte;
    }

    UsbAdapter adapter_;
    AdapterClock& clock_;
    std::int64_t epochUs_ = 0;
    std::int64_t lateUs_ = 0;
    std::int64_t lineFreeUs_ = 0; // when the line has carried what was written
    std::uint64_t writes_ = 0, reads_ = 0;
    std::vector<Pending> pending_;
};

} // namespace kronex::bench
