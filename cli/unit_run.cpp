#include "unit_run.h"

#include "cancellable_comm.h"
#include "detection.h"
#include "device_commands.h"
#include "interrupt.h"
#include "record_match.h"
#include "record_restore.h"
#include "report.h"
#include "serial_link.h"
#include "stop_gate.h"
#include "update_session.h"

#include <chrono>
#include <cstdio>

namespace kronex::cli {

namespace {

constexpr DWORD kErrorAccessDenied = 5;
constexpr std::size_t kReleaseByte = 6;

// What the session may do to a window: keep the progress figures current.
class ProgressWindow final : public MainWindowOps {
  public:
    ProgressWindow(SerialLink& link, CancellableComm& comm, UnitProgress& progress, int maximum)
        : link_(link), comm_(comm), progress_(progress), maximum_(maximum) {}

    void setHeaderTexts(std::string_view, std::string_view) override {}
    void clearModuleList() override {}
    void appendModuleLine(std::string_view) override {}
    void setProgressMax(int maximum) override { maximum_ = maximum; }
    int progressMax() const override { return maximum_; }
    void stepProgress(int) override {}
    void setStartEnabled(bool) override {}
    void setStartCaption(std::string_view) override {}
    void setStatusText(std::string_view) override {}
    void setBusyCursor() override {}
    void restoreCursor() override {}
    void pumpEvents() override {
        progress_.exchanges.store(link_.exchange.exchanges, std::memory_order_relaxed);
        progress_.bytes.store(comm_.bytesWritten(), std::memory_order_relaxed);
    }
    void requestTermination() override {}
    bool SHOW_MSG(MessageCode) override { return true; }

