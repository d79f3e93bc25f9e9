// Ctrl-C and the other ways a console program is told to stop: one flag the
// handlers set and every session reads.
#pragma once

namespace kronex::cli {

// Installs the handlers: SIGINT, SIGTERM and SIGHUP (the terminal closed);
// SIGPIPE is ignored, a closed output being told by watchOutputs();
// on Windows the console's Ctrl-C, Ctrl-Break and closing of its window.
void catchInterrupt();
bool interrupted();

// Standard output or error failed (the reader of a pipe went away, the
// terminal closed): nobody watches the run any more, so it stops as on a
// hang-up. Called by the thread that writes them, after writing.
void watchOutputs();

// Called by main once the command has ended (its sessions stopped, their
// report written). Closing the console on Windows waits for it, since
// Windows ends the process as soon as the handler returns.
void commandFinished();

#ifdef _WIN32
// The console control handler catchInterrupt() installs (a Windows BOOL).
int __stdcall onConsoleEvent(unsigned long event);
#endif

} // namespace kronex::cli
