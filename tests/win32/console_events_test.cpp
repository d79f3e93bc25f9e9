// kronex-update's console control handler: Ctrl-C and Ctrl-Break stop the
// sessions and return at once; closing the console also stops them, and holds
// the process (which Windows ends when the handler returns) until the command
// has ended.
#include "interrupt.h"

#include <windows.h>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace kronex::cli;

// One test: the flag the handler sets is the process's own.
TEST(ConsoleEvents, BreakStopsAndCloseWaitsForTheCommandToEnd) {
    ASSERT_FALSE(interrupted());
    EXPECT_TRUE(onConsoleEvent(CTRL_BREAK_EVENT));
    EXPECT_TRUE(interrupted());

    std::atomic<bool> returned{false};
    std::thread handler([&] {
        EXPECT_TRUE(onConsoleEvent(CTRL_CLOSE_EVENT));
        returned = true;
    });
    Sleep(300); // the sessions are still stopping
    EXPECT_FALSE(returned);
    commandFinished();
    handler.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(onConsoleEvent(0xFFFF)); // not ours: the next handler's
}
