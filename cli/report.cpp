#include "report.h"

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

namespace kronex::cli {

namespace {

constexpr std::size_t kReleaseByte = 6;

std::string hex4(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v & 0xFFFF);
    return text;
}

std::string seconds(double s) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(1) << s << " s";
    return out.str();
}

// Bytes 9-10 and 7-8 of the identity block: the first and second erase.
std::pair<unsigned, unsigned> eraseAddresses(const std::array<std::uint8_t, 128>& id) {
    return {static_cast<unsigned>(id[9] << 8 | id[10]), static_cast<unsigned>(id[7] << 8 | id[8])};
}

std::string verdict(const UnitReport& unit, const LoadedCatalog& release) {
    const int installs = release.releaseNumber;
    // The release number may already be the new one: it is written before
    // the second target.
    if (unit.incomplete)
        return "update incomplete: stopped at " + unit.incomplete->stoppedAt + " (" +
               unit.incomplete->since + "); run the update again to finish it";
    if (!unit.releaseBefore)
        return "cannot take release " + std::to_string(installs);
    if (*unit.releaseBefore == installs)
        return "already has release " + std::to_string(installs);
    return "has release " + std::to_string(*unit.releaseBefore) + "; this program installs " +
           std::to_string(installs);
}

nlohmann::json optionalInt(const std::optional<int>& v) {
    return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
}

nlohmann::json optionalText(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

nlohmann::json incompleteJson(const UnitReport& u) {
    if (!u.incomplete)
        return nullptr;
    return {{"stopped_at", u.incomplete->stoppedAt}, {"since", u.incomplete->since}};
}

nlohmann::json releaseJson(const LoadedCatalog& release) {
    return {{"number", release.releaseNumber},
            {"caption", release.releaseCaption},
            {"date", release.releaseDate}};
}

nlohmann::json unitJson(const UnitReport& u) {
    nlohmann::json j = {
        {"port", com(u.port)},
        {"serial_number", u.serial.empty() ? nlohmann::json(nullptr) : nlohmann::json(u.serial)},
        {"release_before", optionalInt(u.releaseBefore)},
        {"release_after", optionalInt(u.releaseAfter)},
        {"outcome", outcomeName(u.outcome)},
        {"failed_step", nullptr},
        {"failed_command", nullptr},
        {"failed_exchange", nullptr},
        {"reason", nullptr},
        {"exchanges_done", u.exchangesDone},
        {"exchanges_total", u.exchangesTotal},
        {"seconds", std::round(u.seconds * 10) / 10},
        {"dump_file", optionalText(u.dumpFile)},
        {"dump_error", optionalText(u.dumpError)},
        {"incomplete", incompleteJson(u)}};
    if (u.stop) {
        j["failed_step"] = stepName(*u.stop);
        j["failed_command"] = commandText(*u.stop);
        j["failed_exchange"] = u.stop->exchange;
        j["reason"] = u.outcome == Outcome::Interrupted ? "interrupted" : reasonText(*u.stop);
    } else if (u.outcome != Outcome::Updated && u.outcome != Outcome::Answered &&
               u.outcome != Outcome::Restored) {
        j["reason"] = outcomeText(u);
    }
    return j;
}

} // namespace

std::string com(int port) {
    return "COM" + std::to_string(port);
}

nlohmann::json restoreJson(const UnitReport& u, const LoadedCatalog& release) {
    nlohmann::json j = unitJson(u);
    if (!u.problem.empty())
        j["reason"] = u.problem;
    return {{"command", "restore"}, {"release", releaseJson(release)}, {"units", {j}}};
}

std::string outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Updated:
        return "updated";
    case Outcome::Answered:
        return "answered";
    case Outcome::Failed:
        return "failed";
    case Outcome::Incompatible:
        return "incompatible";
    case Outcome::NoUnit:
        return "no unit";
    case Outcome::Held:
        return "held";
    case Outcome::Interrupted:
        return "interrupted";
    case Outcome::IdentityLost:
        return "identity_lost";
    case Outcome::Restored:
        return "restored";
    }
    return "?";
}

std::string outcomeText(const UnitReport& u) {
    std::string where;
    if (u.stop)
        where = stepName(*u.stop) + ", " + commandText(*u.stop) + " (exchange " +
                std::to_string(u.stop->exchange) + " of " + std::to_string(u.exchangesTotal) + ")";
    switch (u.outcome) {
    case Outcome::Updated:
        return "updated in " + seconds(u.seconds);
    case Outcome::Answered:
        return "answered";
    case Outcome::Failed:
        if (!u.stop)
            return u.problem;
        return "stopped at " + where + ": " + reasonText(*u.stop);
    case Outcome::IdentityLost:
        return "identity lost: the unit's identity block is blank and " +
               std::string(u.stop && u.stop->safeguard == Safeguard::SeveralRecords
                               ? "several records kept on this PC fit it"
                               : "no record kept on this PC fits it") +
               "; nothing of the unit's own was erased. Finish the update on the PC that began "
               "it, or copy that PC's record of the unit and run: kronex-update restore --record "
               "FILE";
    case Outcome::Restored:
        return "the unit's own blocks are back as the record kept them; run the update again";
    case Outcome::Incompatible:
        return "the unit answers but does not pass the compatibility check";
    case Outcome::NoUnit:
        return "no unit in update mode answers";
    case Outcome::Held:
        return "held by another program: passed over";
    case Outcome::Interrupted:
        return u.stop ? "interrupted at " + where : "interrupted before the update began";
    }
    return "?";
}

