// Progress while sessions run: a bar per unit on a terminal (percentage,
// bytes, time left), plain lines at every tenth otherwise, and where a
// Windows console cannot take the bars' escape sequences. A unit shows once
// its session has begun, and its end is marked as soon as it comes.
#pragma once

#include "session_plan.h"
#include "unit_run.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace kronex::cli {

// Whether bars can be drawn on `out`: a terminal, and on Windows a console
// with virtual-terminal processing on, which this turns on where it can.
bool drawsBars(std::FILE* out);

// The columns of the terminal or console `out` shows in; 80 when unknown.
std::size_t terminalColumns(std::FILE* out);

// One unit's bar line, made to fit in `columns` (the terminal wraps a line
// that fills its last column): the bar shortened first, then the time left
// left out. `left` is the time left or how the unit ended, if anything.
std::string fitBar(const std::string& name, double fraction, const std::string& figures,
                   const std::string& left, std::size_t columns);

class ProgressView {
  public:
    ProgressView(std::FILE* out, const SessionPlan& plan);
    // Draws the current state; call every few tenths of a second.
    void show(const std::deque<UnitProgress>& units);
    // The last state, and the line left clean for the results.
    void finish(const std::deque<UnitProgress>& units);

  private:
    struct Seen {
        std::chrono::steady_clock::time_point start{};
        bool started = false;
        int tenths = -1;
        bool ended = false; // its end said (plain lines)
    };
    std::string bar(const UnitProgress& unit, Seen& seen, std::size_t columns) const;
    void plain(const UnitProgress& unit, Seen& seen);

    std::FILE* out_;
    SessionPlan plan_; // its totals alone: the bars need no more
    bool terminal_;
    int drawn_ = 0; // bar lines on the screen
    std::vector<Seen> seen_;
};

} // namespace kronex::cli
