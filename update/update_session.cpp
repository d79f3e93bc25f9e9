#include "update_session.h"

#include "detection.h"
#include "device_commands.h"
#include "dump_file.h"
#include "hex_text.h"
#include "record_lock.h"
#include "record_match.h"
#include "release_layout.h"
#include "utc_now.h"

namespace kronex {

namespace {

constexpr std::uint16_t kMirrorBlockAddress = 0x2200;
constexpr std::uint16_t kTarget1Segment1 = 0x1200;
constexpr std::uint16_t kTarget1Segment2 = 0x1A00;
constexpr std::uint16_t kPageStep = 0x200;
constexpr std::size_t kTarget1TopFirst = 76;  // bytes 76-127 come from the release
constexpr std::size_t kTarget1TopChars = 104; // 52 bytes
constexpr std::size_t kDirectoryStart = 11;   // section directory in the identity block
constexpr std::uint32_t kRestartPauseMs = 1000;
constexpr int kRestartHandshakes = 101;
constexpr int kMainProgressStep = 2;
constexpr int kTarget1ProgressStep = 1;
constexpr std::size_t kPageHexChars = 2 * kPageBytes;

class UpdateSession {
  public:
    explicit UpdateSession(Workflow& w)
        : w_(w), window_(w.window), link_(w.link.exchange), cursor_(w.catalog.cursor) {
        identity_.fill(0xFF);
    }

    SessionResult result() {
        SessionResult r;
        r.completed = run();
        r.stop = stop_;
        r.dump = dump_;
        r.recordError = recordError_;
        if (ownIdentity_)
            r.ownSerial = serialOf(*ownIdentity_);
        if (r.completed) {
            r.stop.step = SessionStep::Completed;
        } else {
            recordLastExchange(link_, r.stop);
            noteStop(r);
        }
        return r;
    }

  private:
    bool run() {
        window_.pumpEvents();
        window_.setStatusText("Número de série: " + w_.serialNumber);
        window_.setStartCaption("Aguarde...");
        window_.pumpEvents();
        window_.stepProgress(1);
        if (!settleRecordBeforeErasing())
            return false;

        const auto& at = w_.catalog.segmentAddresses;
        enter(SessionStep::MainImageGroup1);
        for (int k = 0; k < 3; ++k)
            if (!GRAVA_SEGMENTO(0, at[static_cast<std::size_t>(k)], kMainProgressStep))
                return false;
        if (!CMD_EXECUTA(link_, 0))
            return false;
        // The unit restarts; it is back once it answers the handshake (the
        // session goes on either way).
        link_.port().api().Sleep(kRestartPauseMs);
        for (int attempt = 0; attempt < kRestartHandshakes; ++attempt)
            if (SINCRONIZA(link_.port()))
                break;
        enter(SessionStep::MainImageGroup2);
        for (int k = 3; k < 6; ++k)
            if (!GRAVA_SEGMENTO(0, at[static_cast<std::size_t>(k)], kMainProgressStep))
                return false;

        // Past "**", the address texts and the maker list.
        cursor_ = w_.catalog.dataStart;
        enter(SessionStep::Erases);
        CMD_APAGA(link_, 0, static_cast<std::uint16_t>(w_.catalog.eraseAddress1));
        CMD_APAGA(link_, 0, static_cast<std::uint16_t>(w_.catalog.eraseAddress2));
        window_.stepProgress(1);
        enter(SessionStep::DataPart);
        if (!dataPart())
            return false;

        if (!topBlockOfTarget0() || !mirrorBlock() || !identityBlock())
            return false;
        ++cursor_; // past the "*" after "BMP"

        enter(SessionStep::SecondTarget);
        if (!GRAVA_SEGMENTO(1, kTarget1Segment1, kTarget1ProgressStep) || !CMD_EXECUTA(link_, 1) ||
            !GRAVA_SEGMENTO(1, kTarget1Segment2, kTarget1ProgressStep) || !topBlockOfTarget1())
            return false;
        enter(SessionStep::FinalRun);
        if (!CMD_EXECUTA(link_, 1))
            return false;

        complete();
        return true;
    }

