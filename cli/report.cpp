#include "report.h"

#include "advice.h"
#include "identity_layout.h"
#include "messages.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>
#include <type_traits>

namespace kronex::cli {

namespace {

std::string hex4(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v & 0xFFFF);
    return text;
}

std::string seconds(double s) {
    return decimal(s, 1) + " s";
}

// The first and second erase addresses the identity block records.
std::pair<unsigned, unsigned> eraseAddresses(const std::array<std::uint8_t, 128>& id) {
    return {eraseAddressAt(id.data(), kFirstEraseByte),
            eraseAddressAt(id.data(), kSecondEraseByte)};
}

std::string verdict(const UnitReport& unit, const LoadedCatalog& release) {
    const std::string installs = std::to_string(release.releaseNumber);
    // The release number may already be the new one: it is written before
    // the second target.
    if (unit.incomplete)
        return fill(
            tr("update incomplete: stopped at {1} ({2}); run the update again to finish it"),
            {stepText(unit.incomplete->stoppedAt), unit.incomplete->since});
    if (!unit.releaseBefore)
        return fill(tr("cannot take release {1}"), {installs});
    if (*unit.releaseBefore == release.releaseNumber)
        return fill(tr("already has release {1}"), {installs});
    return fill(tr("has release {1}; this program installs {2}"),
                {std::to_string(*unit.releaseBefore), installs});
}

nlohmann::json textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

nlohmann::json portErrorJson(const UnitReport& u) {
    if (!u.portProblem)
        return nullptr;
    return {{"cause", causeName(u.portProblem->cause)},
            {"code", u.portProblem->code},
            {"text", u.portProblem->text}};
}

// What happened and what to do, in the chosen language, and the precise account.
void adviceJson(const UnitReport& u, nlohmann::json& j) {
    const EnglishTexts english;
    const Advice advice = adviceFor(u);
    j["explanation"] = textOrNull(advice.happened);
    j["next_step"] = textOrNull(advice.next);
    j["detail"] = textOrNull(detailOf(u));
    j["port_error"] = portErrorJson(u);
}

bool failure(Outcome o) {
    return o != Outcome::Updated && o != Outcome::Answered && o != Outcome::Skipped &&
           o != Outcome::Verified && o != Outcome::Restored;
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
        {"port", u.port ? nlohmann::json(com(u.port)) : nlohmann::json(nullptr)},
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
        {"bytes_sent", u.bytesSent},
        {"dump_file", optionalText(u.dumpFile)},
        {"dump_error", optionalText(u.dumpError)},
        {"incomplete", incompleteJson(u)}};
    if (u.stop) {
        // A stop settled before anything was sent names no step or command.
        if (u.stop->exchange > 0) {
            j["failed_step"] = stepName(*u.stop);
            j["failed_command"] = commandText(*u.stop);
            j["failed_exchange"] = u.stop->exchange;
        }
        j["reason"] = u.outcome == Outcome::Interrupted ? "interrupted" : reasonText(*u.stop);
    } else if (u.outcome == Outcome::Incompatible && u.checkStop) {
        j["failed_command"] = commandText(*u.checkStop);
        j["reason"] = reasonText(*u.checkStop);
    } else if (failure(u.outcome)) {
        j["reason"] = u.problem.empty() ? outcomeName(u.outcome) : u.problem;
    }
    adviceJson(u, j);
    return j;
}

} // namespace

