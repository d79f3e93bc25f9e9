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
    devsim::DeviceModel unit; // as the clean update left it
};
CleanRun cleanRun();

// The rules a run with `kind` at exchange `k` broke (none: the run behaved).
std::vector<std::string> brokenRules(const CleanRun& clean, FaultKind kind, int k);

// The unit loses power at exchange k (it answers nothing from there on),
// comes back in update mode with whatever its memories hold, and a second
// whole update runs on the same PC, with the record the first one kept.
struct Rerun {
    std::vector<std::string> lost;   // what differs from a clean update, if anything
    std::vector<std::string> broken; // rules broken: the second update did not
                                     // complete, or more was lost than the unit's
                                     // own blocks read back by the session
};
Rerun interruptedThenRerun(const CleanRun& clean, int k);

} // namespace kronex::test