    Workflow& w_;
    MainWindowOps& window_;
    LinkExchange& link_;
    std::int64_t& cursor_;
    IdentityImage identity_;
    int blockNumber_ = 0;
    int sections_ = 0;
    std::string mirrorLine_;
    SessionStop stop_;
    DumpResult dump_;
    // The unit's own blocks, once settled before the first erase of either:
    // as the check and the top block read gave them, or from a kept record.
    std::optional<UnitBlock> ownIdentity_;
    UnitBlock ownTop_{};
    bool fromRecord_ = false;
    UnitRecord record_;
    std::filesystem::path recordFile_; // the record this session keeps
    std::filesystem::path copyFile_;   // the copy it was taken from, when named otherwise
    bool kept_ = false;                // recordFile_ holds this unit's blocks
    std::string recordError_;
    // Settled before the first erase: whether the check's identity is cut,
    // the record that is this unit's (kept until the top block is read, for
    // an intact identity), and the hold on it for the session's whole life.
    bool cut_ = false;
    std::optional<KeptRecord> found_;
    RecordLock lock_;

    RecordFiles& files() { return w_.recordFiles ? *w_.recordFiles : diskRecordFiles(); }
    UnitRecords records() { return UnitRecords(w_.unitRecords, files()); }

    // Every step is entered here, so that whoever follows the session sees each.
    void enter(SessionStep step) {
        stop_.step = step;
        if (w_.stepReached)
            w_.stepReached(step);
    }

    bool safeguard(Safeguard why) {
        stop_.safeguard = why;
        return false;
    }

    // A read whose block is erased next: the whole reply, acknowledged.
    bool readWhole(std::uint16_t address, UnitBlock& block) {
        return CMD_LE_BLOCO(link_, 0, address, block.data()) && link_.reply[0] == kAck;
    }

    // The release ended where the walk needed more: nothing on the wire failed.
    bool releaseFault() {
        stop_.releaseFault = true;
        return false;
    }

    std::string_view entry() const { return w_.release.entry(cursor_); }
    // The walk stops at the table's end whatever the release holds.
    bool atClose() const { return entry() == kMarkerClose || cursor_ >= w_.release.end(); }
    bool pastEnd() const { return cursor_ >= w_.release.end(); }

    // One segment: 512-byte blocks from pairs of lines (a last single line is
    // padded with "F"), from `address` up.
    bool GRAVA_SEGMENTO(int target, std::uint16_t address, int progressStep) {
        while (!atClose()) {
            std::string text(entry());
            ++cursor_;
            if (!atClose()) {
                text += entry();
                ++cursor_;
            } else if (text.size() < kPageHexChars) {
                text.append(kPageHexChars - text.size(), 'F');
            }
            if (!GRAVA_PAGINA_HEX(link_, target, address, text))
                return false;
            address = static_cast<std::uint16_t>(address + kPageStep);
            window_.stepProgress(progressStep);
            window_.pumpEvents();
        }
        if (pastEnd())
            return releaseFault();
        ++cursor_;
        return true;
    }

    // One data section: one 256-byte block per line; where it starts goes
    // into the identity block's directory.
    bool GRAVA_SECAO() {
        if (sections_ >= kMaxDataSections || pastEnd())
            return releaseFault(); // the directory is full: the release cannot be installed
        stop_.section = sections_ + 1;
        const std::size_t at = kDirectoryStart + 2 * static_cast<std::size_t>(sections_++);
        identity_[at] = static_cast<std::uint8_t>((blockNumber_ >> 8) & 0xFF);
        identity_[at + 1] = static_cast<std::uint8_t>(blockNumber_ & 0xFF);
        while (!atClose()) {
            const unsigned before = link_.exchanges;
            if (!GRAVA_MEMORIA_HEX(link_, blockNumber_, entry()))
                return link_.exchanges == before ? releaseFault() : false; // too long a line
            ++cursor_;
            ++blockNumber_;
            window_.stepProgress(1);
            window_.pumpEvents();
        }
        if (pastEnd())
            return releaseFault();
        ++cursor_;
        return true;
    }

    bool dataPart() {
        if (!GRAVA_SECAO())
            return false;
        mirrorLine_ = entry(); // the second section's first line
        if (!GRAVA_SECAO())
            return false;
        for (std::size_t maker = 1; maker < w_.catalog.makers.size(); ++maker) {
            if (!GRAVA_SECAO())
                return false;
            window_.pumpEvents();
        }
        for (int k = 0; k < 3; ++k)
            if (!GRAVA_SECAO())
                return false;
        while (entry() != kMarkerDataEnd)
            if (!GRAVA_SECAO())
                return false;
        ++cursor_;
        return true;
    }

    // The unit's own top block with its mark set. Only a whole, acknowledged
    // read is taken: writing whatever an earlier reply left would wreck the
    // unit's reset area.
    bool topBlockOfTarget0() {
        enter(SessionStep::TopBlock);
        UnitBlock read{};
        if (!readWhole(kTopBlockAddress, read) || !settleOwnBlocks(read))
            return false;
        const UnitBlock work = markedTop(ownTop_);
        return CMD_GRAVA_PAGINA(link_, 0, 1, kTopBlockAddress, work.data());
    }

