// Every exchange of a whole update, each fault kind injected there: what the
// session must do, checked case by case on the virtual clock.
#pragma once

#include <string>
#include <vector>

namespace kronex::test {

enum class FaultKind { Silence, Nak, ShortReply, ZeroLength, Noise, CutReply };
inline constexpr FaultKind kFaultKinds[] = {FaultKind::Silence,    FaultKind::Nak,
                                            FaultKind::ShortReply, FaultKind::ZeroLength,
                                            FaultKind::Noise,      FaultKind::CutReply};
const char* faultName(FaultKind kind);

// What a clean update does, exchange by exchange.
struct CleanRun {
    std::vector<std::string> commands; // the unit's commands, one per exchange
    std::vector<int> positionAt;       // the bar as exchange k (from 1) starts; [0] unused
    int progressMax = 0;
};
CleanRun cleanRun();

// The rules a run with `kind` at exchange `k` broke (none: the run behaved).
std::vector<std::string> brokenRules(const CleanRun& clean, FaultKind kind, int k);

} // namespace kronex::test
