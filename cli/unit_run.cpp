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
#include "windowless_ops.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace kronex::cli {

namespace {

constexpr std::size_t kReleaseByte = 6;

// What the session may do to a window: keep the progress figures current.
class ProgressWindow final : public WindowlessOps {
  public:
    ProgressWindow(SerialLink& link, CancellableComm& comm, UnitProgress& progress, int maximum)
        : WindowlessOps(maximum), link_(link), comm_(comm), progress_(progress) {}

    void pumpEvents() override {
        progress_.exchanges.store(link_.exchange.exchanges, std::memory_order_relaxed);
        progress_.bytes.store(comm_.bytesWritten(), std::memory_order_relaxed);
    }

  private:
    SerialLink& link_;
    CancellableComm& comm_;
    UnitProgress& progress_;
};

// Opens COMn; why not, when it would not open.
std::optional<PortProblem> open(SerialLink& link, CommApi& comm, int port) {
    link.port.ABRE_PORTA(port);
    if (isValidHandle(link.port.handle()))
        return std::nullopt;
    const DWORD error = comm.GetLastError();
    link.port.FECHA_PORTA();
    return diagnosePort(port, error);
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
    std::array<std::uint8_t, kBlockBytes> block{};
    link.attention = kAttentionByte;
    if (!CMD_LE_BLOCO(link, 0, kIdentityBlockAddress, block.data())) {
        recordLastExchange(link, report.checkStop.emplace());
        return false;
    }
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
        report.checkTries = attempt + 1;
        if (!readIdentity(link.exchange, report)) {
            if (job.onFailedTry && !interrupted())
                job.onFailedTry(report.port, attempt + 1, *report.checkStop);
            continue;
        }
        report.checkStop.reset();
        report.outcome = Outcome::Answered;
        if (job.restore) {
            runRestore(link.exchange, *job.restore, report);
            return true;
        }
        // A unit with an unfinished update is never left out: its update is finished.
        if (job.skipCurrent && report.releaseBefore == job.catalog.releaseNumber &&
            !openRecordFor(job, report)) {
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
                                 : Outcome::Differs;
            return true;
        }
        if (!job.update) {
            lookForRecord(job, report);
            return true;
        }
        progress.serial = report.serial;
        progress.releaseBefore = report.releaseBefore.value_or(0);
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
    if (auto problem = open(link, comm, port)) {
        report.outcome = interrupted() ? Outcome::Interrupted : outcomeOf(*problem);
        report.portProblem = std::move(problem);
    } else {
        tryUnit(link, comm, job, progress, report);
        link.port.FECHA_PORTA();
    }
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

} // namespace

void Confirmation::decide(bool go) {
    std::lock_guard lock(mutex_);
    go_ = go;
    changed_.notify_all();
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
    unitComm.gate.watch(link.exchange);
    UnitReport report = onPort(port, link, comm, job, progress);
    while (job.wait && noUnitYet(report.outcome) && !interrupted()) {
        pause(comm);
        report = onPort(port, link, comm, job, progress);
    }
    if (interrupted() && noUnitYet(report.outcome))
        report.outcome = Outcome::Interrupted;
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
    unitComm.gate.watch(link.exchange);
    for (;;) {
        UnitReport report = scanOnce(link, comm, job, progress);
        if (!job.wait || !noUnitYet(report.outcome) || interrupted()) {
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
    for (int n = kFirstPort; n <= kLastPort && !interrupted(); ++n) {
        report = onPort(n, link, comm, job, progress);
        if (report.outcome == Outcome::Incompatible)
            incompatible = report;
        else if (!passedOver(report.outcome))
            break;
    }
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
    if (const auto problem = open(link, comm, port)) {
        switch (outcomeOf(*problem)) {
        case Outcome::Held:
            return Probe::Held;
        case Outcome::Denied:
            return Probe::Denied;
        default:
            return Probe::Missing;
        }
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
