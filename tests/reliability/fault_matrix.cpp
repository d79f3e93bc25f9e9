#include "fault_matrix.h"

#include "workflow_rig.h"

#include <filesystem>

namespace kronex::test {

namespace {

constexpr std::uint64_t kLongestRunMs = 2ull * 60 * 60 * 1000; // far beyond any bounded wait

// Steps whose outcome the session does not judge: the two erases before the
// data part and the last run command.
bool outcomeIgnored(const CleanRun& clean, int k) {
    const std::string& c = clean.commands[static_cast<std::size_t>(k - 1)];
    return c == "ERASE t0 8000" || c == "ERASE t0 7000" ||
           k == static_cast<int>(clean.commands.size());
}

// Reads are judged by their length alone, not by their status byte.
bool statusIgnored(const CleanRun& clean, int k) {
    return clean.commands[static_cast<std::size_t>(k - 1)].rfind("READ", 0) == 0;
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
    if (kind == FaultKind::Silence) {
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
        rule(unit.exchanges() == e.endExchange,
             "exchanges went on to " + std::to_string(unit.exchanges()) + ", expected to end at " +
                 std::to_string(e.endExchange));
        rule(!unit.inFrame(), "a frame was left half sent");
        // Nothing after the failed exchange: its command is the last line, if it ran.
        const auto& t = unit.transcript();
        rule(t.empty() || t.back().rfind("HANDSHAKE", 0) != 0 || kind == FaultKind::Silence,
             "handshakes after the failure");
        rule(w.position == clean.positionAt[static_cast<std::size_t>(e.endExchange)],
             "the bar moved to " + std::to_string(w.position) + " instead of staying at " +
                 std::to_string(clean.positionAt[static_cast<std::size_t>(e.endExchange)]));
        break;
    }
    }
    return broken;
}

} // namespace kronex::test
