#include "fault_matrix.h"

#include "device_peer.h"
#include "workflow_rig.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace kronex::test {

namespace {

constexpr std::uint64_t kLongestRunMs = 2ull * 60 * 60 * 1000; // far beyond any bounded wait
// Transfers a run may still try on a port that has failed: the failed read
// itself, then at most the scan's remaining handshake tries, a write and a
// read each. A wait that kept polling the dead port would make thousands.
constexpr int kFailedTransfersAllowed = 1 + 2 * (kTriesPerPort - 1);

// Steps whose outcome the session does not judge: the two erases before the
// data part and the last run command.
bool outcomeIgnored(const CleanRun& clean, int k) {
    const std::string& c = clean.commands[static_cast<std::size_t>(k - 1)];
    return c == "ERASE t0 8000" || c == "ERASE t0 7000" ||
           k == static_cast<int>(clean.commands.size());
}

// Reads are judged by their length alone, not by their status byte, except
// the two whose blocks are erased next: those must also be acknowledged.
bool statusIgnored(const CleanRun& clean, int k) {
    const std::string& c = clean.commands[static_cast<std::size_t>(k - 1)];
    const bool erasedNext = c == "READ t0 FF80" || (c == "READ t0 2000" && k > 1);
    return c.rfind("READ", 0) == 0 && !erasedNext;
}

devsim::Faults faultsFor(FaultKind kind, int k) {
    devsim::Faults f;
    switch (kind) {
    case FaultKind::Silence:
        f.silentFromExchange = k;
        break;
    case FaultKind::Nak:
        f.nakAtExchange = k;
        break;
    case FaultKind::ShortReply:
        f.shortReplyAtExchange = k;
        break;
    case FaultKind::ZeroLength:
        f.zeroLengthAtExchange = k;
        break;
    case FaultKind::Noise:
        f.noiseAtExchange = k;
        break;
    case FaultKind::CutReply:
        f.cutReplyAtExchange = k;
        break;
    case FaultKind::Vanish:
        break; // the port does it
    }
    return f;
}

// What the run must end in.
struct Expectation {
    enum { Completes, EndsAt, NoUnitFound } outcome;
    int endExchange = 0;     // EndsAt: the last exchange the unit sees
    int versionMessages = 0; // message 4 shown on the way
};

Expectation expectationFor(const CleanRun& clean, FaultKind kind, int k) {
    const int last = static_cast<int>(clean.commands.size());
    if (kind == FaultKind::Noise)
        return {Expectation::Completes};
    // A unit that vanished is silent, without the waiting.
    if (kind == FaultKind::Silence || kind == FaultKind::Vanish) {
        if (k == 1)
            return {Expectation::NoUnitFound, 0, 1};
        int end = k; // silence shows at the first step whose outcome counts
        while (end <= last && outcomeIgnored(clean, end))
            ++end;
        return end > last ? Expectation{Expectation::Completes}
                          : Expectation{Expectation::EndsAt, end};
    }
    if (kind == FaultKind::Nak && statusIgnored(clean, k))
        return {Expectation::Completes};
    if (outcomeIgnored(clean, k))
        return {Expectation::Completes};
    if (k == 1) // the compatibility check fails once; the next try passes
        return {Expectation::Completes, 0, 1};
    return {Expectation::EndsAt, k};
}

// The unit's own blocks that the session reads back and writes again: the
// only places a rerun may find something other than what a clean update left.
constexpr unsigned kTopBlock = 0xFF80;
constexpr unsigned kIdentityBlock = 0x2000;
constexpr unsigned kIdentityOwnBytes = 6; // serial number and unit bytes

std::string hex4(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v);
    return text;
}

