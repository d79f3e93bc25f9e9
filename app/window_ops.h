// What the workflow may do to the main window, without knowing the toolkit,
// and how the session's reports become those widget calls.
#pragma once

#include "session_observer.h"

#include <string_view>

namespace kronex {

// Names one entry of the message table.
using MessageCode = unsigned;
inline constexpr MessageCode MSG_INICIAR = 0;   // asks to put the unit in update mode
inline constexpr MessageCode MSG_PORTA = 1;     // no port gave a compatible unit
inline constexpr MessageCode MSG_VERSAO = 4;    // the unit cannot take this release
inline constexpr MessageCode MSG_CONCLUIDO = 7; // the update completed

// Texts are UTF-8.
class MainWindowOps : public SessionObserver {
  public:
    virtual void setHeaderTexts(std::string_view date, std::string_view caption) = 0;
    virtual void clearModuleList() = 0;
    virtual void appendModuleLine(std::string_view line) = 0;
    virtual void setProgressMax(int maximum) = 0; // the position is kept
    virtual int progressMax() const = 0;
    // Position plus `amount`, clamped to 0..maximum.
    virtual void stepProgress(int amount) = 0;
    virtual void setStartEnabled(bool enabled) = 0;
    virtual void setStartCaption(std::string_view caption) = 0;
    virtual void setStatusText(std::string_view text) = 0;
    virtual void setBusyCursor() = 0;
    virtual void restoreCursor() = 0;
    // Handles every pending window event once, then returns.
    virtual void pumpEvents() = 0;
    // The program ends once control is back in the event loop.
    virtual void requestTermination() = 0;
    // Shows the message dialog for `code`; true only when closed with OK.
    virtual bool SHOW_MSG(MessageCode code) = 0;

    // The session's reports, as the window shows them.
    void checkBegins() final;
    void checkEnded() final;
    void sessionBegins(std::string_view serial) final;
    void advanced(int units) final;
    void between() final;
    void sessionCompleted() final;
    // The window never uses a record another user of the PC keeps: it asks
    // nobody, and no window can be made to.
    bool useForeignRecord(const KeptRecord&) final { return false; }
};

} // namespace kronex
