#include "commands.h"

#include "dump_file.h"
#include "embedded_release.h"
#include "interrupt.h"
#include "port_survey.h"
#include "progress_view.h"
#include "record_files.h"
#include "report.h"
#include "session_plan.h"

#include <algorithm>
#include <deque>
#include <iostream>
#include <thread>

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

bool confirmed() {
    std::cerr << "Switch each unit on in update mode (F2 held down), then type y and Enter to "
                 "begin: ";
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "s" || answer == "sim";
}

// The ports to update: as given, or every port where a unit answers.
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
        else if (p.state == Probe::Held)
            held.push_back(p.port);
    }
    return ports;
}

int exitStatus(const std::vector<UnitReport>& units, bool portsGiven) {
    bool any = false, failed = false;
    for (const auto& u : units) {
        if (u.outcome == Outcome::Interrupted)
            return kExitInterrupt;
        const bool lost = u.outcome == Outcome::IdentityLost;
        any = any || u.outcome == Outcome::Updated || u.outcome == Outcome::Failed || lost;
        failed = failed || u.outcome == Outcome::Failed || u.outcome == Outcome::Incompatible ||
                 lost || (portsGiven && u.outcome == Outcome::NoUnit);
    }
    if (!any && !failed)
        return kExitNoUnit;
    if (!any && std::all_of(units.begin(), units.end(),
                            [](const UnitReport& u) { return u.outcome == Outcome::NoUnit; }))
        return kExitNoUnit;
    return failed ? kExitFailed : kExitOk;
}

} // namespace

int portsCommand(const Options& o) {
    catchInterrupt();
    const auto ports = surveyPorts();
    if (o.json)
        emit(o, portsJson(ports));
    else
        printPorts(std::cout, ports);
    return interrupted() ? kExitInterrupt : kExitOk;
}

int infoCommand(const Options& o) {
    catchInterrupt();
    const UnitJob job{embeddedRelease(), release(), {}, false, {}};
    UnitProgress progress;
    const UnitReport unit =
        o.ports.empty() ? scanAndRun(job, progress) : runUnit(o.ports.front(), job, progress);
    if (o.json)
        emit(o, infoJson(unit, release()));
    else
        printInfo(std::cout, unit, release());
    switch (unit.outcome) {
    case Outcome::Answered:
        return kExitOk;
    case Outcome::Interrupted:
        return kExitInterrupt;
    case Outcome::NoUnit:
    case Outcome::Held:
        return kExitNoUnit;
    default:
        return kExitFailed;
    }
}

int updateCommand(const Options& o) {
    if (!o.yes && !confirmed()) {
        std::cerr << "Nothing was done.\n";
        return kExitFailed;
    }
    // Only now: at the question, Ctrl-C ends the program as usual.
    catchInterrupt();
    std::vector<int> held;
    const std::vector<int> ports = chosenPorts(o, held);
    for (const int n : held)
        std::cerr << "COM" << n << " is held by another program: passed over\n";
    if (o.all && ports.empty()) {
        std::cerr << "No unit in update mode answers on COM1 to COM16.\n";
        emit(o, updateJson({}, release()));
        return interrupted() ? kExitInterrupt : kExitNoUnit;
    }

    // One unit writes the window's file; several, one file each.
    const bool several = ports.size() > 1;
    const fs::path dir = o.dumpDir.empty() ? dumpFilePath().parent_path() : fs::path(o.dumpDir);
    UnitJob job{embeddedRelease(), release(), planSession(embeddedRelease(), release()), true,
                [&](const std::string& serial, int port) -> fs::path {
                    if (!several)
                        return o.dumpDir.empty() ? dumpFilePath() : dir / "TEXTO2.TXT";
                    return dir / ("TEXTO2-" + serial + "-COM" + std::to_string(port) + ".TXT");
                }};

    const std::size_t count = ports.empty() ? 1 : ports.size();
    std::deque<UnitProgress> progress(count); // not movable: a deque keeps them in place
    std::vector<UnitReport> reports(count);
    std::vector<std::thread> sessions;
    for (std::size_t i = 0; i < count; ++i)
        sessions.emplace_back([&, i] {
            reports[i] =
                ports.empty() ? scanAndRun(job, progress[i]) : runUnit(ports[i], job, progress[i]);
        });

    ProgressView view(stderr, job.plan);
    const auto allDone = [&] {
        return std::all_of(progress.begin(), progress.end(),
                           [](const UnitProgress& p) { return p.done.load(); });
    };
    while (!allDone()) {
        view.show(progress);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (auto& s : sessions)
        s.join();
    view.finish(progress);

    if (o.json)
        emit(o, updateJson(reports, release()));
    else
        printUpdate(std::cout, reports);
    return exitStatus(reports, !o.ports.empty());
}

// The unit's own blocks back from a record, perhaps copied from another PC.
int restoreCommand(const Options& o) {
    const auto text = diskRecordFiles().read(o.record);
    const auto record = text ? parseRecord(*text) : std::nullopt;
    if (!record) {
        std::cerr << o.record
                  << ": not a whole unit record (missing, cut short or its checksum fails); "
                     "nothing was written.\n";
        return kExitFailed;
    }
    catchInterrupt();
    // First the unit's identity alone, to show what would be written where.
    UnitJob look{embeddedRelease(), release(), {}, false, {}};
    look.unitRecords.clear();
    UnitProgress progress;
    UnitReport unit =
        o.ports.empty() ? scanAndRun(look, progress) : runUnit(o.ports.front(), look, progress);
    if (unit.outcome == Outcome::Answered && !o.yes) {
        std::cerr << com(unit.port) << ": unit " << unit.serial << ". Write back the blocks kept "
                  << "for unit " << record->serial << " on " << record->written << " (COM"
                  << record->port << ")? Type y and Enter: ";
        std::string answer;
        if (!std::getline(std::cin, answer) || (answer != "y" && answer != "Y" && answer != "yes" &&
                                                answer != "s" && answer != "sim")) {
            std::cerr << "Nothing was done.\n";
            return kExitFailed;
        }
    }
    if (unit.outcome == Outcome::Answered) {
        UnitJob job{embeddedRelease(), release(), {}, false, {}};
        job.restore = &*record;
        UnitProgress again;
        unit = runUnit(unit.port, job, again);
    }
    if (o.json)
        emit(o, restoreJson(unit, release()));
    else
        std::cout << (unit.port ? com(unit.port) + ": " : std::string()) << outcomeText(unit)
                  << "\n";
    switch (unit.outcome) {
    case Outcome::Restored:
        return kExitOk;
    case Outcome::Interrupted:
        return kExitInterrupt;
    case Outcome::NoUnit:
    case Outcome::Held:
        return kExitNoUnit;
    default:
        return kExitFailed;
    }
}

} // namespace kronex::cli