std::string printable(std::string_view text) {
    std::string out;
    const auto escape = [&](unsigned char b) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", b);
        out += hex;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (b < 0x20 || b == 0x7F)
                escape(b);
            else
                out += static_cast<char>(b);
            ++i;
            continue;
        }
        // A whole UTF-8 sequence passes, except the two bytes of a C1 control.
        const std::size_t n = b >= 0xC2 && b <= 0xDF   ? 2
                              : b >= 0xE0 && b <= 0xEF ? 3
                              : b >= 0xF0 && b <= 0xF4 ? 4
                                                       : 0;
        bool whole = n > 0 && i + n <= text.size();
        for (std::size_t k = 1; whole && k < n; ++k)
            whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        const bool c1 = whole && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (!whole || c1) {
            for (std::size_t k = 0; k < (c1 ? 2 : 1); ++k)
                escape(static_cast<unsigned char>(text[i + k]));
            i += c1 ? 2 : 1;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string recordFaultMessage(RecordFault fault, const std::string& why) {
    switch (fault) {
    case RecordFault::None:
        break;
    case RecordFault::Unreadable:
        return fill(tr("the file cannot be read ({1})"), {why});
    case RecordFault::NotAFile:
        return tr("not a regular file (a folder, device, pipe or symbolic link)");
    case RecordFault::TooLarge:
        return tr("larger than a unit record can be (4 KiB)");
    case RecordFault::Heading:
        return tr("the first line is not \"KRONEX unit record 1\"");
    case RecordFault::Lines:
        return tr("its lines are not the record's keys, each once and in the written order");
    case RecordFault::Checksum:
        return tr("the checksum does not match the text (cut short or changed)");
    case RecordFault::Serial:
        return tr("the serial number is not the one in the identity block");
    case RecordFault::Port:
        return tr("the port is not COM1 to COM256");
    case RecordFault::Written:
        return tr("the time written is not a UTC time as the program writes it");
    case RecordFault::Release:
        return tr("the release is not a number from 0 to 255");
    case RecordFault::StoppedAt:
        return tr("where the update stopped is empty, too long or not plain text");
    case RecordFault::Since:
        return tr("the time the update stopped is not a UTC time as the program writes it");
    case RecordFault::Identity:
        return tr("the identity block is not 128 bytes in hexadecimal");
    case RecordFault::Top:
        return tr("the top block is not 128 bytes in hexadecimal");
    }
    return tr("not a unit record");
}

std::string com(int port) {
    return "COM" + std::to_string(port);
}

std::string orUnknown(const std::string& text) {
    return text.empty() ? tr("unknown") : text;
}

std::string unitLabel(const UnitReport& u) {
    const std::string port = u.port ? com(u.port) : std::string("COM1-16");
    if (!u.serial.empty() || u.identity)
        return port + " (" + orUnknown(u.serial) + ")";
    return port;
}

nlohmann::json restoreJson(const UnitReport& u, const LoadedCatalog& release) {
    nlohmann::json j = unitJson(u);
    if (!u.problem.empty())
        j["reason"] = u.problem;
    j["kept_before"] =
        u.keptBefore.empty() ? nlohmann::json(nullptr) : nlohmann::json(u.keptBefore);
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
        return "no_unit";
    case Outcome::Held:
        return "held";
    case Outcome::Denied:
        return "denied";
    case Outcome::Missing:
        return "missing";
    case Outcome::Skipped:
        return "skipped";
    case Outcome::Verified:
        return "verified";
    case Outcome::Differs:
        return "differs";
    case Outcome::OtherRelease:
        return "other_release";
    case Outcome::Unreadable:
        return "unreadable";
    case Outcome::Interrupted:
        return "interrupted";
    case Outcome::IdentityLost:
        return "identity_lost";
    case Outcome::Restored:
        return "restored";
    }
    return "failed";
}

std::string outcomeWord(Outcome outcome) {
    switch (outcome) {
    case Outcome::Updated:
        return tr("updated");
    case Outcome::Answered:
        return tr("answered");
    case Outcome::Failed:
        return tr("failed");
    case Outcome::Incompatible:
        return tr("incompatible");
    case Outcome::NoUnit:
        return tr("no unit");
    case Outcome::Held:
        return tr("held");
    case Outcome::Denied:
        return tr("denied");
    case Outcome::Missing:
        return tr("missing");
    case Outcome::Skipped:
        return tr("skipped");
    case Outcome::Verified:
        return tr("verified");
    case Outcome::Differs:
        return tr("differs");
    case Outcome::OtherRelease:
        return tr("another release");
    case Outcome::Unreadable:
        return tr("unreadable");
    case Outcome::Interrupted:
        return tr("interrupted");
    case Outcome::IdentityLost:
        return tr("identity lost");
    case Outcome::Restored:
        return tr("restored");
    }
    return tr("failed");
}

std::string outcomeText(const UnitReport& u) {
    return outcomeText(u, adviceFor(u).next);
}

std::string outcomeText(const UnitReport& u, const std::string& next) {
    switch (u.outcome) {
    case Outcome::Updated:
        return fill(tr("updated in {1}"), {seconds(u.seconds)});
    case Outcome::Answered:
        return tr("passed the compatibility check; nothing was written");
    case Outcome::Skipped:
        return tr("already holds this release: left as it is");
    case Outcome::Verified:
        return fill(trn("verified: the {1} block the release writes reads back as written",
                        "verified: all {1} blocks the release writes read back as written",
                        u.readBack->blocks),
                    {std::to_string(u.readBack->blocks)});
    case Outcome::Restored:
        return tr("the unit's own blocks are back as the record kept them; run the update again");
    default:
        break;
    }
    std::string text = adviceFor(u).happened;
    if (!next.empty())
        text += ". " + fill(tr("What to do: {1}."), {next});
    if (const std::string detail = detailOf(u); !detail.empty())
        text += " [" + detail + "]";
    return text;
}

