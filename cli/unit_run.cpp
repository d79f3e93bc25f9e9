#include "unit_run.h"

#include "cancellable_comm.h"
#include "detection.h"
#include "device_commands.h"
#include "interrupt.h"
#include "messages.h"
#include "record_lock.h"
#include "record_match.h"
#include "record_restore.h"
#include "report.h"
#include "serial_link.h"
#include "stop_gate.h"
#include "update_session.h"
#include "utc_now.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace kronex::cli {

namespace fs = std::filesystem;

namespace {

// The session's reports as kronex-update takes them: the progress figures
// kept current as it goes; a record another user keeps is used only on the
// technician's own answer.
class UnitReports final : public SessionObserver {
  public:
    UnitReports(SerialLink& link, CancellableComm& comm, UnitProgress& progress, const UnitJob& job)
        : link_(link), comm_(comm), progress_(progress), job_(job) {}

    void sessionBegins(std::string_view) override { note(); }
    void between() override { note(); }
    void sessionCompleted() override { note(); }
    bool useForeignRecord(const KeptRecord&) override {
        return job_.confirmation && job_.confirmation->technicianAnswered();
    }

    void note() {
        progress_.exchanges.store(link_.exchange.exchanges, std::memory_order_relaxed);
        progress_.bytes.store(comm_.bytesWritten(), std::memory_order_relaxed);
    }

