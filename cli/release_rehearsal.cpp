#include "release_rehearsal.h"

#include "detection.h"
#include "device_commands.h"
#include "dump_file.h"
#include "handshake.h"
#include "serial_link.h"
#include "update_session.h"

#include <algorithm>
#include <deque>
#include <map>

namespace kronex::cli {

namespace {

// A unit that answers every command with 0xAA and every read with `fill`,
// keeping the blocks written. The serial calls complete at once.
class StandInUnit final : public CommApi {
  public:
    explicit StandInUnit(std::uint8_t fill) : fill_(fill) {}
    std::map<std::pair<int, std::uint16_t>, std::array<std::uint8_t, 128>> written;

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
            if (byte == kHandshake)
                out_.push_back(kHandshakeAnswer);
            else if (byte == kAttentionByte) {
                out_.push_back(static_cast<std::uint8_t>(kAttentionByte ^ 0xFF));
                inFrame_ = true;
                frame_.clear();
            }
            return;
        }
        frame_.push_back(byte);
        if (frame_.size() < std::max<std::size_t>(frame_[0], 1))
            return;
        inFrame_ = false;
        const auto base =
            static_cast<std::uint8_t>(frame_.size() > 1 ? frame_[1] & ~kTarget1Bit : 0);
        const int target = frame_.size() > 1 && (frame_[1] & kTarget1Bit) ? 1 : 0;
        if (base == kCmdRead) {
            out_.push_back(kReadReplyLength);
            out_.push_back(kAck);
            for (std::size_t i = 0; i < kBlockBytes; ++i)
                out_.push_back(CODIFICA_BYTE(fill_));
            return;
        }
        if (base == kCmdWrite && frame_.size() >= 5 + kBlockBytes) {
            auto& block = written[{target, static_cast<std::uint16_t>(frame_[3] << 8 | frame_[4])}];
            for (std::size_t i = 0; i < kBlockBytes; ++i)
                block[i] = CODIFICA_BYTE(frame_[5 + i]);
        }
        out_.push_back(2);
        out_.push_back(kAck);
    }

    std::uint8_t fill_;
    bool inFrame_ = false;
    std::vector<std::uint8_t> frame_;
    std::deque<std::uint8_t> out_;
    DWORD moved_ = 0;
    DWORD ticks_ = 0;
};

// The rehearsal writes no file: its diagnostic file goes nowhere.
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

std::map<std::pair<int, std::uint16_t>, std::array<std::uint8_t, 128>>
rehearse(const ReleaseTable& release, const LoadedCatalog& loaded, std::uint8_t fill) {
    StandInUnit unit(fill);
    SerialLink link(unit);
    LoadedCatalog catalog = loaded;
    SessionObserver quiet; // nobody watches a rehearsal
    link.port.ABRE_PORTA(1);
    link.exchange.attention = kAttentionByte;
    // No diagnostic file: its place is left empty. The identity as the check
    // read it is the unit's, as every other block it reads.
    Workflow w{quiet, link, release, catalog, {}, "29000000"};
    NoFiles noFiles;
    w.dumpFiles = &noFiles;
    w.checkedIdentity.emplace();
    w.checkedIdentity->fill(fill);
    ATUALIZA(w);
    link.port.FECHA_PORTA();
    return std::move(unit.written);
}

} // namespace

std::vector<WrittenBlock> rehearseUpdate(const ReleaseTable& release,
                                         const LoadedCatalog& catalog) {
    // What the unit reads back into the session shows as the bytes that differ
    // between a unit full of 0x00 and one full of 0x5A (not 0xFF: the session
    // takes a blank unit for one that lost its own blocks, and stops).
    const auto zeros = rehearse(release, catalog, 0x00);
    const auto ones = rehearse(release, catalog, 0x5A);
    std::vector<WrittenBlock> blocks;
    for (const auto& [where, bytes] : zeros) {
        WrittenBlock& b = blocks.emplace_back();
        b.target = where.first;
        b.address = where.second;
        b.bytes = bytes;
        const auto other = ones.find(where);
        for (std::size_t i = 0; i < kBlockBytes; ++i)
            b.unitOwn[i] = other == ones.end() || other->second[i] != bytes[i];
    }
    return blocks;
}

} // namespace kronex::cli