double busySeconds(const std::vector<UnitReport>& units) {
    using Span = std::decay_t<decltype(*UnitReport::span)>;
    std::vector<Span> spans;
    for (const auto& u : units)
        if (u.span)
            spans.push_back(*u.span);
    std::sort(spans.begin(), spans.end());
    double total = 0;
    for (std::size_t i = 0; i < spans.size();) {
        auto [from, to] = spans[i];
        for (++i; i < spans.size() && spans[i].first <= to; ++i)
            to = std::max(to, spans[i].second);
        total += std::chrono::duration<double>(to - from).count();
    }
    return total;
}

std::string summaryLine(const std::vector<UnitReport>& units, double s) {
    int updated = 0, failed = 0, cut = 0;
    std::uint64_t bytes = 0;
    for (const auto& u : units) {
        updated += u.outcome == Outcome::Updated;
        failed += failure(u.outcome) && !u.passedOver && u.outcome != Outcome::Interrupted;
        cut += u.outcome == Outcome::Interrupted; // the technician's stop, not a failure
        bytes += u.bytesSent;
    }
    const std::string rate = decimal(static_cast<double>(bytes) / 1000, 1) + " kB";
    const long bits = s > 0 ? std::lround(static_cast<double>(bytes) * 10 / s) : 0;
    // Portuguese agrees the words with each count ("1 atualizada", "2 atualizadas").
    const auto n = [](int count) { return static_cast<unsigned long long>(count); };
    std::string failedPart =
        fill(trn("{1} failed", "{1} failed", n(failed)), {std::to_string(failed)});
    if (cut > 0)
        failedPart +=
            ", " + fill(trn("{1} interrupted", "{1} interrupted", n(cut)), {std::to_string(cut)});
    return fill(tr("{1}, {2}; {3} sent in {4}, effective line rate {5} bit/s"),
                {fill(trn("{1} updated", "{1} updated", n(updated)), {std::to_string(updated)}),
                 failedPart, rate, seconds(s), std::to_string(bits)});
}

nlohmann::json summaryJson(const std::vector<UnitReport>& units, double s) {
    int updated = 0, failed = 0, skipped = 0, cut = 0;
    std::uint64_t bytes = 0;
    for (const auto& u : units) {
        updated += u.outcome == Outcome::Updated;
        skipped += u.outcome == Outcome::Skipped;
        failed += failure(u.outcome) && !u.passedOver && u.outcome != Outcome::Interrupted;
        cut += u.outcome == Outcome::Interrupted; // the technician's stop, not a failure
        bytes += u.bytesSent;
    }
    return {{"updated", updated},
            {"failed", failed},
            {"interrupted", cut},
            {"skipped", skipped},
            {"bytes_sent", bytes},
            {"seconds", std::round(s * 10) / 10},
            {"bits_per_second", s > 0 ? std::lround(static_cast<double>(bytes) * 10 / s) : 0}};
}

nlohmann::json usageJson(const std::string& command, const std::string& message) {
    return {{"command", command.empty() ? nlohmann::json(nullptr) : nlohmann::json(command)},
            {"error", "usage"},
            {"message", message}};
}

void recordDump(UnitReport& report, const DumpResult& dump) {
    report.outcome = dump.path.empty() ? Outcome::Failed : Outcome::Updated;
    report.dumpFile = dump.path.empty() ? std::string() : pathText(dump.path);
    report.dumpError = dump.error;
    if (dump.path.empty()) {
        const auto said = [&] {
            return fill(tr("updated, but the diagnostic file could not be written anywhere: {1}"),
                        {dump.error});
        };
        report.problemWords = said();
        const EnglishTexts english;
        report.problem = said();
    }
}