  private:
    SerialLink& link_;
    CancellableComm& comm_;
    UnitProgress& progress_;
    const UnitJob& job_;
};

// COMn just opened: why it would not open, if it would not.
std::optional<PortProblem> openProblem(SerialLink& link, CommApi& comm, int port) {
    if (isValidHandle(link.port.handle()))
        return std::nullopt;
    return diagnosePort(port, comm.GetLastError());
}

Outcome outcomeOf(const PortProblem& problem) {
    switch (problem.cause) {
    case PortCause::Held:
        return Outcome::Held;
    case PortCause::Denied:
        return Outcome::Denied;
    case PortCause::Missing:
    case PortCause::Failed:
    case PortCause::NotSerial:
        break;
    }
    return Outcome::Missing;
}

// The compatibility check's read (CART_V2's bytes), keeping the whole block.
bool readIdentity(LinkExchange& link, UnitReport& report) {
    UnitBlock block{};
    std::string serial;
    link.attention = kAttentionByte;
    if (!LE_IDENTIFICACAO(link, serial, block.data())) {
        recordLastExchange(link, report.checkStop.emplace());
        return false;
    }
    report.identity = block;
    // A blank identity holds no serial number or release: they are unknown.
    if (!blankIdentity(block)) {
        report.serial = serial;
        report.releaseBefore = block[kReleaseByte];
    }
    return true;
}

// Target 0's top block, read whole where the identity may be cut (the
// record question needs it) and for restore. false: the read failed.
bool readTopWhereNeeded(LinkExchange& link, const UnitJob& job, UnitReport& report) {
    if (!job.restore && !identityMayBeCut(*report.identity))
        return true;
    std::array<std::uint8_t, kBlockBytes> top{};
    if (!CMD_LE_BLOCO(link, 0, kTopBlockAddress, top.data()) || link.reply[0] != kAck) {
        recordLastExchange(link, report.stop.emplace());
        report.stop->step = SessionStep::TopBlock;
        report.outcome = Outcome::Failed;
        return false;
    }
    report.top = top;
    return true;
}

// The record question settled as the session will settle it, before the
// question is asked: a unit that could only be updated with a record that is
// not to be had (none fits its cut identity, several do, or another session
// holds it) is not ready, and nothing of it is touched.
bool recordSettled(const UnitJob& job, UnitReport& report, UnitProgress& progress) {
    const bool cut =
        report.top ? identityCut(*report.identity, *report.top) : blankIdentity(*report.identity);
    RecordLookup lookup;
    if (!job.unitRecords.empty()) {
        const UnitRecords records(job.unitRecords, diskRecordFiles());
        lookup = findRecord(
            records.whole(), *report.identity, report.top ? &*report.top : nullptr,
            [&](const KeptRecord& k) { return recordHeld(records.fileFor(k.record.identity)); });
    } else if (cut) {
        lookup.choice = RecordChoice::NoneFits;
    }
    Safeguard why = Safeguard::None;
    switch (lookup.choice) {
    case RecordChoice::OwnBlocks:
        return true;
    case RecordChoice::Record:
        report.kept = lookup.record;
        report.incomplete =
            Incomplete{lookup.record->record.stoppedAt, lookup.record->record.since};
        if (!lookup.record->owner.trusted)
            progress.foreignRecordOwner = lookup.record->owner.name;
        return true;
    case RecordChoice::NoneFits:
        why = Safeguard::IdentityLost;
        break;
    case RecordChoice::Several:
        why = Safeguard::SeveralRecords;
        break;
    case RecordChoice::Held:
        why = Safeguard::RecordHeld;
        break;
    }
    report.stop.emplace().safeguard = why;
    report.outcome = why == Safeguard::RecordHeld ? Outcome::Failed : Outcome::IdentityLost;
    return false;
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
    UnitReports reports(link, comm, progress, job);
    // A blank identity's serial number is the one its record kept.
    const auto dumpFile = job.dumpFile(
        report.serial.empty() && report.kept ? report.kept->record.serial : report.serial,
        report.port);
    Workflow w{reports, link, job.release, catalog, dumpFile, report.serial};
    w.unitRecords = job.unitRecords;
    w.checkedIdentity = report.identity;
    w.port = report.port;
    w.recordRequired = true;
    w.checkedTop = report.top;
    const auto& before = report.kept;
    comm.startSpan(); // the time at the question is not the unit's
    progress.sessionStarted = true;
    const SessionResult result = ATUALIZA(w);
    reports.note();
    report.bytesSent = comm.bytesWritten();
    report.releaseAfter = releaseAfter(report, result, catalog.releaseNumber, before.has_value());
    if (!result.ownSerial.empty())
        report.serial = result.ownSerial; // what a blank identity was given back
    if (result.completed) {
        report.exchangesDone = link.exchange.exchanges;
        recordDump(report, result.dump);
        report.recordLeft = result.recordError;
    } else {
        const Safeguard why = result.stop.safeguard;
        report.outcome = interrupted() ? Outcome::Interrupted
                         : why == Safeguard::IdentityLost || why == Safeguard::SeveralRecords
                             ? Outcome::IdentityLost
                             : Outcome::Failed;
        if (why != Safeguard::None && result.stop.exchange == 0)
            report.exchangesDone = 0;
        report.stop = result.stop;
        report.exchangesDone = result.stop.exchange > 0 ? result.stop.exchange - 1 : 0;
        if (!result.openRecord.empty())
            report.incomplete = Incomplete{stepName(result.stop), result.since};
        else if (before)
            report.incomplete = Incomplete{before->record.stoppedAt, before->record.since};
    }
}

// restore: the record's blocks back into the unit they belong to and no
// other, by the session's own rule. The unit's blocks as they are now are
// kept first, in a record of their own, so that nothing read is lost.
bool restoreFits(const UnitRecord& record, UnitReport& report) {
    if (recordFitsUnit(record, *report.identity, *report.top))
        return true;
    report.outcome = Outcome::Failed;
    const auto said = [&] {
        return fill(
            tr("the unit is {1}, not {2} whose blocks the record keeps; nothing was written"),
            {orUnknown(report.serial), serialOf(record.identity)});
    };
    report.problemWords = said();
    const EnglishTexts english;
    report.problem = said();
    return false;
}

void runRestore(LinkExchange& link, const UnitJob& job, const UnitRecord& record,
                UnitReport& report) {
    const UnitBlock& identity = *report.identity;
    const UnitBlock& top = *report.top;
    if (!restoreFits(record, report) || job.restoreLook)
        return;
    RecordLock lock;
    std::string why;
    if (!job.unitRecords.empty()) {
        UnitRecords records(job.unitRecords, diskRecordFiles());
        UnitRecord now;
        now.identity = identity;
        now.top = top;
        now.serial = serialOf(identity);
        now.port = report.port;
        now.written = now.since = utcNow();
        now.release = identity[kReleaseByte];
        const auto held = lock.take(records.fileFor(record.identity), why);
        const fs::path undo = records.beforeRestoreFile(identity, now.written);
        if (held != RecordLock::State::Free || !records.keep(undo, now, why)) {
            report.outcome = Outcome::Failed;
            SessionStop& stop = report.stop.emplace();
            stop.step = SessionStep::TopBlock;
            stop.safeguard =
                held == RecordLock::State::Held ? Safeguard::RecordHeld : Safeguard::RecordNotKept;
            stop.recordError = why;
            return;
        }
        report.keptBefore = undo.string();
    }
    SessionStop stop;
    if (restoreUnitBlocks(link, record, stop)) {
        report.outcome = Outcome::Restored;
        report.serial = serialOf(record.identity);
        return;
    }
    report.outcome = interrupted() ? Outcome::Interrupted : Outcome::Failed;
    report.stop = stop;
}

// verify: a unit whose identity records another release and whose blocks
// differ from this release's nearly everywhere holds that release; a few
// differing blocks under this release's number are a memory fault.
bool holdsOtherRelease(const UnitReport& report, const ReadBack& r, int installs) {
    return report.releaseBefore && *report.releaseBefore != installs && r.read == r.blocks &&
           r.faults.size() * 2 >= r.blocks;
}

// On an open port: the window's eleven tries, each a handshake and, once
// answered, the check. false when no unit passed it.
bool tryUnit(SerialLink& link, CancellableComm& comm, const UnitJob& job, UnitProgress& progress,
             UnitReport& report) {
    bool answered = false;
    const auto check = [&](int attempt) {
        if (!answered)
            comm.startSpan(); // the unit's time begins with its first exchange
        answered = true;
        link.exchange.exchanges = 0;
        report.checkTries = attempt + 1;
        if (!readIdentity(link.exchange, report)) {
            if (job.onFailedTry && !interrupted())
                job.onFailedTry(report.port, attempt + 1, *report.checkStop);
            return false;
        }
        report.checkStop.reset();
        report.outcome = Outcome::Answered;
        if (!job.readBack) { // verify reads every block itself
            if (!readTopWhereNeeded(link.exchange, job, report))
                return true; // the read's failure is the outcome
            if (job.restore) {
                runRestore(link.exchange, job, *job.restore, report);
                report.bytesSent = comm.bytesWritten();
                report.exchangesDone = link.exchange.exchanges;
                return true;
            }
            if (!recordSettled(job, report, progress))
                return true; // not ready: nothing of the unit is touched
        }
        // A unit with an unfinished update is never left out: its update is finished.
        if (job.skipCurrent && report.releaseBefore == job.catalog.releaseNumber && !report.kept) {
            report.outcome = Outcome::Skipped;
            return true;
        }
        if (job.readBack) {
            const ReadBack& r = report.readBack.emplace(readBack(link.exchange, *job.readBack));
            report.outcome = interrupted()  ? Outcome::Interrupted
                             : r.allMatch() ? Outcome::Verified
                             : std::any_of(r.faults.begin(), r.faults.end(),
                                           [](const BlockFault& f) { return f.unread; })
                                 ? Outcome::Unreadable
                             : holdsOtherRelease(report, r, job.catalog.releaseNumber)
                                 ? Outcome::OtherRelease
                                 : Outcome::Differs;
            return true;
        }
        if (!job.update)
            return true;
        progress.serial = report.serial;
        progress.releaseBefore = report.releaseBefore.value_or(-1);
        progress.checked = true;
        if (job.confirmation && !job.confirmation->await()) {
            if (interrupted())
                report.outcome = Outcome::Interrupted;
            return true; // declined: the check was all
        }
        if (interrupted()) {
            report.outcome = Outcome::Interrupted;
            return true;
        }
        runSession(link, comm, job, progress, report);
        return true;
    };
    if (tryHandshakes(link.port, check, interrupted))
        return true;
    report.outcome = interrupted() ? Outcome::Interrupted
                     : answered    ? Outcome::Incompatible
                                   : Outcome::NoUnit;
    return false;
}

// COMn just opened (the scan's or a named one): why it would not open, or
// the unit on it. The port is left open.
UnitReport onOpenPort(int port, SerialLink& link, CancellableComm& comm, const UnitJob& job,
                      UnitProgress& progress) {
    comm.startSpan();
    UnitReport report;
    report.port = port;
    report.exchangesTotal = job.plan.exchanges;
    progress.port = port;
    if (auto problem = openProblem(link, comm, port)) {
        report.outcome = interrupted() ? Outcome::Interrupted : outcomeOf(*problem);
        report.portProblem = std::move(problem);
    } else {
        tryUnit(link, comm, job, progress, report);
    }
    if (const auto span = comm.span(); span && report.outcome != Outcome::NoUnit) {
        report.span = *span;
        report.seconds = std::chrono::duration<double>(span->second - span->first).count();
    }
    return report;
}

// The named port alone.
UnitReport onPort(int port, SerialLink& link, CancellableComm& comm, const UnitJob& job,
                  UnitProgress& progress) {
    link.port.ABRE_PORTA(port);
    UnitReport report = onOpenPort(port, link, comm, job, progress);
    link.port.FECHA_PORTA();
    return report;
}

} // namespace

