// Progress while sessions run: a bar per unit on a terminal (percentage,
// bytes, time left), plain lines at every tenth otherwise, and where a
// Windows console cannot take the bars' escape sequences.
#pragma once

#include "session_plan.h"
#include "unit_run.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <vector>

namespace kronex::cli {

// Whether bars can be drawn on `out`: a terminal, and on Windows a console
// with virtual-terminal processing on, which this turns on where it can.
bool drawsBars(std::FILE* out);

class ProgressView {
  public:
    ProgressView(std::FILE* out, SessionPlan plan);
    // Draws the current state; call every few tenths of a second.
    void show(const std::deque<UnitProgress>& units);
    // The last state, and the line left clean for the results.
    void finish(const std::deque<UnitProgress>& units);

  private:
    struct Seen {
        std::chrono::steady_clock::time_point start{};
        bool started = false;
        int tenths = -1;
    };
    std::string bar(const UnitProgress& unit, Seen& seen) const;
    void plain(const UnitProgress& unit, Seen& seen);

    std::FILE* out_;
    SessionPlan plan_;
    bool terminal_;
    int drawn_ = 0; // bar lines on the screen
    std::vector<Seen> seen_;
};

} // namespace kronex::cli
