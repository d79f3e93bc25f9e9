// How many exchanges and bytes a clean update of a release takes, for the
// progress display and the "exchange n of N" in a stop report.
#pragma once

#include "loaded_catalog.h"
#include "release_table.h"

#include <cstdint>

namespace kronex::cli {

struct SessionPlan {
    unsigned exchanges = 0;     // the compatibility check's read included
    std::uint64_t bytesOut = 0; // attention bytes and frames, handshakes not counted
};

SessionPlan planSession(const ReleaseTable& release, const LoadedCatalog& catalog);

} // namespace kronex::cli
