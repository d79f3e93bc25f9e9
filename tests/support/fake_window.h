// A main window that records what the workflow does to it and answers the
// message dialog from a script.
#pragma once

#include "window_ops.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kronex::test {

class FakeWindow : public MainWindowOps {
  public:
    // State as a user would see it.
    std::string date, caption, status = "Atualização não executada", startCaption = "Iniciar";
    std::vector<std::string> modules;
    int maximum = 1000, position = 0;
    bool startEnabled = true, busy = false, terminationRequested = false;
    int pumps = 0;
    std::vector<MessageCode> shown;
    std::vector<int> steps;            // every progress step, as asked
    std::vector<std::string> statuses; // every status text, in order
    std::vector<SessionStep> reached;  // every step the session reported
    std::function<void()> onPump;      // runs at each pump, as a user's click would
    // Answers for SHOW_MSG, in order; when empty, OK.
    std::deque<bool> answers;

    void setHeaderTexts(std::string_view d, std::string_view c) override {
        date = d;
        caption = c;
    }
    void clearModuleList() override { modules.clear(); }
    void appendModuleLine(std::string_view line) override { modules.emplace_back(line); }
    void setProgressMax(int m) override { maximum = m; }
    int progressMax() const override { return maximum; }
    void stepProgress(int amount) override {
        steps.push_back(amount);
        position = std::clamp(position + amount, 0, maximum);
    }
    void setStartEnabled(bool e) override { startEnabled = e; }
    void setStartCaption(std::string_view c) override { startCaption = c; }
    void setStatusText(std::string_view t) override {
        status = t;
        statuses.push_back(status);
    }
    void setBusyCursor() override { busy = true; }
    void restoreCursor() override { busy = false; }
    void pumpEvents() override {
        ++pumps;
        if (onPump)
            onPump();
    }
    void requestTermination() override { terminationRequested = true; }
    void stepReached(SessionStep step) override { reached.push_back(step); }
    bool SHOW_MSG(MessageCode code) override {
        shown.push_back(code);
        if (terminationRequested)
            return false;
        bool ok = true;
        if (!answers.empty()) {
            ok = answers.front();
            answers.pop_front();
        }
        // Codes 1 and 4 can only be closed with Cancelar.
        return ok && (code == MSG_INICIAR || code == MSG_CONCLUIDO);
    }
};

} // namespace kronex::test