void recordDump(UnitReport& report, const DumpResult& dump) {
    report.outcome = dump.path.empty() ? Outcome::Failed : Outcome::Updated;
    report.dumpFile = dump.path.empty() ? std::string() : pathText(dump.path);
    report.dumpError = dump.error;
    if (dump.path.empty())
        report.problem =
            "updated, but the diagnostic file could not be written anywhere: " + dump.error;
}

void printPorts(std::ostream& out, const std::vector<PortState>& ports) {
    for (const auto& p : ports) {
        std::string state;
        switch (p.state) {
        case Probe::Missing:
            state = "cannot be opened";
            break;
        case Probe::Held:
            state = "held by another program";
            break;
        case Probe::Silent:
            state = "opens; no unit answers the handshake";
            break;
        case Probe::Answers:
            state = "opens; a unit in update mode answers";
            break;
        }
        out << std::left << std::setw(6) << com(p.port) << p.device;
        if (!p.via.empty())
            out << " (" << p.via << ")";
        out << ": " << state << "\n";
    }
}

nlohmann::json portsJson(const std::vector<PortState>& ports) {
    static const char* const kStates[] = {"missing", "held", "silent", "unit"};
    nlohmann::json list = nlohmann::json::array();
    for (const auto& p : ports)
        list.push_back({{"port", com(p.port)},
                        {"device", p.device},
                        {"link", p.via.empty() ? nlohmann::json(nullptr) : nlohmann::json(p.via)},
                        {"state", kStates[static_cast<int>(p.state)]}});
    return {{"command", "ports"}, {"ports", list}};
}

void printInfo(std::ostream& out, const UnitReport& u, const LoadedCatalog& release) {

    out << "This program installs release " << int{release.releaseNumber} << " \""
        << release.releaseCaption << "\" (" << release.releaseDate << ")\n";
    if (u.outcome != Outcome::Answered) {
        out << (u.port ? com(u.port) + ": " : std::string()) << outcomeText(u) << "\n";
        return;
    }
    const auto& id = *u.identity;
    const auto [first, second] = eraseAddresses(id);
    out << com(u.port) << ": unit " << u.serial << "\n"
        << "  release recorded:          " << int{id[kReleaseByte]} << "\n"
        << "  erase addresses recorded:  " << hex4(first) << ", " << hex4(second) << "\n"
        << "  compatibility check:       passed\n"
        << "  " << verdict(u, release) << "\n";
}

nlohmann::json infoJson(const UnitReport& u, const LoadedCatalog& release) {
    nlohmann::json j = {{"command", "info"},
                        {"release", releaseJson(release)},
                        {"port", u.port ? nlohmann::json(com(u.port)) : nlohmann::json(nullptr)},
                        {"outcome", outcomeName(u.outcome)}};
    if (u.outcome == Outcome::Answered) {
        const auto [first, second] = eraseAddresses(*u.identity);
        j["serial_number"] = u.serial;
        j["release_recorded"] = u.identity->at(kReleaseByte);
        j["erase_addresses"] = {hex4(first), hex4(second)};
        j["compatible"] = true;
        j["verdict"] = verdict(u, release);
        j["incomplete"] = incompleteJson(u);
    } else {
        j["compatible"] = false;
        j["reason"] = outcomeText(u);
    }
    return j;
}

void printUpdate(std::ostream& out, const std::vector<UnitReport>& units) {
    for (const auto& u : units) {
        out << com(u.port) << (u.serial.empty() ? "" : " (" + u.serial + ")") << ": "
            << outcomeText(u) << "\n";
        if (!u.dumpFile.empty())
            out << "  diagnostic file: " << u.dumpFile
                << (u.dumpError.empty() ? "" : " (" + u.dumpError + ")") << "\n";
    }
    if (units.size() < 2)
        return;
    out << "\n"
        << std::left << std::setw(7) << "Port" << std::setw(10) << "Serial" << std::setw(13)
        << "Outcome"
        << "Time\n";
    for (const auto& u : units)
        out << std::setw(7) << com(u.port) << std::setw(10) << (u.serial.empty() ? "-" : u.serial)
            << std::setw(13) << outcomeName(u.outcome) << seconds(u.seconds) << "\n";
}

nlohmann::json updateJson(const std::vector<UnitReport>& units, const LoadedCatalog& release) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& u : units)
        list.push_back(unitJson(u));
    return {{"command", "update"}, {"release", releaseJson(release)}, {"units", list}};
}

} // namespace kronex::cli
