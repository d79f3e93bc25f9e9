#include "line_pacer.h"

#include <algorithm>

namespace kronex::devsim {

LinePacer::LinePacer(long baud)
    : byteTime_(baud > 0 ? std::chrono::duration_cast<Clock::duration>(
                               std::chrono::nanoseconds(10'000'000'000LL / baud))
                         : Clock::duration::zero()) {}

LinePacer::Clock::time_point LinePacer::arrival(Clock::time_point readAt) {
    rxFree_ = std::max(rxFree_, readAt) + byteTime_;
    return rxFree_;
}

LinePacer::Clock::time_point LinePacer::departure(Clock::time_point readyAt) {
    txFree_ = std::max(txFree_, readyAt) + byteTime_;
    return txFree_;
}

} // namespace kronex::devsim