  private:
    SerialLink& link_;
    CancellableComm& comm_;
    UnitProgress& progress_;
    int maximum_;
};

enum class Opened { Yes, Held, Missing };

Opened open(SerialLink& link, CommApi& comm, int port) {
    link.port.ABRE_PORTA(port);
    if (isValidHandle(link.port.handle()))
        return Opened::Yes;
    const DWORD error = comm.GetLastError();
    link.port.FECHA_PORTA();
    return error == kErrorAccessDenied ? Opened::Held : Opened::Missing;
}

// The compatibility check's read (CART_V2's bytes), keeping the whole block.
bool readIdentity(LinkExchange& link, UnitReport& report) {
    std::array<std::uint8_t, kBlockBytes> block{};
    link.attention = kAttentionByte;
    if (!CMD_LE_BLOCO(link, 0, kIdentityBlockAddress, block.data()))
        return false;
    char serial[9];
    std::snprintf(serial, sizeof serial, "29%02X%02X%02X", block[0], block[1], block[2]);
    report.serial = serial;
    std::copy(block.begin(), block.end(), report.identity.emplace().begin());
    report.releaseBefore = block[kReleaseByte];
    return true;
}

// The record an earlier, unfinished update left for this unit, if one fits.
std::optional<KeptRecord> openRecordFor(const UnitJob& job, const UnitReport& r) {
    if (job.unitRecords.empty() || !r.identity)
        return std::nullopt;
    const RecordLookup lookup =
        findRecord(UnitRecords(job.unitRecords, diskRecordFiles()).whole(), *r.identity, nullptr);
    return lookup.found;
}

// What the unit's release number is after a session: the installed one only
// once the session completed; the one read at the check only while nothing
// of the unit's own was touched and no earlier update was left unfinished.
std::optional<int> releaseAfter(const UnitReport& r, const SessionResult& s, int installed,
                                bool unfinishedBefore) {
    if (s.completed)
        return installed;
    if (s.stop.step < SessionStep::TopBlock && !unfinishedBefore)
        return r.releaseBefore;
    return std::nullopt;
}

void runSession(SerialLink& link, CancellableComm& comm, const UnitJob& job, UnitProgress& progress,
                UnitReport& report) {
    LoadedCatalog catalog = job.catalog;
    ProgressWindow window(link, comm, progress, catalog.progressMax);
    const auto dumpFile = job.dumpFile(report.serial, report.port);
    Workflow w{window, link, job.release, catalog, dumpFile, report.serial};
    w.unitRecords = job.unitRecords;
    w.checkedIdentity = report.identity;
    w.port = report.port;
    w.recordRequired = true;
    const auto before = openRecordFor(job, report);
    progress.sessionStarted = true;
    const SessionResult result = ATUALIZA(w);
    window.pumpEvents();
    report.releaseAfter = releaseAfter(report, result, catalog.releaseNumber, before.has_value());
    if (!result.ownSerial.empty())
        report.serial = result.ownSerial; // what a blank identity was given back
    if (result.completed) {
        report.exchangesDone = link.exchange.exchanges;
        recordDump(report, result.dump);
    } else {
        const Safeguard why = result.stop.safeguard;
        report.outcome = interrupted() ? Outcome::Interrupted
                         : why == Safeguard::IdentityLost || why == Safeguard::SeveralRecords
                             ? Outcome::IdentityLost
                             : Outcome::Failed;
        report.stop = result.stop;
        report.exchangesDone = result.stop.exchange > 0 ? result.stop.exchange - 1 : 0;
        if (!result.openRecord.empty())
            report.incomplete = Incomplete{stepName(result.stop), result.since};
        else if (before)
            report.incomplete = Incomplete{before->record.stoppedAt, before->record.since};
    }
}

// info: an unfinished update is reported as such; a blank identity that no
// kept record fits, or several fit, is a lost identity.
void lookForRecord(const UnitJob& job, UnitReport& report) {
    if (job.unitRecords.empty() || !report.identity)
        return;
    const RecordLookup lookup = findRecord(UnitRecords(job.unitRecords, diskRecordFiles()).whole(),
                                           *report.identity, nullptr);
    if (lookup.found)
        report.incomplete = Incomplete{lookup.found->record.stoppedAt, lookup.found->record.since};
    else if (blankIdentity(*report.identity))
        report.outcome = Outcome::IdentityLost;
}

void runRestore(LinkExchange& link, const UnitRecord& record, UnitReport& report) {
    if (!recordFitsUnit(record, *report.identity)) {
        report.outcome = Outcome::Failed;
        report.problem = "the unit is " + report.serial + ", not " + record.serial +
                         " whose blocks the record keeps; nothing was written";
        return;
    }
    SessionStop stop;
    if (restoreUnitBlocks(link, record, stop)) {
        report.outcome = Outcome::Restored;
        report.serial = record.serial;
        return;
    }
    report.outcome = interrupted() ? Outcome::Interrupted : Outcome::Failed;
    report.stop = stop;
}

// On an open port: the window's eleven tries, each a handshake and, once
// answered, the check. false when no unit passed it.
bool tryUnit(SerialLink& link, CancellableComm& comm, const UnitJob& job, UnitProgress& progress,
             UnitReport& report) {
    bool answered = false;
    for (int attempt = 0; attempt < kTriesPerPort && !interrupted(); ++attempt) {
        if (!SINCRONIZA(link.port))
            continue;
        answered = true;
        link.exchange.exchanges = 0;
        if (!readIdentity(link.exchange, report))
            continue;
        report.outcome = Outcome::Answered;
        if (job.restore)
            runRestore(link.exchange, *job.restore, report);
        else if (job.update)
            runSession(link, comm, job, progress, report);
        else
            lookForRecord(job, report);
        return true;
    }
    report.outcome = interrupted() ? Outcome::Interrupted
                     : answered    ? Outcome::Incompatible
                                   : Outcome::NoUnit;
    return false;
}

UnitReport onPort(int port, SerialLink& link, CancellableComm& comm, const UnitJob& job,
                  UnitProgress& progress) {
    const auto start = std::chrono::steady_clock::now();
    UnitReport report;
    report.port = port;
    report.exchangesTotal = job.plan.exchanges;
    progress.port = port;
    switch (open(link, comm, port)) {
    case Opened::Held:
        report.outcome = Outcome::Held;
        break;
    case Opened::Missing:
        report.outcome = interrupted() ? Outcome::Interrupted : Outcome::NoUnit;
        break;
    case Opened::Yes:
        tryUnit(link, comm, job, progress, report);
        link.port.FECHA_PORTA();
        break;
    }
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

} // namespace

UnitReport runUnit(int port, const UnitJob& job, UnitProgress& progress) {
    StopGate gate(interrupted);
    CancellableComm comm(systemCommApi(), [&gate] { return gate(); });
    SerialLink link(comm);
    gate.watch(link.exchange);
    UnitReport report = onPort(port, link, comm, job, progress);
    progress.done = true;
    return report;
}

UnitReport scanAndRun(const UnitJob& job, UnitProgress& progress) {
    StopGate gate(interrupted);
    CancellableComm comm(systemCommApi(), [&gate] { return gate(); });
    SerialLink link(comm);
    gate.watch(link.exchange);
    UnitReport report, incompatible;
    for (int n = kFirstPort; n <= kLastPort && !interrupted(); ++n) {
        report = onPort(n, link, comm, job, progress);
        if (report.outcome == Outcome::Incompatible)
            incompatible = report;
        else if (report.outcome != Outcome::NoUnit && report.outcome != Outcome::Held)
            break;
    }
    const bool found = report.outcome != Outcome::NoUnit && report.outcome != Outcome::Held &&
                       report.outcome != Outcome::Incompatible;
    if (!found && incompatible.port != 0)
        report = incompatible; // the unit that cannot take the release, not "no unit"
    if (!found && interrupted())
        report.outcome = Outcome::Interrupted;
    progress.done = true;
    return report;
}

Probe probePort(int port) {
    CancellableComm comm(systemCommApi(), interrupted);
    SerialLink link(comm);
    switch (open(link, comm, port)) {
    case Opened::Held:
        return Probe::Held;
    case Opened::Missing:
        return Probe::Missing;
    case Opened::Yes:
        break;
    }
    Probe outcome = Probe::Silent;
    for (int attempt = 0; attempt < kTriesPerPort && !interrupted(); ++attempt)
        if (SINCRONIZA(link.port)) {
            outcome = Probe::Answers;
            break;
        }
    link.port.FECHA_PORTA();
    return outcome;
}

} // namespace kronex::cli
