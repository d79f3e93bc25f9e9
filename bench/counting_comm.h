// The platform's serial calls with a count of what crosses the line: bytes
// each way, transfers, framed exchanges and reads that ended on a time-out,
// and where the time of the exchanges goes. The counting adds a clock reading
// and a few additions per call and changes nothing else.
#pragma once

#include "forwarding_comm.h"
#include "process_stats.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kronex::bench {

struct LineCounts {
    std::uint64_t bytesOut = 0;
    std::uint64_t bytesIn = 0;
    std::uint64_t writes = 0;
    std::uint64_t reads = 0;
    // Framed exchanges: attention byte, complement, frame, reply.
    std::uint64_t exchanges = 0;
    // One-byte reads that got nothing and so waited out the read time-out.
    std::uint64_t silentReads = 0;
    // Reads that got some bytes but fewer than asked (none in a clean run).
    std::uint64_t shortReads = 0;

    // Summed over the exchanges: from the attention byte's write to the end
    // of the read that brought its complement (2 bytes on the line)...
    std::int64_t toComplementNs = 0;
    // ...from there to the end of the reply's last read (frame and reply)...
    std::int64_t toReplyNs = 0;
    std::uint64_t frameAndReplyBytes = 0;
    // ...and from the end of one exchange to the start of the next: the
    // program's own work, plus the pause and the handshakes after the restart.
    std::int64_t betweenNs = 0;
    std::uint64_t betweenBytes = 0; // handshake bytes that fall between exchanges
    std::int64_t sleptNs = 0;
};

class CountingComm final : public ForwardingComm {
  public:
    using ForwardingComm::ForwardingComm;

    LineCounts counts;
    // When on, every purge, write, read and sleep that succeeded, in order,
    // one line each ("P flags", "W byte...", "R asked got", "S ms"), for
    // kronex-bench-replay to repeat without the program around it.
    bool recording = false;
    std::string record;

    HANDLE CreateFileA(LPCSTR name, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f,
                       HANDLE t) override {
        phase_ = Phase::Idle;
        return ForwardingComm::CreateFileA(name, a, s, sa, c, f, t);
    }
    // The POSIX layer completes every transfer inside the call, so the count
    // it reports there is final.
    BOOL WriteFile(HANDLE h, LPCVOID d, DWORD n, LPDWORD w, LPOVERLAPPED o) override {
        const std::int64_t startedAt = monotonicNs();
        const BOOL ok = ForwardingComm::WriteFile(h, d, n, w, o);
        if (ok && w != nullptr && recording) {
            record += 'W';
            for (DWORD i = 0; i < *w; ++i)
                note(" %02X", static_cast<const std::uint8_t*>(d)[i]);
            record += '\n';
        }
        if (ok && w != nullptr) {
            ++counts.writes;
            counts.bytesOut += *w;
            if (phase_ == Phase::Attention) {
                ++counts.exchanges;
                exchangeStarts(startedAt);
            } else if (timing_ == Timing::AfterComplement && !replyStarted_) {
                counts.frameAndReplyBytes += *w; // the frame
            } else {
                // A write after the reply: the exchange is over (a handshake follows).
                exchangeEnds();
                if (timing_ == Timing::Between)
                    counts.betweenBytes += *w;
            }
        }
        phase_ = Phase::Idle;
        return ok;
    }
    BOOL ReadFile(HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED o) override {
        phase_ = Phase::Idle;
        const BOOL ok = ForwardingComm::ReadFile(h, b, n, r, o);
        if (ok && r != nullptr) {
            const std::int64_t endedAt = monotonicNs();
            if (recording)
                note("R %u %u\n", n, *r);
            ++counts.reads;
            counts.bytesIn += *r;
            if (*r == 0 && n == 1)
                ++counts.silentReads;
            else if (*r < n)
                ++counts.shortReads;
            if (timing_ == Timing::AwaitingComplement && *r > 0) {
                counts.toComplementNs += endedAt - attentionAt_;
                complementAt_ = endedAt;
                counts.frameAndReplyBytes += *r - 1;
                timing_ = Timing::AfterComplement;
                replyStarted_ = false;
            } else if (timing_ == Timing::AfterComplement) {
                counts.frameAndReplyBytes += *r;
                replyStarted_ = true;
                replyEndedAt_ = endedAt;
            } else if (timing_ == Timing::Between) {
                counts.betweenBytes += *r;
            }
        }
        return ok;
    }
    // An exchange starts with the transmit queue purged and then the receive
    // queue (closing a port purges them the other way round); the write that
    // follows is its attention byte.
    BOOL PurgeComm(HANDLE h, DWORD f) override {
        if (f == PURGE_TXCLEAR)
            phase_ = Phase::TransmitPurged;
        else if (f == PURGE_RXCLEAR && phase_ == Phase::TransmitPurged)
            phase_ = Phase::Attention;
        else
            phase_ = Phase::Idle;
        const BOOL ok = ForwardingComm::PurgeComm(h, f);
        if (ok && recording)
            note("P %u\n", f);
        return ok;
    }
    void Sleep(DWORD ms) override {
        const std::int64_t startedAt = monotonicNs();
        ForwardingComm::Sleep(ms);
        counts.sleptNs += monotonicNs() - startedAt;
        if (recording)
            note("S %u\n", ms);
    }

    // Closes the last exchange's figures; call once the run is over.
    void finish() { exchangeEnds(); }

  private:
    enum class Phase { Idle, TransmitPurged, Attention };

    template <class... Args> void note(const char* format, Args... args) {
        char text[32];
        const int n = std::snprintf(text, sizeof text, format, args...);
        record.append(text, static_cast<std::size_t>(n));
    }
    // None: before the first exchange; Between: after one ended.
    enum class Timing { None, AwaitingComplement, AfterComplement, Between };

    void exchangeStarts(std::int64_t at) {
        exchangeEnds();
        if (timing_ == Timing::Between)
            counts.betweenNs += at - replyEndedAt_;
        attentionAt_ = at;
        timing_ = Timing::AwaitingComplement;
    }

    void exchangeEnds() {
        if (timing_ != Timing::AfterComplement)
            return;
        counts.toReplyNs += (replyStarted_ ? replyEndedAt_ : complementAt_) - complementAt_;
        if (!replyStarted_)
            replyEndedAt_ = complementAt_;
        timing_ = Timing::Between;
    }

    Phase phase_ = Phase::Idle;
    Timing timing_ = Timing::None;
    bool replyStarted_ = false;
    std::int64_t attentionAt_ = 0;
    std::int64_t complementAt_ = 0;
    std::int64_t replyEndedAt_ = 0;
};

} // namespace kronex::bench
