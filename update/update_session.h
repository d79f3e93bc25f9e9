// The update session: the whole release into the unit that passed the
// compatibility check, then the diagnostic file.
#pragma once

#include "session_stop.h"
#include "workflow.h"

namespace kronex {

// Main image to target 0 in two groups with a run command and a handshake
// between them, the data part, the top, mirror and identity blocks, the
// target-1 image and its top block, a last run command. The first failed
// step ends the session; only a completed one is reported as such. The result says whether it
// completed, and otherwise where it stopped.
SessionResult ATUALIZA(Workflow& w);

} // namespace kronex
