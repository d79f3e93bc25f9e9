// A main window without a toolkit: the workflow's calls cost what a plain
// function call costs, and every message is answered OK at once.
#pragma once

#include "windowless_ops.h"

#include <algorithm>
#include <vector>

namespace kronex::bench {

class HeadlessWindow final : public WindowlessOps {
  public:
    int position = 0;
    std::vector<MessageCode> shown;

    void stepProgress(int amount) override {
        position = std::clamp(position + amount, 0, progressMax());
    }
    bool SHOW_MSG(MessageCode code) override {
        shown.push_back(code);
        return true;
    }
};

} // namespace kronex::bench