// One line per 128-byte block that differs: where, how many bytes, and
// whether they were left erased.
void describeDifferences(const char* memory, const std::uint8_t* got, const std::uint8_t* want,
                         std::size_t size, std::vector<std::string>& out) {
    for (std::size_t block = 0; block < size; block += 128) {
        int differ = 0, erased = 0;
        std::size_t first = 0, last = 0;
        for (std::size_t i = block; i < std::min(size, block + 128); ++i) {
            if (got[i] == want[i])
                continue;
            first = differ++ == 0 ? i : first;
            last = i;
            erased += got[i] == 0xFF;
        }
        if (differ == 0)
            continue;
        out.push_back(std::string(memory) + " " + hex4(static_cast<unsigned>(first)) + "-" +
                      hex4(static_cast<unsigned>(last)) + ": " + std::to_string(differ) +
                      " bytes " + (erased == differ ? "left erased" : "differ"));
    }
}

bool isOwnBlockLoss(const std::uint8_t* got, const std::uint8_t* want) {
    for (std::size_t i = 0; i < 0x10000; ++i) {
        const bool own =
            i >= kTopBlock || (i >= kIdentityBlock && i < kIdentityBlock + kIdentityOwnBytes);
        if (got[i] != want[i] && !own)
            return false;
    }
    return true;
}

} // namespace

const char* faultName(FaultKind kind) {
    switch (kind) {
    case FaultKind::Silence:
        return "silence";
    case FaultKind::Nak:
        return "status 0x55";
    case FaultKind::ShortReply:
        return "short reply";
    case FaultKind::ZeroLength:
        return "zero length";
    case FaultKind::Noise:
        return "noise before 0x78";
    case FaultKind::CutReply:
        return "reply cut in half";
    case FaultKind::Vanish:
        return "unit vanished";
    }
    return "?";
}

CleanRun cleanRun() {
    WorkflowRig rig;
    auto& unit = rig.unitOn(1);
    CleanRun clean;
    clean.positionAt.push_back(0);
    // Note the bar each time the unit is about to take an attention byte.
    rig.comm.port(1).peer = [&](std::uint8_t b) {
        if (b == devsim::kAttention && !unit.inFrame())
            clean.positionAt.push_back(rig.window.position);
        return unit.receive(b);
    };
    rig.click();
    for (const auto& line : unit.transcript())
        if (line.rfind("HANDSHAKE", 0) != 0)
            clean.commands.push_back(line);
    clean.progressMax = rig.window.maximum;
    clean.unit = unit;
    return clean;
}

