#include "commands.h"

#include "advice.h"
#include "detection.h"
#include "dump_file.h"
#include "embedded_release.h"
#include "interrupt.h"
#include "messages.h"
#include "port_survey.h"
#include "progress_view.h"
#include "question.h"
#include "record_files.h"
#include "release_rehearsal.h"
#include "report.h"
#include "session_plan.h"
#include "unit_records.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define KRONEX_STDIN_IS_TERMINAL() (_isatty(_fileno(stdin)) != 0)
#else
#include <unistd.h>
#define KRONEX_STDIN_IS_TERMINAL() (isatty(STDIN_FILENO) != 0)
#endif

namespace kronex::cli {

namespace {

namespace fs = std::filesystem;

// The release compiled in was checked when the program was built.
const LoadedCatalog& release() {
    static const LoadedCatalog catalog = std::get<LoadedCatalog>(loadCatalog(embeddedRelease()));
    return catalog;
}

void emit(const Options& o, const nlohmann::json& json) {
    if (o.json)
        std::cout << json.dump(2) << "\n";
}

// The ports to update: as given, or every port where a unit answers (held
// ones come back in `held`, to be reported as passed over).
std::vector<int> chosenPorts(const Options& o, std::vector<int>& held) {
    if (!o.all) {
        std::vector<int> ports = o.ports;
        std::sort(ports.begin(), ports.end());
        ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
        return ports;
    }
    std::vector<int> ports;
    for (const auto& p : surveyPorts()) {
        if (p.state == Probe::Answers)
            ports.push_back(p.port);
        else if (p.state == Probe::Held || p.state == Probe::Denied)
            held.push_back(p.port);
    }
    return ports;
}

// A named port is the technician's choice: any trouble on it, no unit
// answering included, fails the run. A scan passes over what it cannot use,
// as the window's does.
int exitStatus(const std::vector<UnitReport>& units, bool named) {
    bool any = false, failed = false;
    for (const auto& u : units) {
        switch (u.outcome) {
        case Outcome::Interrupted:
            return kExitInterrupt;
        case Outcome::Updated:
        case Outcome::Skipped:
        case Outcome::Answered:
            any = true;
            break;
        case Outcome::NoUnit:
            failed = failed || named;
            break;
        case Outcome::Held:
        case Outcome::Denied:
        case Outcome::Missing:
            failed = failed || (named && !u.passedOver);
            break;
        default:
            failed = true;
            break;
        }
    }
    if (failed)
        return kExitFailed;
    return any ? kExitOk : kExitNoUnit;
}

// Lines written while the sessions' threads run, one at a time.
class Console {
  public:
    explicit Console(bool quiet) : quiet_(quiet) {}
    void line(const std::string& text) {
        if (quiet_)
            return;
        std::lock_guard lock(mutex_);
        // In one write: the progress another thread writes never lands inside the line.
        std::cerr << text + "\n" << std::flush;
        watchOutputs();
    }

