// A unit that answers the attention byte and records each request frame,
// replying from a script: enough to check frames and judgements byte by byte.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace kronex::test {

struct ScriptedUnit {
    std::vector<std::vector<std::uint8_t>> frames; // every frame received
    std::deque<std::vector<std::uint8_t>> replies; // one per frame; then 02 AA
    std::vector<std::uint8_t> noise;               // sent before each 0x78
    bool answersAttention = true;

    std::vector<std::uint8_t> receive(std::uint8_t b) {
        if (!inFrame_) {
            if (b != 0x87 || !answersAttention)
                return {};
            inFrame_ = true;
            current_.clear();
            auto out = noise;
            out.push_back(0x78);
            return out;
        }
        current_.push_back(b);
        if (current_.size() < current_[0])
            return {};
        inFrame_ = false;
        frames.push_back(current_);
        if (replies.empty())
            return {0x02, 0xAA};
        auto reply = replies.front();
        replies.pop_front();
        return reply;
    }

  private:
    bool inFrame_ = false;
    std::vector<std::uint8_t> current_;
};

} // namespace kronex::test
