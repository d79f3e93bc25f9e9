#include "session_plan.h"

#include "detection.h"
#include "device_commands.h"
#include "dump_file.h"
#include "handshake.h"
#include "serial_link.h"
#include "update_session.h"

#include <algorithm>
#include <deque>

namespace kronex {

namespace {

// A unit that answers every command with 0xAA and every read with `fill`,
// noting each exchange in the plan. The serial calls complete at once.
class StandInUnit final : public CommApi {
  public:
    StandInUnit(std::uint8_t fill, SessionPlan& plan) : fill_(fill), plan_(plan) {}
    SessionStep step = SessionStep::MainImageGroup1;

    HANDLE CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) override {
        return reinterpret_cast<HANDLE>(1);
    }
    BOOL SetupComm(HANDLE, DWORD, DWORD) override { return TRUE; }
    BOOL GetCommState(HANDLE, LPDCB) override { return TRUE; }
    BOOL SetCommState(HANDLE, LPDCB) override { return TRUE; }
    BOOL SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS) override { return TRUE; }
    BOOL WriteFile(HANDLE, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED) override {
        for (DWORD i = 0; i < count; ++i)
            take(static_cast<const std::uint8_t*>(data)[i]);
        moved_ = count;
        if (written)
            *written = count;
        return TRUE;
    }
    BOOL ReadFile(HANDLE, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED) override {
        DWORD n = 0;
        for (; n < count && !out_.empty(); ++n) {
            static_cast<std::uint8_t*>(buffer)[n] = out_.front();
            out_.pop_front();
        }
        if (n < count)
            ticks_ += 100 * count; // a read that waits out its time-out
        moved_ = n;
        if (read)
            *read = n;
        return TRUE;
    }
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) override {
        return reinterpret_cast<HANDLE>(2);
    }
    DWORD WaitForSingleObject(HANDLE, DWORD) override { return WAIT_OBJECT_0; }
    BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD transferred, BOOL) override {
        if (transferred)
            *transferred = moved_;
        return TRUE;
    }
    DWORD GetLastError() override { return 0; }
    BOOL CancelIoEx(HANDLE, LPOVERLAPPED) override { return TRUE; }
    BOOL ClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) override {
        if (errors)
            *errors = 0;
        if (status)
            *status = COMSTAT{};
        return TRUE;
    }
    BOOL PurgeComm(HANDLE, DWORD) override { return TRUE; }
    BOOL CloseHandle(HANDLE) override { return TRUE; }
    DWORD GetTickCount() override { return ticks_; }
    void Sleep(DWORD ms) override { ticks_ += ms; }

  private:
    void take(std::uint8_t byte) {
        if (!inFrame_) {
            if (byte == kHandshake) {
                out_.push_back(kHandshakeAnswer);
                ++handshakes_;
            } else if (byte == kAttentionByte) {
                out_.push_back(static_cast<std::uint8_t>(kAttentionByte ^ 0xFF));
                inFrame_ = true;
                frame_.assign(1, byte);
            }
            return;
        }
        frame_.push_back(byte);
        // The attention byte leads; the frame's own length byte counts itself.
        if (frame_.size() < 1 + std::max<std::size_t>(frame_[1], 1))
            return;
        inFrame_ = false;
        PlannedExchange& e = plan_.session.emplace_back();
        e.step = step;
        e.bytesOut = frame_;
        e.handshakesBefore = handshakes_;
        handshakes_ = 0;
        e.frame = decodeFrame(frame_.data() + 1, frame_.size() - 1).value_or(FrameFields{});
        if (e.frame.command == kCmdRead) {
            out_.push_back(kReadReplyLength);
            out_.push_back(kAck);
            for (std::size_t i = 0; i < kBlockBytes; ++i)
                out_.push_back(CODIFICA_BYTE(fill_));
            return;
        }
        out_.push_back(2);
        out_.push_back(kAck);
    }

    std::uint8_t fill_;
    SessionPlan& plan_;
    bool inFrame_ = false;
    unsigned handshakes_ = 0;
    std::vector<std::uint8_t> frame_;
    std::deque<std::uint8_t> out_;
    DWORD moved_ = 0;
    DWORD ticks_ = 0;
};

// The plan writes no file: its diagnostic file goes nowhere.
class NoFiles final : public DumpFiles {
  public:
    std::error_code createNew(const std::filesystem::path&, std::string_view) override {
        return std::make_error_code(std::errc::read_only_file_system);
    }
    std::error_code replace(const std::filesystem::path&, const std::filesystem::path&) override {
        return std::make_error_code(std::errc::read_only_file_system);
    }
    std::filesystem::path userFolder() override { return {}; }
};

// Tags each exchange with the step the session is in.
class StepFollower final : public SessionObserver {
  public:
    explicit StepFollower(StandInUnit& unit) : unit_(unit) {}
    void stepReached(SessionStep step) override { unit_.step = step; }

  private:
    StandInUnit& unit_;
};

} // namespace

SessionPlan planSession(const ReleaseTable& release, const LoadedCatalog& loaded,
                        std::uint8_t unitFill) {
    SessionPlan plan;
    plan.check.assign(1 + kMaxFrameBytes, 0);
    plan.check[0] = kAttentionByte;
    plan.check.resize(1 + encodeFrame({kCmdRead, 0, kIdentityBlockAddress}, &plan.check[1]));

    StandInUnit unit(unitFill, plan);
    SerialLink link(unit);
    LoadedCatalog catalog = loaded;
    StepFollower follower(unit);
    link.port.ABRE_PORTA(1);
    link.exchange.attention = kAttentionByte;
    // No diagnostic file: its place is left empty. The identity as the check
    // read it is the unit's, as every other block it reads.
    Workflow w{follower, link, release, catalog, {}, "29000000"};
    NoFiles noFiles;
    w.dumpFiles = &noFiles;
    w.checkedIdentity.emplace();
    w.checkedIdentity->fill(unitFill);
    ATUALIZA(w);
    link.port.FECHA_PORTA();

    plan.exchanges = static_cast<unsigned>(1 + plan.session.size());
    plan.bytesOut = plan.check.size();
    for (const auto& e : plan.session)
        plan.bytesOut += e.bytesOut.size();
    return plan;
}

} // namespace kronex
