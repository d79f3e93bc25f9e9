// Ctrl-C: one flag the signal handler sets and every session reads.
#pragma once

namespace kronex::cli {

// Installs the handler (SIGINT, and the console's Ctrl-C on Windows).
void catchInterrupt();
bool interrupted();

} // namespace kronex::cli
