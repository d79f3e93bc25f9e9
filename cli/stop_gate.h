// kronex-update's answer to "stop now?" for one session's serial calls. A
// stop asked for (Ctrl-C and the like) waits while the session is between
// an erase and its write, so no block is left erased by it; once given, it
// holds for the rest of the session.
#pragma once

#include "link_exchange.h"

#include <functional>

namespace kronex::cli {

class StopGate {
  public:
    explicit StopGate(std::function<bool()> requested) : requested_(std::move(requested)) {}

    // The link whose erase-and-write pairs a stop waits for.
    void watch(const LinkExchange& link) { link_ = &link; }

    bool operator()() {
        if (stopped_)
            return true;
        if (!asked_) {
            if (!requested_())
                return false;
            asked_ = true;
            pair_ = link_ ? link_->erasePair.load() : 0;
        }
        // Between pairs, or the pair it was asked in has ended.
        stopped_ = pair_ == 0 || link_->erasePair.load() != pair_;
        return stopped_;
    }

  private:
    std::function<bool()> requested_;
    const LinkExchange* link_ = nullptr;
    bool asked_ = false;
    unsigned pair_ = 0; // the pair under way when the stop was asked for
    bool stopped_ = false;
};

} // namespace kronex::cli
