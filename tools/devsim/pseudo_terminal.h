// A pseudo-terminal pair: the unit talks on the master, the updater opens the
// slave path as if it were a serial port.
#pragma once

#include <string>

namespace kronex::devsim {

class PseudoTerminal {
  public:
    // Opens the pair with the slave in raw mode; throws std::system_error.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; } // non-blocking
    const std::string& slavePath() const { return slavePath_; }

  private:
    int master_ = -1;
    // Held open for our whole life: when the updater closes its last handle the
    // master would otherwise see EIO and hang-ups until the next open.
    int slave_ = -1;
    std::string slavePath_;
};

} // namespace kronex::devsim