void Confirmation::decide(bool go, bool asked) {
    std::lock_guard lock(mutex_);
    go_ = go;
    asked_ = asked;
    changed_.notify_all();
}

bool Confirmation::technicianAnswered() {
    std::lock_guard lock(mutex_);
    return asked_ && go_.value_or(false);
}

bool Confirmation::await() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return go_.has_value(); });
    return *go_;
}

bool Confirmation::decided() {
    std::lock_guard lock(mutex_);
    return go_.has_value();
}

namespace {
// Nothing there yet: a port with no unit answering, or an adapter not plugged in.
bool noUnitYet(Outcome o) {
    return o == Outcome::NoUnit || o == Outcome::Missing;
}

// Between two looks for a unit that is not there yet.
void pause(CommApi& comm) {
    comm.Sleep(500);
}

// The unit's own serial calls: the platform's, traced with --log, cut off by
// Ctrl-C (not between an erase and its write: the gate waits for the write).
struct UnitComm {
    explicit UnitComm(const UnitJob& job) : gate(interrupted) {
        CommApi& base = job.api ? *job.api : systemCommApi();
        if (job.log)
            trace.emplace(base, *job.log);
        cancellable.emplace(trace ? static_cast<CommApi&>(*trace) : base,
                            [this] { return gate(); });
    }
    UnitComm(const UnitComm&) = delete;
    UnitComm& operator=(const UnitComm&) = delete;
    StopGate gate;
    std::optional<ExchangeTrace> trace;
    std::optional<CancellableComm> cancellable;
};
} // namespace

