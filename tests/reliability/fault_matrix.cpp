#include "fault_matrix.h"

#include "device_peer.h"
#include "dump_file.h"
#include "expected_update.h"
#include "preset_memory.h"
#include "record_match.h"
#include "workflow_rig.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
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

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Where `unit` and the diagnostic file differ from what the release says a
// whole update leaves; nothing when they are the same.
std::vector<std::string> differencesFromExpected(const devsim::DeviceModel& unit,
                                                 const std::filesystem::path& dumpFile) {
    const ExpectedUpdate& want = expectedSampleUpdate();
    std::vector<std::string> out;
    describeDifferences("target 0", unit.program(0).data(), want.target0.data(), 0x10000, out);
    describeDifferences("target 1", unit.program(1).data(), want.target1.data(), 0x10000, out);
    const auto data = unit.dataImage();
    if (data.size() != want.data.size())
        out.push_back("data memory: " + std::to_string(data.size()) + " bytes instead of " +
                      std::to_string(want.data.size()));
    else
        describeDifferences("data", data.data(), want.data.data(), data.size(), out);
    if (fileText(dumpFile) != dumpText(want.identity) + "\r\n")
        out.push_back(std::filesystem::exists(dumpFile) ? "the diagnostic file differs"
                                                        : "no diagnostic file");
    return out;
}

// A folder of the test's own, removed with it.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("kronex-records-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TemporaryFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    bool empty() const { return std::filesystem::is_empty(path_); }
    void emptyIt() {
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            std::filesystem::remove_all(entry.path());
    }

  private:
    std::filesystem::path path_;
};

// The unit's own blocks, each erased and written again by the session, and
// how many of their first bytes are the unit's own: the whole top block; the
// identity's serial number and unit bytes.
struct OwnBlock {
    const char* where;
    int ownBytes;
};
constexpr OwnBlock kOwnBlocks[] = {{"t0 FF80", 128}, {"t0 2000", 6}};

int lastExchangeOf(const CleanRun& clean, const std::string& command) {
    for (std::size_t i = clean.commands.size(); i > 0; --i)
        if (clean.commands[i - 1] == command)
            return static_cast<int>(i);
    return 0;
}

