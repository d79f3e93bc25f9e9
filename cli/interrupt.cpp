#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace kronex::cli {

namespace {

// A signal handler can reach nothing but a static lock-free flag.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    gInterrupted.store(true);
}

} // namespace

void catchInterrupt() {
    std::signal(SIGINT, onInterrupt);
#ifdef SIGTERM
    std::signal(SIGTERM, onInterrupt);
#endif
}

bool interrupted() {
    return gInterrupted.load();
}

} // namespace kronex::cli
