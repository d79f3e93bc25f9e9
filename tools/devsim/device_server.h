// Serves a DeviceModel on the master side of a pseudo-terminal: reads what the
// updater sends, answers with the model's bytes, paced like a serial line.
#pragma once

#include "device_model.h"
#include "line_pacer.h"

#include <chrono>
#include <deque>
#include <ostream>

namespace kronex::devsim {

class DeviceServer {
  public:
    // transcript: where each new transcript line goes as it happens; may be null.
    DeviceServer(DeviceModel& model, int master, long baud, std::ostream* transcript);

    // Serves until signalFd (a signalfd) becomes readable or, when stdinFd is
    // not -1, that input reaches its end. Throws std::system_error when the
    // terminal fails.
    void run(int signalFd, int stdinFd);

  private:
    using Clock = LinePacer::Clock;
    struct Outgoing {
        Clock::time_point at; // when the byte has crossed the line
        std::uint8_t byte;
    };

    DeviceModel& model_;
    int master_;
    LinePacer pacer_;
    std::ostream* transcript_;
    std::size_t logged_ = 0;
    std::deque<Outgoing> outbound_;
    bool writeBlocked_ = false;
    Clock::time_point lastArrival_{};

    void readLine();
    void writeDue(Clock::time_point now);
    void logNewLines();
    Clock::time_point frameDeadline() const;
};

} // namespace kronex::devsim
