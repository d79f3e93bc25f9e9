// Every exchange of a whole update, each fault kind injected there: what the
// session must do, checked case by case on the virtual clock.
#pragma once

#include "device_model.h"

#include <string>
#include <vector>

namespace kronex::test {

// Vanish: the unit and its adapter are gone; every transfer on the port
// fails at once from then on.
enum class FaultKind { Silence, Nak, ShortReply, ZeroLength, Noise, CutReply, Vanish };
inline constexpr FaultKind kFaultKinds[] = {
    FaultKind::Silence, FaultKind::Nak,      FaultKind::ShortReply, FaultKind::ZeroLength,
    FaultKind::Noise,   FaultKind::CutReply, FaultKind::Vanish};
const char* faultName(FaultKind kind);

// What a clean update does, exchange by exchange.
struct CleanRun {
    std::vector<std::string> commands; // the unit's commands, one per exchange
    std::vector<int> positionAt;       // the bar as exchange k (from 1) starts; [0] unused
    int progressMax = 0;
};
// Throws unless the clean update leaves the unit and the diagnostic file as
// the release says.
CleanRun cleanRun();

// The rules a run with `kind` at exchange `k` broke (none: the run behaved).
std::vector<std::string> brokenRules(const CleanRun& clean, FaultKind kind, int k);

// Where the unit loses power: before exchange `exchange` reaches it (bytes
// < 0: it answers nothing from there on), or while that exchange's command
// runs, after `bytes` bytes of its erase or write, the next one half done,
// before its reply.
struct PowerCut {
    int exchange = 0;
    int bytes = -1;
    bool inside() const { return bytes >= 0; }
};
// "at exchange 1439 (WRITE t0 FF80)", "inside exchange 1439 (WRITE t0 FF80) after 64 bytes".
std::string describe(const CleanRun& clean, const PowerCut& cut);

// A cut before each of `exchanges`, and inside each erase and write among
// them: at several depths inside those of the unit's own blocks, half-way
// inside the others.
std::vector<PowerCut> powerCuts(const CleanRun& clean, const std::vector<int>& exchanges);

// The records of the unit's own blocks on the PC: kept from the cut update to
// the rerun (the same PC), or emptied before it (another PC), or kept beside
// the records of neighbouring units of the same kind, updated before (serial
// numbers whose bits are a superset or a subset of this unit's, its serial
// with other unit bytes; every top block equal to this unit's own, marked).
enum class Records { Kept, Emptied, Neighbours };
const char* recordsName(Records records);

// The cuts whose rerun cannot end as a clean update without the record: from
// the start of the erase of one of the unit's own blocks (the top block of
// target 0, the identity block) to the end of its write, which must follow
// that erase at once, while the block's own bytes are not all back.
bool lossyWithoutRecord(const CleanRun& clean, const PowerCut& cut);

// The unit loses power at `cut` and comes back in update mode with whatever
// its memories hold; from there a second whole update runs once for each of
// `modes` (Kept before Emptied: a kept record goes with the rerun that
// completes), each on the unit as the cut left it.
struct Rerun {
    bool completed = false;          // the second update reported success
    bool untouched = false;          // it stopped with the unit exactly as the cut left it
    std::vector<std::string> lost;   // what differs from the expected update, if anything
    std::vector<std::string> broken; // rules broken
};
std::vector<Rerun> interruptedThenRerun(const CleanRun& clean, const PowerCut& cut,
                                        const std::vector<Records>& modes);

} // namespace kronex::test
