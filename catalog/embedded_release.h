// The release compiled into the program.
#pragma once

#include "release_table.h"

namespace kronex {

// Checked against every layout rule when the program was built.
const ReleaseTable& embeddedRelease();

} // namespace kronex
