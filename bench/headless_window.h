// A main window without a toolkit: the workflow's calls cost what a plain
// function call costs, and every message is answered OK at once.
#pragma once

#include "window_ops.h"

#include <algorithm>
#include <vector>

namespace kronex::bench {

class HeadlessWindow final : public MainWindowOps {
  public:
    int position = 0;
    std::vector<MessageCode> shown;

    void setHeaderTexts(std::string_view, std::string_view) override {}
    void clearModuleList() override {}
    void appendModuleLine(std::string_view) override {}
    void setProgressMax(int maximum) override { maximum_ = maximum; }
    int progressMax() const override { return maximum_; }
    void stepProgress(int amount) override {
        position = std::clamp(position + amount, 0, maximum_);
    }
    void setStartEnabled(bool) override {}
    void setStartCaption(std::string_view) override {}
    void setStatusText(std::string_view) override {}
    void setBusyCursor() override {}
    void restoreCursor() override {}
    void pumpEvents() override {}
    void requestTermination() override {}
    bool SHOW_MSG(MessageCode code) override {
        shown.push_back(code);
        return true;
    }

  private:
    int maximum_ = 0;
};

} // namespace kronex::bench
