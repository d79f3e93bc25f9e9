#include "interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kronex::cli {

namespace {

// A signal handler can reach nothing but static lock-free flags. Both are
// trivially destructible, so a handler thread still waiting while the process
// exits finds them intact.
std::atomic<bool> gInterrupted{false};
std::atomic<bool> gFinished{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onSignal(int) {
    gInterrupted.store(true);
}

} // namespace

#ifdef _WIN32
int __stdcall onConsoleEvent(unsigned long event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        gInterrupted.store(true);
        return TRUE; // the command stops its sessions and ends by itself
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns (at the latest some seconds
        // later): hold it until the sessions have stopped where a stop is
        // allowed, never between an erase and its write.
        gInterrupted.store(true);
        while (!gFinished.load())
            Sleep(10);
        return TRUE;
    default:
        return FALSE;
    }
}
#endif

void catchInterrupt() {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#ifdef SIGHUP
    std::signal(SIGHUP, onSignal);
#endif
#ifdef SIGPIPE
    // A write to a closed pipe fails instead of ending the process between
    // an erase and its write.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#endif
}

bool interrupted() {
    return gInterrupted.load();
}

void watchOutputs() {
    // std::cout and std::cerr write through stdout and stderr.
    if (std::ferror(stdout) || std::ferror(stderr))
        gInterrupted.store(true);
}

void commandFinished() {
    gFinished.store(true);
}

} // namespace kronex::cli
