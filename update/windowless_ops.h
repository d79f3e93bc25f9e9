// The window's operations for a session that runs without one: every call
// does nothing, the progress maximum is kept and every message is answered
// OK. Front ends without a window override what they want to see.
#pragma once

#include "window_ops.h"

namespace kronex {

class WindowlessOps : public MainWindowOps {
  public:
    explicit WindowlessOps(int maximum = 0) : maximum_(maximum) {}

    void setHeaderTexts(std::string_view, std::string_view) override {}
    void clearModuleList() override {}
    void appendModuleLine(std::string_view) override {}
    void setProgressMax(int maximum) override { maximum_ = maximum; }
    int progressMax() const override { return maximum_; }
    void stepProgress(int) override {}
    void setStartEnabled(bool) override {}
    void setStartCaption(std::string_view) override {}
    void setStatusText(std::string_view) override {}
    void setBusyCursor() override {}
    void restoreCursor() override {}
    void pumpEvents() override {}
    void requestTermination() override {}
    bool SHOW_MSG(MessageCode) override { return true; }

  private:
    int maximum_;
};

} // namespace kronex