  private:
    bool quiet_;
    std::mutex mutex_;
};

// An incompatible unit's tries as they happen: eleven of them take a minute.
std::function<void(int, int, const SessionStop&)> showTries(Console& console) {
    return [&console](int port, int attempt, const SessionStop& stop) {
        console.line(
            com(port) + ": " +
            fill(tr("try {1} of {2}: the unit answers the handshake but not the identity "
                    "read ({3})"),
                 {std::to_string(attempt), std::to_string(kTriesPerPort), reasonWords(stop)}));
    };
}

// Every unit listed, the release to be written, and the technician's answer.
Answer askToWrite(const std::deque<UnitProgress>& units) {
    int ready = 0;
    std::cerr << tr("Units ready in update mode:") << "\n";
    for (const auto& u : units) {
        if (!u.checked || u.done)
            continue;
        ++ready;
        std::cerr << "  " << com(u.port) << "  "
                  << fill(tr("unit {1}, release recorded {2}"),
                          {orUnknown(u.serial),
                           orUnknown(u.releaseBefore < 0 ? std::string()
                                                         : std::to_string(u.releaseBefore))})
                  << "\n";
        if (!u.foreignRecordOwner.empty())
            std::cerr << "        "
                      << fill(tr("its unfinished update is finished from a record that another "
                                 "user of this PC keeps ({1}): answer yes only if that is this "
                                 "unit's"),
                              {printable(u.foreignRecordOwner)})
                      << "\n";
    }
    const std::string count = fill(trn("{1} unit", "{1} units", ready), {std::to_string(ready)});
    std::cerr << fill(tr("Release {1} \"{2}\" ({3}) will be written into {4}."),
                      {std::to_string(release().releaseNumber), release().releaseCaption,
                       release().releaseDate, count})
              << "\n";
    return ask(tr("Type y and Enter to write it, n and Enter to leave the units as they are: "));
}

bool anyWaiting(const std::deque<UnitProgress>& units) {
    return std::any_of(units.begin(), units.end(),
                       [](const UnitProgress& p) { return p.checked && !p.done; });
}

// Until the unit on COMn is switched off or unplugged: the next one to
// answer there is another unit.
void awaitDeparture(int port) {
    for (;;) {
        const Probe p = probePort(port);
        if (interrupted() || p == Probe::Missing || p == Probe::Silent)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

// A completed unit whose record stays on this PC: taken later, it would be
// a stale record, so the technician removes it.
void warnRecordLeft(const UnitReport& u) {
    if (!u.recordLeft.empty())
        std::cerr << com(u.port) << ": "
                  << fill(tr("warning: the unit's record could not be removed ({1}); delete the "
                             "file before this unit is updated again"),
                          {printable(u.recordLeft)})
                  << "\n";
}

// --log FILE that lost lines is said at the end; a run that went well is
// then not called a success.
int logChecked(const Options& o, std::optional<ExchangeLog>& log, int status) {
    const std::string error = log ? log->error() : std::string();
    if (error.empty())
        return status;
    std::cerr << "kronex-update: "
              << fill(tr("--log {1}: lines could not be written ({2}); the trace is incomplete"),
                      {printable(o.logFile), error})
              << "\n";
    return status == kExitOk ? kExitLogLost : status;
}

// --loop: every port (or the scan) in its own thread, each unit updated as
// it comes, until Ctrl-C. Only this thread writes: the progress of the units
// being updated, each unit's line as it ends, and one closing summary.
int loopUpdates(const Options& o, const UnitJob& job, Console& console,
                const std::vector<int>& ports) {
    const std::vector<int> slots = ports.empty() ? std::vector<int>{0} : ports;
    struct Ended {
        std::size_t slot;
        std::shared_ptr<const UnitProgress> progress;
        UnitReport report;
    };
    std::mutex mutex; // guards `current` and `ended`
    std::vector<std::shared_ptr<const UnitProgress>> current(slots.size());
    std::deque<Ended> ended;
    std::atomic<std::size_t> running{slots.size()};
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < slots.size(); ++i)
        threads.emplace_back([&, i] {
            const int port = slots[i];
            while (!interrupted()) {
                const auto progress = std::make_shared<UnitProgress>();
                {
                    std::lock_guard lock(mutex);
                    current[i] = progress;
                }
                const UnitReport u =
                    port ? runUnit(port, job, *progress) : scanAndRun(job, *progress);
                if (u.outcome == Outcome::Interrupted && !u.stop)
                    break; // Ctrl-C while waiting: no unit to account for
                {
                    std::lock_guard lock(mutex);
                    ended.push_back({i, progress, u});
                }
                // The next unit on this port, or this one again once switched
                // off and on: first the port goes quiet.
                if (u.port != 0)
                    awaitDeparture(u.port);
            }
            --running;
        });
    console.line(ports.empty()
                     ? tr("Switch the units on in update mode one after another; Ctrl-C ends.")
                     : tr("Switch a unit on in update mode on each port; Ctrl-C ends."));

    std::vector<UnitReport> units;
    const auto report = [&](const UnitReport& u) {
        units.push_back(u);
        warnRecordLeft(u);
        // A unit that failed is taken again once switched off and on: no rerun.
        const bool again = u.outcome != Outcome::Updated && u.outcome != Outcome::Skipped &&
                           u.outcome != Outcome::Interrupted && u.port != 0;
        const char* const switchAgain = N_("switch the unit off and on again in update mode (F2 "
                                           "held down); it is taken again as soon as it answers");
        if (o.json) {
            nlohmann::json line = updateJson({u}, release(), true, u.seconds);
            if (again) {
                const EnglishTexts english;
                line["units"][0]["next_step"] = tr(switchAgain);
            }
            std::cout << line.dump() << "\n" << std::flush;
            return;
        }
        if (!o.quiet)
            std::cout << "[" << units.size() << "] " << unitLabel(u) << ": "
                      << (again ? outcomeText(u, tr(switchAgain)) : outcomeText(u)) << "\n"
                      << std::flush;
    };
    // What the view draws: a copy of each slot's unit once its session has
    // begun; a view of its own for each set of units, so that its times are theirs.
    std::deque<UnitProgress> shown(slots.size());
    std::vector<const UnitProgress*> drawn(slots.size(), nullptr);
    std::vector<std::shared_ptr<const UnitProgress>> reported(slots.size());
    std::optional<ProgressView> view;
    for (;;) {
        std::vector<Ended> done;
        std::vector<const UnitProgress*> now(slots.size(), nullptr);
        {
            std::lock_guard lock(mutex);
            done.assign(ended.begin(), ended.end());
            ended.clear();
            for (const Ended& e : done)
                reported[e.slot] = e.progress; // its bar is over
            for (std::size_t i = 0; i < slots.size(); ++i)
                if (current[i] && current[i]->sessionStarted && current[i] != reported[i])
                    now[i] = current[i].get();
            for (std::size_t i = 0; i < slots.size(); ++i) {
                const UnitProgress* from = now[i] ? now[i] : drawn[i];
                if (!from)
                    continue;
                shown[i].port = from->port.load();
                shown[i].exchanges = from->exchanges.load();
                shown[i].bytes = from->bytes.load();
                shown[i].sessionStarted = from->sessionStarted.load();
                shown[i].done = from->done.load();
                shown[i].outcome = from->outcome.load();
            }
        }
        if (view && (now != drawn || !done.empty())) {
            if (!o.quiet)
                view->finish(shown);
            view.reset();
        }
        for (const Ended& e : done)
            report(e.report);
        watchOutputs();
        for (std::size_t i = 0; i < slots.size(); ++i)
            if (!now[i]) { // nothing of this slot to draw
                shown[i].port = 0;
                shown[i].sessionStarted = false;
                shown[i].done = false;
            }
        drawn = now;
        const bool any = std::any_of(now.begin(), now.end(), [](auto p) { return p != nullptr; });
        if (any && !view)
            view.emplace(stderr, job.plan);
        if (view && !o.quiet)
            view->show(shown);
        if (running == 0 && done.empty()) {
            std::lock_guard lock(mutex);
            if (ended.empty())
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (auto& t : threads)
        t.join();
    if (view && !o.quiet)
        view->finish(shown);
    if (!o.json)
        std::cout << summaryLine(units, busySeconds(units)) << "\n";
    const bool cut = std::any_of(units.begin(), units.end(), [](const UnitReport& u) {
        return u.outcome == Outcome::Interrupted;
    });
    const bool failed = std::any_of(units.begin(), units.end(), [](const UnitReport& u) {
        return u.outcome != Outcome::Updated && u.outcome != Outcome::Skipped;
    });
    return cut ? kExitInterrupt : failed ? kExitFailed : kExitOk;
}

} // namespace

std::string logFileProblem(const std::string& path) {
    std::error_code ec;
    const char* problem = N_("--log {1} cannot be written: {2}");
    if (fs::is_directory(path, ec))
        return fill(tr(problem), {printable(path), tr("it is a folder")});
    errno = 0;
    std::ofstream out(path, std::ios::app);
    if (out)
        return {};
    const int error = errno;
    return fill(tr(problem),
                {printable(path), error != 0 ? std::strerror(error) : tr("it would not open")});
}

std::string dumpDirProblem(const std::string& text) {
    const fs::path dir(text);
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
        return fill(tr("--dump-dir {1} is not a folder"), {text});
    fs::create_directories(dir, ec);
    if (ec)
        return fill(tr("--dump-dir {1} cannot be made: {2}"), {text, ec.message()});
    // A file written and removed again: the folder takes the diagnostic files.
    const fs::path probe = dir / ".kronex-update-write-check";
    {
        std::ofstream out(probe, std::ios::binary);
        out << "x";
        if (!out.flush())
            return fill(tr("--dump-dir {1} cannot be written"), {text});
    }
    fs::remove(probe, ec);
    return {};
}

int portsCommand(const Options& o) {
    catchInterrupt();
    const auto ports = surveyPorts();
    if (o.json)
        emit(o, portsJson(ports));
    else if (o.quiet)
        std::cout << portsLine(ports) << "\n";
    else
        printPorts(std::cout, ports);
    return interrupted() ? kExitInterrupt : kExitOk;
}

namespace {

// One unit, read only (info and verify): the port named, or the window's scan.
UnitReport readOnlyRun(const Options& o, UnitJob& job, std::optional<ExchangeLog>& log) {
    catchInterrupt();
    Console console(o.quiet || o.json);
    job.onFailedTry = showTries(console);
    if (!o.logFile.empty())
        job.log = &log.emplace(o.logFile);
    UnitProgress progress;
    return o.ports.empty() ? scanAndRun(job, progress) : runUnit(o.ports.front(), job, progress);
}

// The exit status of a command on one unit, whose success is `success`.
int oneUnitExit(const Options& o, Outcome outcome, Outcome success) {
    if (outcome == success)
        return kExitOk;
    switch (outcome) {
    case Outcome::Interrupted:
        return kExitInterrupt;
    case Outcome::NoUnit:
    case Outcome::Held:
    case Outcome::Denied:
    case Outcome::Missing:
        return o.ports.empty() ? kExitNoUnit : kExitFailed;
    default:
        return kExitFailed;
    }
}

} // namespace

int infoCommand(const Options& o) {
    UnitJob job{embeddedRelease(), release(), {}, false, {}};
    job.byteWrites = o.byteWrites;
    std::optional<ExchangeLog> log;
    const UnitReport unit = readOnlyRun(o, job, log);
    if (o.json) {
        emit(o, infoJson(unit, release()));
    } else if (o.quiet) {
        std::cout << infoLine(unit, release()) << "\n";
    } else {
        printInfo(std::cout, unit, release());
        // A file in the folder that is no record is never taken; the
        // technician may want to know why a record seems forgotten.
        if (!o.quiet && !job.unitRecords.empty())
            for (const auto& [file, fault] :
                 UnitRecords(job.unitRecords, diskRecordFiles()).leftOut())
                std::cerr << fill(tr("note: {1} is left out, it is not a unit record: {2}"),
                                  {printable(file.string()), recordFaultMessage(fault, "")})
                          << "\n";
    }
    return logChecked(o, log, oneUnitExit(o, unit.outcome, Outcome::Answered));
}

int verifyCommand(const Options& o) {
    const auto blocks = rehearseUpdate(embeddedRelease(), release());
    UnitJob job{embeddedRelease(), release(), {}, false, {}};
    job.readBack = &blocks;
    job.byteWrites = o.byteWrites;
    std::optional<ExchangeLog> log;
    const UnitReport unit = readOnlyRun(o, job, log);
    if (o.json)
        emit(o, verifyJson(unit, release()));
    else if (o.quiet)
        std::cout << verifyLine(unit) << "\n";
    else
        printVerify(std::cout, unit, release());
    return logChecked(o, log, oneUnitExit(o, unit.outcome, Outcome::Verified));
}

int updateCommand(const Options& o) {
    if (!o.yes && !KRONEX_STDIN_IS_TERMINAL()) {
        const char* message =
            N_("no terminal to confirm on: give --yes to update without the question");
        if (o.json) {
            const EnglishTexts english;
            emit(o, usageJson("update", tr(message)));
        }
        std::cerr << "kronex-update: " << tr(message) << "\n";
        return kExitUsage;
    }
    catchInterrupt();
    Console console(o.quiet);
    std::vector<int> held;
    const std::vector<int> ports = chosenPorts(o, held);
    std::vector<UnitReport> passedOver;
    for (const int n : held) {
        UnitReport& r = passedOver.emplace_back();
        r.port = n;
        r.outcome = Outcome::Held;
        r.passedOver = true;
        console.line(com(n) + ": " + tr("held by another program: passed over"));
    }
    if (o.all && ports.empty()) {
        console.line(tr("No unit in update mode answers on COM1 to COM16."));
        emit(o, updateJson(passedOver, release(), true, busySeconds(passedOver)));
        if (!o.json)
            std::cout << summaryLine(passedOver, busySeconds(passedOver)) << "\n";
        return interrupted() ? kExitInterrupt : kExitNoUnit;
    }

    // One unit writes the window's file; several, one file each.
    const bool several = ports.size() > 1 || o.loop;
    const fs::path dir = o.dumpDir.empty() ? dumpFilePath().parent_path() : fs::path(o.dumpDir);
    Confirmation confirmation;
    if (o.yes)
        confirmation.decide(true);
    UnitJob job{embeddedRelease(), release(), planSession(embeddedRelease(), release()), true,
                [&](const std::string& serial, int port) -> fs::path {
                    if (!several)
                        return o.dumpDir.empty() ? dumpFilePath() : dir / "TEXTO2.TXT";
                    return dir / ("TEXTO2-" + serial + "-COM" + std::to_string(port) + ".TXT");
                }};
    job.confirmation = &confirmation;
    job.skipCurrent = o.skipCurrent;
    job.byteWrites = o.byteWrites;
    std::optional<ExchangeLog> log;
    if (!o.logFile.empty())
        job.log = &log.emplace(o.logFile);
    job.onFailedTry = showTries(console);
    job.wait = o.wait || o.loop;
    if (o.loop)
        return logChecked(o, log, loopUpdates(o, job, console, ports));
    if (o.wait)
        console.line(tr("Waiting for the units to answer in update mode; Ctrl-C ends."));

    const std::size_t count = ports.empty() ? 1 : ports.size();
    std::deque<UnitProgress> progress(count); // not movable: a deque keeps them in place
    std::vector<UnitReport> reports(count);
    std::vector<std::thread> sessions;
    for (std::size_t i = 0; i < count; ++i)
        sessions.emplace_back([&, i] {
            reports[i] =
                ports.empty() ? scanAndRun(job, progress[i]) : runUnit(ports[i], job, progress[i]);
        });

    // The survey: every unit checked, or done with; then the question.
    const auto surveyed = [&] {
        return std::all_of(progress.begin(), progress.end(),
                           [](const UnitProgress& p) { return p.checked || p.done; });
    };
    while (!surveyed() && !interrupted()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        watchOutputs();
    }
    // Ctrl-C at the question ends it at once: the units report it, not a decline.
    bool declined = false, cut = false;
    if (!confirmation.decided()) {
        const bool asking = !interrupted() && anyWaiting(progress);
        const Answer answer = asking ? askToWrite(progress) : Answer::Decline;
        const bool go = answer == Answer::Go && !interrupted();
        cut = asking && !go && interrupted();
        declined = asking && !go && !cut;
        confirmation.decide(go, asking);
    }

    ProgressView view(stderr, job.plan);
    const auto allDone = [&] {
        return std::all_of(progress.begin(), progress.end(),
                           [](const UnitProgress& p) { return p.done.load(); });
    };
    while (!allDone()) {
        if (!o.quiet)
            view.show(progress);
        watchOutputs();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (auto& s : sessions)
        s.join();
    if (!o.quiet)
        view.finish(progress);

    std::vector<UnitReport> units = passedOver;
    units.insert(units.end(), reports.begin(), reports.end());
    std::sort(units.begin(), units.end(),
              [](const UnitReport& a, const UnitReport& b) { return a.port < b.port; });
    if (o.json) {
        emit(o, updateJson(units, release(), !declined && !cut, busySeconds(units)));
    } else {
        if (!o.quiet)
            printUpdate(std::cout, units);
        if (declined)
            std::cout << tr("Nothing was written: you did not confirm the update.") << "\n";
        std::cout << summaryLine(units, busySeconds(units)) << "\n";
    }
    for (const auto& u : units)
        warnRecordLeft(u);
    if (declined && !interrupted())
        return logChecked(o, log, kExitDeclined);
    return logChecked(o, log, exitStatus(units, !o.ports.empty()));
}

// The unit's own blocks back from a record, perhaps copied from another PC.
int restoreCommand(const Options& o) {
    // The file is input from outside, perhaps from another PC: read with
    // care and checked rule by rule; any fault is a usage error.
    RecordFault fault = RecordFault::None;
    std::string why;
    const auto text = diskRecordFiles().read(o.record, fault, why);
    const auto record = text ? parseRecord(*text, &fault) : std::nullopt;
    const char* notARecord = N_("{1}: not a unit record: {2}; nothing was written");
    if (!record) {
        if (o.json) {
            const EnglishTexts english;
            emit(o, usageJson("restore", fill(tr(notARecord), {printable(o.record),
                                                               recordFaultMessage(fault, why)})));
        }
        std::cerr << "kronex-update: "
                  << fill(tr(notARecord), {printable(o.record), recordFaultMessage(fault, why)})
                  << "\n";
        return kExitUsage;
    }
    if (!o.yes && !KRONEX_STDIN_IS_TERMINAL()) {
        const char* message =
            N_("no terminal to confirm on: give --yes to restore without the question");
        if (o.json) {
            const EnglishTexts english;
            emit(o, usageJson("restore", tr(message)));
        }
        std::cerr << "kronex-update: " << tr(message) << "\n";
        return kExitUsage;
    }
    catchInterrupt();
    // First the unit's identity alone, to show what would be written where.
    UnitJob look{embeddedRelease(), release(), {}, false, {}};
    look.restore = &*record;
    look.restoreLook = true;
    look.byteWrites = o.byteWrites;
    UnitProgress progress;
    UnitReport unit =
        o.ports.empty() ? scanAndRun(look, progress) : runUnit(o.ports.front(), look, progress);
    if (unit.outcome == Outcome::Answered && !o.yes) {
        const Answer answer =
            ask(com(unit.port) + ": " +
                fill(tr("unit {1}. Write back the blocks kept for unit {2} on {3} (COM{4})? "
                        "Type y and Enter: "),
                     {orUnknown(unit.serial), serialOf(record->identity),
                      printable(record->written), std::to_string(record->port)}));
        if (answer == Answer::Interrupted || interrupted()) {
            unit.outcome = Outcome::Interrupted;
            std::cerr << tr("Nothing was written: the restore was interrupted.") << "\n";
            emit(o, restoreJson(unit, release()));
            return kExitInterrupt;
        }
        if (answer == Answer::Decline) {
            std::cerr << tr("Nothing was written: you did not confirm the restore.") << "\n";
            emit(o, restoreJson(unit, release()));
            return kExitDeclined;
        }
    }
    if (unit.outcome == Outcome::Answered) {
        UnitJob job{embeddedRelease(), release(), {}, false, {}};
        job.restore = &*record;
        job.byteWrites = o.byteWrites;
        UnitProgress again;
        const UnitReport looked = unit;
        unit = runUnit(unit.port, job, again);
        // What the command sent: the first look's reads as well as the restore.
        unit.bytesSent += looked.bytesSent;
        unit.exchangesDone += looked.exchangesDone;
    }
    if (o.json) {
        emit(o, restoreJson(unit, release()));
    } else {
        std::cout << (unit.port ? com(unit.port) + ": " : std::string()) << outcomeText(unit)
                  << "\n";
        if (!unit.keptBefore.empty() && !o.quiet)
            std::cout << "  "
                      << fill(tr("the unit's blocks as they were are kept in {1}"),
                              {printable(unit.keptBefore)})
                      << "\n";
    }
    return oneUnitExit(o, unit.outcome, Outcome::Restored);
}

} // namespace kronex::cli
