// A pseudo-terminal pair for the serial layer to open: the slave stands for
// the port's device, the master for the unit at the other end of the cable.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kronex::test {

using Bytes = std::vector<std::uint8_t>;

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The slave's path, for a namespace link to point at.
    const std::string& slavePath() const { return slavePath_; }

    // The unit sends these bytes towards the port.
    void unitSends(const Bytes& bytes);

    // What reaches the unit: up to `atMost` bytes, ending once `quiet`
    // passes without a byte.
    Bytes unitReceives(std::size_t atMost, std::chrono::milliseconds quiet);

    // The unit vanishes (an adapter pulled out): the line hangs up for good.
    void unitHangsUp();

    // Whether input has reached the port side within `wait` (nothing is read).
    bool portHasInput(std::chrono::milliseconds wait);

  private:
    int master_ = -1;
    int slave_ = -1; // kept open so that the line never hangs up between opens
    std::string slavePath_;
};

} // namespace kronex::test