void printPorts(std::ostream& out, const std::vector<PortState>& ports) {
    for (const auto& p : ports) {
        std::string state;
        switch (p.state) {
        case Probe::Missing:
            state = tr("cannot be opened");
            break;
        case Probe::Held:
            state = tr("held by another program");
            break;
        case Probe::Denied:
            state = tr("this user may not open it");
            break;
        case Probe::Silent:
            state = tr("opens; no unit answers the handshake");
            break;
        case Probe::Answers:
            state = tr("opens; a unit in update mode answers");
            break;
        }
        out << std::left << std::setw(6) << com(p.port) << p.device;
        if (!p.via.empty())
            out << " (" << p.via << ")";
        out << ": " << state;
        if (p.usb)
            out << "; "
                << (p.driver.empty() ? tr("USB adapter")
                                     : fill(tr("USB adapter ({1})"), {p.driver}));
        if (p.latencyMs)
            out << ", " << fill(tr("latency timer {1} ms"), {std::to_string(*p.latencyMs)});
        out << "\n";
    }
}

nlohmann::json portsJson(const std::vector<PortState>& ports) {
    static const char* const kStates[] = {"missing", "held", "silent", "unit", "denied"};
    nlohmann::json list = nlohmann::json::array();
    for (const auto& p : ports)
        list.push_back(
            {{"port", com(p.port)},
             {"device", p.device},
             {"link", p.via.empty() ? nlohmann::json(nullptr) : nlohmann::json(p.via)},
             {"state", kStates[static_cast<int>(p.state)]},
             {"usb", p.usb},
             {"driver", p.driver.empty() ? nlohmann::json(nullptr) : nlohmann::json(p.driver)},
             {"latency_ms", p.latencyMs ? nlohmann::json(*p.latencyMs) : nlohmann::json(nullptr)}});
    return {{"command", "ports"}, {"ports", list}};
}

std::string portsLine(const std::vector<PortState>& ports) {
    std::string found;
    unsigned n = 0;
    for (const auto& p : ports)
        if (p.state == Probe::Answers)
            found += (n++ == 0 ? "" : ", ") + com(p.port);
    if (n == 0)
        return tr("No unit in update mode answers on COM1 to COM16.");
    return fill(trn("{1} unit in update mode: {2}", "{1} units in update mode: {2}", n),
                {std::to_string(n), found});
}

std::string infoLine(const UnitReport& u, const LoadedCatalog& release) {
    if (u.outcome != Outcome::Answered)
        return (u.port ? com(u.port) + ": " : std::string()) + outcomeText(u);
    return unitLabel(u) + ": " + verdict(u, release);
}

std::string verifyLine(const UnitReport& u) {
    return unitLabel(u) + ": " + outcomeText(u);
}

void printInfo(std::ostream& out, const UnitReport& u, const LoadedCatalog& release) {
    out << fill(
               tr("This program installs release {1} \"{2}\" ({3})"),
               {std::to_string(release.releaseNumber), release.releaseCaption, release.releaseDate})
        << "\n";
    if (u.outcome != Outcome::Answered) {
        out << infoLine(u, release) << "\n";
        return;
    }
    const auto& id = *u.identity;
    const auto [first, second] = eraseAddresses(id);
    // The values in one column, however long the labels are in the language.
    const std::string labels[] = {tr("release recorded:"), tr("erase addresses recorded:"),
                                  tr("compatibility check:")};
    std::size_t width = 0;
    for (const auto& l : labels)
        width = std::max(width, displayWidth(l) + 2);
    out << com(u.port) << ": " << fill(tr("unit {1}"), {orUnknown(u.serial)}) << "\n"
        << "  " << padded(labels[0], width)
        << orUnknown(u.releaseBefore ? std::to_string(*u.releaseBefore) : "") << "\n"
        << "  " << padded(labels[1], width) << hex4(first) << ", " << hex4(second) << "\n"
        << "  " << padded(labels[2], width) << tr("passed") << "\n"
        << "  " << verdict(u, release) << "\n";
}

nlohmann::json infoJson(const UnitReport& u, const LoadedCatalog& release) {
    nlohmann::json j = {{"command", "info"},
                        {"release", releaseJson(release)},
                        {"port", u.port ? nlohmann::json(com(u.port)) : nlohmann::json(nullptr)},
                        {"outcome", outcomeName(u.outcome)},
                        {"serial_number", nullptr},
                        {"release_recorded", nullptr},
                        {"erase_addresses", nullptr},
                        // Unknown until a unit answered the handshake.
                        {"compatible", nullptr},
                        {"verdict", nullptr},
                        {"reason", nullptr}};
    if (u.outcome == Outcome::Answered) {
        const auto [first, second] = eraseAddresses(*u.identity);
        j["serial_number"] = textOrNull(u.serial);
        j["release_recorded"] = optionalInt(u.releaseBefore);
        j["erase_addresses"] = {hex4(first), hex4(second)};
        j["compatible"] = true;
        const EnglishTexts english;
        j["verdict"] = verdict(u, release);
        j["incomplete"] = incompleteJson(u);
    } else {
        if (u.outcome == Outcome::Incompatible)
            j["compatible"] = false;
        j["reason"] = u.checkStop && u.outcome == Outcome::Incompatible
                          ? nlohmann::json(reasonText(*u.checkStop))
                          : nlohmann::json(outcomeName(u.outcome));
    }
    adviceJson(u, j);
    return j;
}