    // Before the first erase of the session: which record, if any, is this
    // unit's, decided from the check's read (and the top block, where the
    // identity may be cut); the record held for the session's life; and, for
    // kronex-update, proof that the PC can keep it.
    bool settleRecordBeforeErasing() {
        if (!w_.checkedIdentity)
            return true;
        const UnitBlock& checked = *w_.checkedIdentity;
        std::optional<UnitBlock> top = w_.checkedTop;
        if (identityMayBeCut(checked) && !top) {
            enter(SessionStep::TopBlock);
            if (!readWhole(kTopBlockAddress, top.emplace()))
                return false;
            enter(SessionStep::MainImageGroup1);
        }
        cut_ = top ? identityCut(checked, *top) : blankIdentity(checked);
        const bool keeping = !w_.unitRecords.empty();
        RecordLookup lookup;
        if (keeping)
            lookup = findRecord(records().whole(), checked, top ? &*top : nullptr,
                                [this](const KeptRecord& k) {
                                    return recordHeld(records().fileFor(k.record.identity));
                                });
        else if (cut_)
            lookup.choice = RecordChoice::NoneFits;
        switch (lookup.choice) {
        case RecordChoice::NoneFits:
            return safeguard(Safeguard::IdentityLost);
        case RecordChoice::Several:
            return safeguard(Safeguard::SeveralRecords);
        case RecordChoice::Held:
            return safeguard(Safeguard::RecordHeld);
        case RecordChoice::Record:
            if (!lookup.record->owner.trusted &&
                !(w_.confirmRecord && w_.confirmRecord(*lookup.record)))
                return safeguard(Safeguard::RecordNotTrusted);
            found_ = lookup.record;
            break;
        case RecordChoice::OwnBlocks:
            break;
        }
        if (!keeping)
            return true;
        // Held under the name of the unit it belongs to, whatever the file
        // it came from is called.
        recordFile_ = records().fileFor(found_ ? found_->record.identity : checked);
        const bool needed = w_.recordRequired || cut_;
        if (!records().canKeep(recordFile_, recordError_) || !holdRecord()) {
            recordFile_.clear();
            if (!needed)
                return true; // the window goes on without a record, as it can
            stop_.recordError = recordError_;
            return safeguard(Safeguard::RecordNotKept);
        }
        if (stop_.safeguard != Safeguard::None)
            return false;
        // Another session may have finished with the record between the
        // lookup and the lock: only the record as it stands now is taken.
        if (found_ && !stillKept(*found_))
            return safeguard(Safeguard::RecordHeld);
        if (!cut_)
            return true; // settled with the top block, once it is read
        takeRecord();
        return keepRecord() || safeguard(Safeguard::RecordNotKept);
    }

    bool stillKept(const KeptRecord& found) {
        for (const auto& k : records().whole())
            if (k.file == found.file && k.record.identity == found.record.identity &&
                k.record.top == found.record.top)
                return true;
        return false;
    }

    bool holdRecord() {
        switch (lock_.take(recordFile_, recordError_)) {
        case RecordLock::State::Free:
            return true;
        case RecordLock::State::Held:
            stop_.safeguard = Safeguard::RecordHeld;
            return true;
        case RecordLock::State::Failed:
            break;
        }
        return false;
    }

    void takeRecord() {
        fromRecord_ = true;
        record_ = found_->record;
        if (found_->file != recordFile_)
            copyFile_ = found_->file;
        ownIdentity_ = record_.identity;
        ownTop_ = record_.top;
    }

    // The record as it stands now, into its file.
    bool keepRecord() {
        record_.port = w_.port;
        record_.release = w_.catalog.releaseNumber;
        record_.stoppedAt = stepName(stop_);
        record_.since = utcNow();
        if (records().keep(recordFile_, record_, recordError_))
            return kept_ = true;
        stop_.recordError = recordError_;
        return false;
    }

