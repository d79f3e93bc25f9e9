// The start button: confirmation, the search for a unit on COM1 to COM16,
// the compatibility check and, on the first compatible unit, the update.
#pragma once

#include "window_ops.h"
#include "workflow.h"

namespace kronex {

// The start button's click; `w` reports to `window`. After an update,
// whatever its outcome, the program is asked to end.
void sbATUClick(MainWindowOps& window, Workflow& w);

} // namespace kronex