bool isOwnBlockCommand(const std::string& command) {
    for (const OwnBlock& own : kOwnBlocks)
        if (command == std::string("ERASE ") + own.where ||
            command == std::string("WRITE ") + own.where)
            return true;
    return false;
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
    for (const auto& d : differencesFromExpected(unit, rig.dumpFile))
        throw std::runtime_error("a clean update does not leave what the release says: " + d);
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
        for (const auto& d : differencesFromExpected(unit, rig.dumpFile))
            broken.push_back("not as the release says: " + d);
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

std::string describe(const CleanRun& clean, const PowerCut& cut) {
    const std::string command = clean.commands[static_cast<std::size_t>(cut.exchange - 1)];
    if (!cut.inside())
        return "at exchange " + std::to_string(cut.exchange) + " (" + command + ")";
    return "inside exchange " + std::to_string(cut.exchange) + " (" + command + ") after " +
           std::to_string(cut.bytes) + " bytes";
}

std::vector<PowerCut> powerCuts(const CleanRun& clean, const std::vector<int>& exchanges) {
    // Inside the unit's own blocks: nothing done, one byte, the own bytes of
    // the identity, half the block, all but one byte, the whole block, and for
    // an erase past the block to its whole 512 bytes (done, the reply lost).
    static const std::vector<int> ownDepths = {0, 1, 5, 6, 64, 127, 128, 511, 512};
    std::vector<PowerCut> cuts;
    for (const int k : exchanges) {
        cuts.push_back({k});
        const std::string& c = clean.commands[static_cast<std::size_t>(k - 1)];
        const bool erase = c.rfind("ERASE", 0) == 0;
        if (isOwnBlockCommand(c)) {
            for (const int bytes : ownDepths)
                if (erase || bytes <= 128)
                    cuts.push_back({k, bytes});
        } else if (erase) {
            cuts.push_back({k, 256});
        } else if (c.rfind("WRITE", 0) == 0 || c.rfind("DATA", 0) == 0) {
            cuts.push_back({k, 64});
        }
    }
    return cuts;
}

const char* recordsName(Records records) {
    switch (records) {
    case Records::Kept:
        return "records kept";
    case Records::Emptied:
        return "records emptied";
    case Records::Neighbours:
        break;
    }
    return "records kept beside neighbours'";
}

bool lossyWithoutRecord(const CleanRun& clean, const PowerCut& cut) {
    for (const OwnBlock& own : kOwnBlocks) {
        const int erase = lastExchangeOf(clean, std::string("ERASE ") + own.where);
        if (cut.exchange == erase && cut.inside())
            return true; // partly erased
        if (cut.exchange == erase + 1 && (!cut.inside() || cut.bytes < own.ownBytes))
            return true; // erased, its own bytes not all written back
    }
    return false;
}

namespace {

// Every file of the records folder and its text.
std::map<std::filesystem::path, std::string> snapshot(const TemporaryFolder& folder) {
    std::map<std::filesystem::path, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        if (entry.is_regular_file())
            files[entry.path().filename()] = fileText(entry.path());
    return files;
}

void restore(const TemporaryFolder& folder,
             const std::map<std::filesystem::path, std::string>& files) {
    for (const auto& [name, text] : files)
        std::ofstream(folder.path() / name, std::ios::binary) << text;
}

// The neighbours' records beside the unit's own: of the default unit's kind,
// their top blocks equal to its own as an update leaves it.
void keepNeighbours(const TemporaryFolder& folder) {
    const auto own = devsim::presetIdentityBlock();
    const UnitBlock top = markedTop(devsim::presetTopBlock(0));
    UnitRecords records(folder.path(), diskRecordFiles());
    const std::array<std::array<std::uint8_t, 6>, 3> neighbours = {{
        {0x2A, 0x1B, 0xE2, own[3], own[4], own[5]}, // every 1-bit of the unit's and more
        {0x0A, 0x1B, 0xC0, own[3], own[4], own[5]}, // a subset of its 1-bits
        {own[0], own[1], own[2], own[3], own[4], static_cast<std::uint8_t>(own[5] ^ 0x01)},
    }};
    for (const auto& bytes : neighbours) {
        UnitRecord r;
        std::copy(own.begin(), own.end(), r.identity.begin());
        std::copy(bytes.begin(), bytes.end(), r.identity.begin());
        r.top = top;
        r.serial = serialOf(r.identity);
        r.port = 2;
        r.written = r.since = "2026-12-01T09:00:00Z";
        std::string why;
        if (!records.keep(records.fileFor(r.identity), r, why))
            throw std::runtime_error("cannot keep a neighbour's record: " + why);
    }
}

bool sameMemories(const devsim::DeviceModel& a, const devsim::DeviceModel& b) {
    return a.program(0) == b.program(0) && a.program(1) == b.program(1) &&
           a.dataImage() == b.dataImage();
}

// The second update on `unit` as the cut left it, and the rules it must keep.
Rerun rerun(const CleanRun& clean, const PowerCut& cut, Records records, devsim::DeviceModel& unit,
            const TemporaryFolder& folder) {
    Rerun r;
    auto rule = [&](bool kept, const std::string& what) {
        if (!kept)
            r.broken.push_back(what);
    };
    bool fullBar = false;
    const devsim::DeviceModel asCut = unit;
    const auto before = snapshot(folder);
    try {
        unit.powerCycle();
        WorkflowRig second;
        second.unitRecords = folder.path();
        second.comm.port(1).peer = devicePeer(unit);
        second.click();
        const auto& w = second.window;
        r.completed = std::find(w.shown.begin(), w.shown.end(), MSG_CONCLUIDO) != w.shown.end();
        fullBar = w.position == clean.progressMax;
        r.lost = differencesFromExpected(unit, second.dumpFile);
    } catch (const std::exception& ex) {
        r.broken.push_back(std::string("the rerun never ended: ") + ex.what());
        return r;
    }
    r.untouched = !r.completed && sameMemories(unit, asCut);

    // An identity that reads blank, or cut as the unit model cuts it: whatever
    // else a rerun without the record does, it must not call the unit updated.
    UnitBlock read{}, top{};
    std::copy_n(asCut.program(0).begin() + devsim::kIdentityAddress, read.size(), read.begin());
    std::copy_n(asCut.program(0).begin() + devsim::kTopBlockAddress, top.size(), top.begin());
    UnitBlock after{};
    std::copy_n(unit.program(0).begin() + devsim::kIdentityAddress, after.size(), after.begin());
    rule(!r.completed || !blankIdentity(after), "reported as updated with a blank identity");
    if (records == Records::Emptied)
        rule(!r.completed || !identityCut(read, top), "reported as updated with a cut identity");
    if (records == Records::Neighbours) {
        // A unit whose identity no longer tells it from its neighbours stops
        // before anything is erased; every other ends as a clean update.
        // Either way no neighbour's record is taken, changed or deleted.
        rule(r.completed ? r.lost.empty() : r.untouched,
             r.completed ? "reported as updated, not as a clean update"
                         : "stopped after changing the unit");
        rule(r.completed || identityCut(read, top),
             "an intact identity stopped beside its neighbours' records");
        const auto after = snapshot(folder);
        for (const auto& [name, text] : before)
            if (name.string().find("290A1BC2-010722") == std::string::npos)
                rule(after.count(name) && after.at(name) == text,
                     "a neighbour's record was changed or deleted: " + name.string());
    } else if (records == Records::Emptied && lossyWithoutRecord(clean, cut)) {
        rule(!r.lost.empty(), "ended as a clean update, where the unit's own blocks were lost");
    } else {
        rule(r.completed && fullBar, "the second update did not complete");
        rule(r.lost.empty(), "did not end as a clean update");
    }
    if (records == Records::Kept && r.completed)
        rule(folder.empty(), "a record was left behind by a completed update");
    return r;
}

} // namespace

std::vector<Rerun> interruptedThenRerun(const CleanRun& clean, const PowerCut& cut,
                                        const std::vector<Records>& modes) {
    devsim::Faults faults;
    (cut.inside() ? faults.powerCutAtExchange : faults.silentFromExchange) = cut.exchange;
    faults.powerCutAfterBytes = std::max(cut.bytes, 0);
    devsim::DeviceModel unit(faults);
    TemporaryFolder folder;
    try {
        WorkflowRig first;
        first.unitRecords = folder.path();
        first.comm.port(1).peer = devicePeer(unit);
        first.click();
    } catch (const std::exception& ex) {
        Rerun r;
        r.broken.push_back(std::string("the cut update never ended: ") + ex.what());
        return std::vector<Rerun>(modes.size(), r);
    }
    // Every mode from the same cut: the unit as it was left, and the folder
    // as the cut update left it, emptied, or with the neighbours' records.
    std::vector<Rerun> results;
    const devsim::DeviceModel asCut = unit;
    const auto asLeft = snapshot(folder);
    for (const Records records : modes) {
        devsim::DeviceModel again = asCut;
        folder.emptyIt();
        if (records != Records::Emptied)
            restore(folder, asLeft);
        if (records == Records::Neighbours)
            keepNeighbours(folder);
        results.push_back(rerun(clean, cut, records, again, folder));
    }
    return results;
}

} // namespace kronex::test