UnitReport runUnit(int port, const UnitJob& job, UnitProgress& progress) {
    UnitComm unitComm(job);
    CancellableComm& comm = *unitComm.cancellable;
    SerialLink link(comm);
    link.exchange.wholeFrames = !job.byteWrites;
    unitComm.gate.watch(link.exchange);
    UnitReport report = onPort(port, link, comm, job, progress);
    while (job.wait && noUnitYet(report.outcome) && !interrupted()) {
        pause(comm);
        report = onPort(port, link, comm, job, progress);
    }
    if (interrupted() && noUnitYet(report.outcome))
        report.outcome = Outcome::Interrupted;
    progress.outcome = report.outcome;
    progress.done = true;
    return report;
}

namespace {
bool passedOver(Outcome o) {
    return o == Outcome::NoUnit || o == Outcome::Held || o == Outcome::Denied ||
           o == Outcome::Missing || o == Outcome::Incompatible;
}
} // namespace

namespace {
UnitReport scanOnce(SerialLink& link, CancellableComm& comm, const UnitJob& job,
                    UnitProgress& progress);
} // namespace

UnitReport scanAndRun(const UnitJob& job, UnitProgress& progress) {
    UnitComm unitComm(job);
    CancellableComm& comm = *unitComm.cancellable;
    SerialLink link(comm);
    link.exchange.wholeFrames = !job.byteWrites;
    unitComm.gate.watch(link.exchange);
    for (;;) {
        UnitReport report = scanOnce(link, comm, job, progress);
        if (!job.wait || !noUnitYet(report.outcome) || interrupted()) {
            progress.outcome = report.outcome;
            progress.done = true;
            return report;
        }
        pause(comm);
    }
}

namespace {
UnitReport scanOnce(SerialLink& link, CancellableComm& comm, const UnitJob& job,
                    UnitProgress& progress) {
    UnitReport report, incompatible;
    scanPorts(
        link.port, kFirstPort, kLastPort,
        [&](int n) {
            report = onOpenPort(n, link, comm, job, progress);
            if (report.outcome == Outcome::Incompatible)
                incompatible = report;
            return !passedOver(report.outcome);
        },
        interrupted);
    link.port.FECHA_PORTA();
    const bool found = !passedOver(report.outcome);
    if (!found) {
        // Not the last port's own state: no port of the scan had a unit.
        const double seconds = report.seconds;
        report = UnitReport{};
        report.seconds = seconds;
        report.exchangesTotal = job.plan.exchanges;
    }
    if (!found && incompatible.port != 0)
        report = incompatible; // the unit that cannot take the release, not "no unit"
    if (!found && interrupted())
        report.outcome = Outcome::Interrupted;
    return report;
}
} // namespace

Probe probePort(int port) {
    CancellableComm comm(systemCommApi(), interrupted);
    SerialLink link(comm);
    link.port.ABRE_PORTA(port);
    Probe probe = Probe::Missing;
    if (const auto problem = openProblem(link, comm, port)) {
        const Outcome o = outcomeOf(*problem);
        probe = o == Outcome::Held     ? Probe::Held
                : o == Outcome::Denied ? Probe::Denied
                                       : Probe::Missing;
    } else {
        const bool answers = tryHandshakes(
            link.port, [](int) { return true; }, interrupted);
        probe = answers ? Probe::Answers : Probe::Silent;
    }
    link.port.FECHA_PORTA();
    return probe;
}

} // namespace kronex::cli
