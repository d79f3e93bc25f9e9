// What a clean update of a release sends, exchange by exchange, learnt by
// running the session itself against a stand-in unit that takes every
// command: for the progress figures, the "exchange n of N" of a stop report
// and what verify reads back.
#pragma once

#include "frame_codec.h"
#include "loaded_catalog.h"
#include "release_table.h"
#include "session_stop.h"

#include <cstdint>
#include <vector>

namespace kronex {

struct PlannedExchange {
    SessionStep step = SessionStep::MainImageGroup1;
    FrameFields frame;
    std::vector<std::uint8_t> bytesOut; // the attention byte, then the frame
    unsigned handshakesBefore = 0;      // tries sent since the exchange before
};

struct SessionPlan {
    // The compatibility check's read, which comes before the session.
    std::vector<std::uint8_t> check;
    std::vector<PlannedExchange> session;
    unsigned exchanges = 0;     // the check's read included
    std::uint64_t bytesOut = 0; // attention bytes and frames, handshakes not counted
};

// A unit that reads `unitFill` everywhere: any value that is neither blank
// (0xFF) nor a cut identity makes the session a clean update's.
inline constexpr std::uint8_t kPlanUnitFill = 0x5A;

SessionPlan planSession(const ReleaseTable& release, const LoadedCatalog& catalog,
                        std::uint8_t unitFill = kPlanUnitFill);

} // namespace kronex
