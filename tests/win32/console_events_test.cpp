// kronex-update's console: the control handler (Ctrl-C and Ctrl-Break stop
// the sessions and return at once; closing the console also stops them, and
// holds the process, which Windows ends when the handler returns, until the
// command has ended), and where the progress bars may be drawn.
#include "interrupt.h"
#include "progress_view.h"

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

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

// NUL is a character device, so _isatty calls it a terminal; neither it nor a
// file is a console that could take the bars' escape sequences.
TEST(ConsoleBars, PlainLinesToNulAndToAFile) {
    for (const char* name : {"NUL", "kronex-progress.txt"}) {
        SCOPED_TRACE(name);
        std::FILE* f = std::fopen(name, "w");
        ASSERT_NE(f, nullptr);
        EXPECT_FALSE(drawsBars(f));
        std::fclose(f);
    }
    std::remove("kronex-progress.txt");
}