    // With the top block read, before the first erase of either of the
    // unit's own blocks: its own bytes, and their record kept.
    bool settleOwnBlocks(const UnitBlock& top) {
        const auto& checked = w_.checkedIdentity;
        if (!cut_ && found_ && recordFits(found_->record, *checked, &top, false))
            takeRecord(); // else a stale record of this unit: its blocks as read win
        if (!fromRecord_) {
            if (checked && blankIdentity(*checked))
                return safeguard(Safeguard::IdentityLost);
            if (blankBlock(top))
                return safeguard(Safeguard::TopBlockBlank);
            ownIdentity_ = checked;
            ownTop_ = top;
        }
        if (recordFile_.empty() || !ownIdentity_)
            return true;
        if (!fromRecord_) {
            record_.identity = *ownIdentity_;
            record_.top = ownTop_;
            record_.serial = serialOf(*ownIdentity_);
            record_.written = utcNow();
        }
        if (keepRecord())
            return true;
        if (!fromRecord_)
            recordFile_.clear();
        if (!w_.recordRequired && !fromRecord_)
            return true; // a safeguard, never a new way for the update to fail
        return safeguard(Safeguard::RecordNotKept);
    }

    // The record stays until the session completes; it says where this one
    // stopped and when.
    void noteStop(SessionResult& r) {
        if (!kept_)
            return;
        record_.stoppedAt = stepName(r.stop);
        record_.since = utcNow();
        std::string why;
        records().keep(recordFile_, record_, why);
        r.openRecord = recordFile_;
        r.since = record_.since;
    }

    // The release's mirror block (the second data section's first line).
    bool mirrorBlock() {
        enter(SessionStep::MirrorBlock);
        return GRAVA_PAGINA_HEX(link_, 0, kMirrorBlockAddress, mirrorLine_);
    }

    // The unit's bytes 0-5 (serial number first), then the release number,
    // the erase addresses and the section directory. Bytes 0-5 are the
    // unit's own as settled: a read-back that differs from them is never
    // written back unless a kept record vouches for them.
    bool identityBlock() {
        enter(SessionStep::IdentityBlock);
        UnitBlock work{};
        if (!readWhole(kIdentityBlockAddress, work))
            return false;
        if (ownIdentity_) {
            if (!fromRecord_ && !std::equal(work.begin(), work.begin() + 6, ownIdentity_->begin()))
                return safeguard(Safeguard::IdentityChanged);
            work = *ownIdentity_;
        } else if (blankIdentity(work)) {
            return safeguard(Safeguard::IdentityLost);
        }
        std::copy(work.begin(), work.begin() + 6, identity_.begin());
        identity_[6] = w_.catalog.releaseNumber;
        identity_[7] = static_cast<std::uint8_t>((w_.catalog.eraseAddress2 >> 8) & 0xFF);
        identity_[8] = static_cast<std::uint8_t>(w_.catalog.eraseAddress2 & 0xFF);
        identity_[9] = static_cast<std::uint8_t>((w_.catalog.eraseAddress1 >> 8) & 0xFF);
        identity_[10] = static_cast<std::uint8_t>(w_.catalog.eraseAddress1 & 0xFF);
        return CMD_GRAVA_PAGINA(link_, 0, 1, kIdentityBlockAddress, identity_.data());
    }

    bool topBlockOfTarget1() {
        std::array<std::uint8_t, kBlockBytes> work;
        work.fill(0xFF);
        const std::string_view line = entry().substr(0, kTarget1TopChars);
        for (std::size_t i = 0; i < kTarget1TopChars / 2; ++i) {
            const std::string_view pair = 2 * i < line.size() ? line.substr(2 * i, 2) : "";
            work[kTarget1TopFirst + i] = static_cast<std::uint8_t>(HEX_PARA_INT(pair) & 0xFF);
        }
        work[kTopBlockMark] = 0xFE;
        if (!CMD_GRAVA_PAGINA(link_, 1, 1, kTopBlockAddress, work.data()))
            return false;
        ++cursor_;
        return true;
    }

    void complete() {
        CMD_EXECUTA(link_, 0);
        // The unit holds its own blocks again: their record has done its job.
        // One that stays would later look like a stale record: the front end
        // learns why from recordError.
        if (kept_)
            records().discard(recordFile_, recordError_);
        if (!copyFile_.empty())
            records().discard(copyFile_, recordError_);
        // A file that cannot be written does not undo a completed update;
        // the front end that can say so does.
        dump_ =
            writeDumpFile(w_.dumpFile, identity_, w_.dumpFiles ? *w_.dumpFiles : systemDumpFiles());
        window_.stepProgress(window_.progressMax());
        window_.setStatusText("Atualização concluída!");
        window_.pumpEvents();
        window_.SHOW_MSG(MSG_CONCLUIDO);
    }
};

} // namespace

SessionResult ATUALIZA(Workflow& w) {
    return UpdateSession(w).result();
}

} // namespace kronex
