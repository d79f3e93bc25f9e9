// The start button: confirmation, then the search for a unit.
#pragma once

#include "window_ops.h"

namespace kronex {

void sbATUClick(MainWindowOps& window);

} // namespace kronex
