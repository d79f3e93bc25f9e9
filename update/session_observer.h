// What detection and the update session report as they go, to whichever
// front end runs them. Nothing here knows a window or a terminal: the
// window turns these reports into its widgets and dialogs, kronex-update
// into its progress figures and question.
#pragma once

#include "session_stop.h"

#include <string_view>

namespace kronex {

struct KeptRecord;

class SessionObserver {
  public:
    virtual ~SessionObserver() = default;

    // The compatibility check's identity read begins, and has ended.
    virtual void checkBegins() {}
    virtual void checkEnded() {}
    // The session begins on the unit with this serial number.
    virtual void sessionBegins(std::string_view /*serial*/) {}
    // The session reaches a step; every exchange until the next belongs to it.
    virtual void stepReached(SessionStep) {}
    // Work done, in the release's progress units (its progressMax in all).
    virtual void advanced(int /*units*/) {}
    // Between exchanges: a moment for the front end to catch up.
    virtual void between() {}
    // The whole release is in the unit and its diagnostic file is written.
    virtual void sessionCompleted() {}
    // The unit's record is kept here by another user of the PC: true to use
    // it all the same. Only a person's answer may say yes.
    virtual bool useForeignRecord(const KeptRecord&) { return false; }
};

} // namespace kronex