std::vector<std::string> brokenRules(const CleanRun& clean, FaultKind kind, int k) {
    std::vector<std::string> broken;
    auto rule = [&](bool kept, const std::string& what) {
        if (!kept)
            broken.push_back(what);
    };
    const Expectation e = expectationFor(clean, kind, k);

    WorkflowRig rig;
    auto& unit = rig.unitOn(1, faultsFor(kind, k));
    FakePort& port = rig.comm.port(1);
    if (kind == FaultKind::Vanish) {
        // Gone as the attention byte of exchange k reaches it: no answer comes.
        port.peer = [&unit, &port, &rig, k](std::uint8_t b) {
            const bool attention = b == devsim::kAttention && !unit.inFrame();
            auto out = unit.receive(b);
            if (attention && unit.exchanges() == k) {
                port.goneFrom = rig.comm.now();
                unit.abandonFrame();
                out.clear();
            }
            return out;
        };
    }
    try {
        rig.click();
    } catch (const std::exception& ex) {
        broken.push_back(std::string("the run never ended: ") + ex.what());
        return broken;
    }
    const auto& w = rig.window;
    const auto fours = std::count(w.shown.begin(), w.shown.end(), MSG_VERSAO);

    rule(rig.comm.openHandles() == 0, "a handle was left open");
    rule(rig.comm.now() < kLongestRunMs, "the run waited without bound");
    rule(fours == e.versionMessages, "message 4 shown " + std::to_string(fours) + " times");
    rule(port.failedTransfers <= kFailedTransfersAllowed,
         std::to_string(port.failedTransfers) + " transfers tried on the failed port");
    switch (e.outcome) {
    case Expectation::Completes:
        rule(!w.shown.empty() && w.shown.back() == MSG_CONCLUIDO, "no success message");
        rule(w.position == clean.progressMax, "the bar is not full");
        rule(std::filesystem::exists(rig.dumpFile), "no diagnostic file");
        rule(w.terminationRequested, "the program was not asked to end");
        break;
    case Expectation::NoUnitFound:
        rule(!w.shown.empty() && w.shown.back() == MSG_PORTA, "no message 1");
        rule(!w.terminationRequested && w.startEnabled, "not back to idle");
        rule(unit.transcript().size() <= 2, "the unit was written to");
        break;
    case Expectation::EndsAt: {
        rule(std::count(w.shown.begin(), w.shown.end(), MSG_CONCLUIDO) == 0,
             "a success message after a failure");
        rule(!std::filesystem::exists(rig.dumpFile), "a diagnostic file after a failure");
        rule(w.terminationRequested, "the program was not asked to end");
        // A vanished unit sees nothing after exchange k.
        const int lastSeen = kind == FaultKind::Vanish ? k : e.endExchange;
        rule(unit.exchanges() == lastSeen, "exchanges went on to " +
                                               std::to_string(unit.exchanges()) +
                                               ", expected to end at " + std::to_string(lastSeen));
        rule(!unit.inFrame(), "a frame was left half sent");
        // Nothing after the failed exchange: its command is the last line, if it ran.
        const auto& t = unit.transcript();
        rule(t.empty() || t.back().rfind("HANDSHAKE", 0) != 0 || kind == FaultKind::Silence ||
                 kind == FaultKind::Vanish,
             "handshakes after the failure");
        rule(w.position == clean.positionAt[static_cast<std::size_t>(e.endExchange)],
             "the bar moved to " + std::to_string(w.position) + " instead of staying at " +
                 std::to_string(clean.positionAt[static_cast<std::size_t>(e.endExchange)]));
        break;
    }
    }
    return broken;
}

Rerun interruptedThenRerun(const CleanRun& clean, int k) {
    Rerun r;
    devsim::Faults powerLost;
    powerLost.silentFromExchange = k;
    devsim::DeviceModel unit(powerLost);
    // Both runs on the same PC: the unit's record kept by the first is there
    // for the second.
    const auto records = std::filesystem::temp_directory_path() /
                         ("kronex-rerun-" + std::to_string(::getpid()) + "-" + std::to_string(k));
    struct Removed {
        std::filesystem::path dir;
        ~Removed() {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    } removed{records};
    try {
        {
            WorkflowRig first;
            first.unitRecords = records;
            first.comm.port(1).peer = devicePeer(unit);
            first.click();
        }
        unit.powerCycle();
        WorkflowRig second;
        second.unitRecords = records;
        second.comm.port(1).peer = devicePeer(unit);
        second.click();
        const auto& w = second.window;
        if (w.shown.empty() || w.shown.back() != MSG_CONCLUIDO || w.position != clean.progressMax ||
            !std::filesystem::exists(second.dumpFile))
            r.broken.push_back("the second update did not complete");
    } catch (const std::exception& ex) {
        r.broken.push_back(std::string("a run never ended: ") + ex.what());
        return r;
    }

    const auto& want = clean.unit;
    describeDifferences("target 0", unit.program(0).data(), want.program(0).data(), 0x10000,
                        r.lost);
    describeDifferences("target 1", unit.program(1).data(), want.program(1).data(), 0x10000,
                        r.lost);
    const auto data = unit.dataImage(), wantData = want.dataImage();
    if (data != wantData) {
        if (data.size() != wantData.size())
            r.lost.push_back("data memory: " + std::to_string(data.size()) + " bytes instead of " +
                             std::to_string(wantData.size()));
        else
            describeDifferences("data", data.data(), wantData.data(), data.size(), r.lost);
    }
    if (!r.lost.empty() && (unit.program(1) != want.program(1) || data != wantData ||
                            !isOwnBlockLoss(unit.program(0).data(), want.program(0).data())))
        r.broken.push_back("more was lost than the unit's own blocks");
    return r;
}

} // namespace kronex::test