void printUpdate(std::ostream& out, const std::vector<UnitReport>& units) {
    for (const auto& u : units) {
        out << unitLabel(u) << ": " << outcomeText(u) << "\n";
        if (!u.dumpFile.empty())
            out << "  " << fill(tr("diagnostic file: {1}"), {u.dumpFile})
                << (u.dumpError.empty() ? "" : " (" + u.dumpError + ")") << "\n";
    }
    if (units.size() < 2)
        return;
    // Columns by display width: "Série" is five columns, not six bytes; a
    // column widens for a longer word than its usual width takes.
    std::size_t outcomeWidth = 13;
    for (const auto& u : units)
        outcomeWidth = std::max(outcomeWidth, displayWidth(outcomeWord(u.outcome)) + 1);
    out << "\n"
        << padded(tr("Port"), 7) << padded(tr("Serial"), 10) << padded(tr("Outcome"), outcomeWidth)
        << tr("Time") << "\n";
    for (const auto& u : units)
        out << padded(com(u.port), 7) << padded(u.serial.empty() ? "-" : u.serial, 10)
            << padded(outcomeWord(u.outcome), outcomeWidth) << seconds(u.seconds) << "\n";
}

void printVerify(std::ostream& out, const UnitReport& u, const LoadedCatalog& release) {
    out << fill(
               tr("This program installs release {1} \"{2}\" ({3})"),
               {std::to_string(release.releaseNumber), release.releaseCaption, release.releaseDate})
        << "\n";
    out << verifyLine(u) << "\n";
    if (!u.readBack)
        return;
    // Another release differs nearly everywhere: the list would say nothing more.
    for (const auto& f :
         u.outcome == Outcome::OtherRelease ? std::vector<BlockFault>() : u.readBack->faults)
        out << "  " << blockName(f.target, f.address) << ": "
            << (f.unread ? fill(tr("not read ({1})"), {f.whyText})
                         : fill(trn("{1} byte differs, at byte {2}",
                                    "{1} bytes differ, the first at byte {2}",
                                    static_cast<unsigned long long>(f.bytes)),
                                {std::to_string(f.bytes), std::to_string(f.firstByte)}))
            << "\n";
    out << "  " << tr("The data part cannot be read back (the unit has no command for it).")
        << "\n";
}

nlohmann::json verifyJson(const UnitReport& u, const LoadedCatalog& release) {
    nlohmann::json faults = nlohmann::json::array();
    if (u.readBack)
        for (const auto& f : u.readBack->faults)
            faults.push_back({{"block", blockName(f.target, f.address)},
                              {"target", f.target},
                              {"address", hex4(f.address)},
                              {"read", !f.unread},
                              {"why", f.unread ? nlohmann::json(f.why) : nlohmann::json(nullptr)},
                              {"first_byte", f.firstByte >= 0 ? nlohmann::json(f.firstByte)
                                                              : nlohmann::json(nullptr)},
                              {"bytes_differing", f.bytes}});
    nlohmann::json j = {
        {"command", "verify"},
        {"release", releaseJson(release)},
        {"port", u.port ? nlohmann::json(com(u.port)) : nlohmann::json(nullptr)},
        {"serial_number", textOrNull(u.serial)},
        {"release_recorded", optionalInt(u.releaseBefore)},
        {"outcome", outcomeName(u.outcome)},
        {"blocks", u.readBack ? nlohmann::json(u.readBack->blocks) : nlohmann::json(nullptr)},
        {"blocks_read", u.readBack ? nlohmann::json(u.readBack->read) : nlohmann::json(nullptr)},
        {"faults", faults},
        {"data_part_checked", false}};
    adviceJson(u, j);
    return j;
}

nlohmann::json updateJson(const std::vector<UnitReport>& units, const LoadedCatalog& release,
                          bool confirmed, double seconds) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& u : units)
        list.push_back(unitJson(u));
    return {{"command", "update"},
            {"release", releaseJson(release)},
            {"confirmed", confirmed},
            {"units", list},
            {"summary", summaryJson(units, seconds)}};
}

} // namespace kronex::cli
