#include "advice.h"

#include "detection.h"
#include "device_commands.h"
#include "link_exchange.h"
#include "messages.h"
#include "port_problem.h"

#include <cstdio>

namespace kronex::cli {

namespace {

std::string again() {
    return tr("keep the unit switched on and in update mode, and run the update again");
}

// A stop that kept the unit's own blocks safe: nothing of the unit's own was
// erased, and the unit is not at fault.
std::optional<Advice> safeguardAdvice(const SessionStop& s) {
    const std::string sameAgain =
        tr("finish the update on the PC that began it, or copy that PC's record of the unit and "
           "run: kronex-update restore --record FILE");
    switch (s.safeguard) {
    case Safeguard::None:
        return std::nullopt;
    case Safeguard::IdentityLost:
    case Safeguard::SeveralRecords:
        break; // an outcome of its own
    case Safeguard::RecordNotKept:
        return Advice{fill(tr("the record of this unit cannot be kept on this PC: {1}; nothing "
                              "of the unit was erased"),
                           {s.recordError}),
                      tr("free space on the disk, or give this user the right to write in the "
                         "folder named, and run the update again; the unit is not at fault")};
    case Safeguard::RecordHeld:
        return Advice{tr("the unit's record is in use by another update running now on this PC; "
                         "nothing of the unit was erased"),
                      tr("let the other update end, then run this one again")};
    case Safeguard::RecordNotTrusted:
        return Advice{tr("the record kept on this PC for this unit belongs to another user; "
                         "nothing of the unit was erased"),
                      tr("run the update without --yes and answer the question, or let that user "
                         "or an administrator finish it")};
    case Safeguard::IdentityChanged:
        return Advice{tr("the unit's identity block read otherwise during the update than at its "
                         "start; nothing of the unit's own was erased"),
                      again()};
    case Safeguard::TopBlockBlank:
        return Advice{tr("the unit's top block reads blank and no record kept on this PC fits it; "
                         "nothing of the unit's own was erased"),
                      sameAgain};
    }
    return std::nullopt;
}

Advice stopAdvice(const SessionStop& s) {
    if (const auto advice = safeguardAdvice(s))
        return *advice;
    if (s.releaseFault)
        return {tr("the release inside this program cannot be installed; the unit is not at "
                   "fault"),
                tr("use another build of kronex-update")};
    if (s.portFailed && s.linkStatus != LINK_OK)
        return {tr("the unit or its USB adapter disconnected"),
                tr("check the cable and the adapter, switch the unit on in update mode, and run "
                   "the update again")};
    switch (s.linkStatus) {
    case LINK_WRITE_FAILED:
        return {tr("the computer could not send to the unit"),
                tr("check the cable and the adapter, and run the update again")};
    case LINK_TIMEOUT:
        return {s.frameSent ? tr("the unit took a command but never answered it")
                            : tr("the unit stopped answering"),
                tr("check the cable, keep the unit switched on and in update mode, and run the "
                   "update again")};
    case LINK_ZERO_LENGTH:
    case LINK_SHORT_READ:
        return {tr("the unit's answer came garbled"),
                tr("check the cable and its connectors, keep the unit switched on and in update "
                   "mode, and run the update again")};
    default:
        break;
    }
    const auto command = static_cast<std::uint8_t>(s.command & ~kTarget1Bit);
    if (command == kCmdRead && s.replyLength != kReadReplyLength)
        return {tr("the unit's answer came garbled"), again()};
    if (command == kCmdWrite || s.command == kCmdWriteData)
        return {tr("the unit refused to write a block"),
                again() + tr("; if it refuses the same block again, its memory may be faulty: "
                             "send it for repair")};
    if (command == kCmdErase)
        return {tr("the unit refused to erase its memory"), again()};
    if (command == kCmdRun)
        return {tr("the unit refused to restart"), again()};
    return {tr("the unit refused a command"), again()};
}

std::string exchangeOf(const UnitReport& u) {
    return fill(tr("exchange {1} of {2}"),
                {std::to_string(u.stop->exchange), std::to_string(u.exchangesTotal)});
}

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

} // namespace

Advice adviceFor(const UnitReport& u) {
    switch (u.outcome) {
    case Outcome::Updated:
    case Outcome::Answered:
    case Outcome::Skipped:
    case Outcome::Verified:
    case Outcome::Restored:
        return {};
    case Outcome::IdentityLost:
        return {u.stop && u.stop->safeguard == Safeguard::SeveralRecords
                    ? tr("the unit's identity block is blank or cut short and several records "
                         "kept on this PC fit it; nothing of the unit's own was erased")
                    : tr("the unit's identity block is blank or cut short and no record kept on "
                         "this PC fits it; nothing of the unit's own was erased"),
                tr("finish the update on the PC that began it, or copy that PC's record of the "
                   "unit and run: kronex-update restore --record FILE")};
    case Outcome::Differs:
        return {fill(trn("{1} block of the unit's memory differs from what this release writes",
                         "{1} blocks of the unit's memory differ from what this release writes",
                         u.readBack ? u.readBack->faults.size() : 0),
                     {std::to_string(u.readBack ? u.readBack->faults.size() : 0)}),
                tr("run the update again; if the same blocks differ after it, the unit's memory "
                   "is faulty: send it for repair")};
    case Outcome::OtherRelease:
        return {fill(tr("the unit holds release {1}, not the one this program installs: its "
                        "blocks are that release's, not faults"),
                     {std::to_string(u.releaseBefore.value_or(0))}),
                tr("update it to this release (kronex-update update), then verify it again")};
    case Outcome::Unreadable:
        return {tr("the unit would not let every block be read back, so it is not verified"),
                tr("keep the unit switched on and in update mode, check the cable, and run verify "
                   "again")};
    case Outcome::Failed:
        if (!u.stop && u.dumpFile.empty() && !u.dumpError.empty())
            return {tr("the unit was updated, but its diagnostic file could not be written "
                       "anywhere"),
                    tr("check --dump-dir, or the free space and the rights on drive C: and in "
                       "the user's own folder; the unit itself needs nothing more")};
        if (!u.stop && !u.problem.empty()) // restore: the unit was not touched
            return {tr("the record is not this unit's; nothing was written"),
                    tr("find the record named with this unit's serial number and run restore "
                       "with it")};
        if (!u.stop) // the session completed; what failed came after it
            return {tr("the unit was updated, but what followed the update failed"),
                    tr("read the reason; the unit itself needs nothing more")};
        return stopAdvice(*u.stop);
    case Outcome::Incompatible:
        return {fill(trn("the unit answers the update-mode handshake but not the identity read, "
                         "{1} time out of {2}: it is not in update mode as this program needs, or "
                         "it is not a unit this program can update",
                         "the unit answers the update-mode handshake but not the identity read, "
                         "{1} times out of {2}: it is not in update mode as this program needs, or "
                         "it is not a unit this program can update",
                         static_cast<unsigned long long>(u.checkTries)),
                     {std::to_string(u.checkTries), std::to_string(kTriesPerPort)}),
                tr("switch the unit off, then on again with F2 held down, check that the cable is "
                   "the unit's own, and run the update again; if it still fails, the unit cannot "
                   "take this release")};
    case Outcome::NoUnit:
        if (u.port == 0)
            return {tr("no unit in update mode answers on COM1 to COM16"),
                    tr("switch the unit on with F2 held down, check the cable, and run the update "
                       "again; a port above COM16 must be named with --port")};
        return {tr("no unit in update mode answers on this port"),
                tr("switch the unit on with F2 held down, check the cable and the port number "
                   "(kronex-update ports), and run the update again")};
    case Outcome::Held:
        return {tr("another program is using this port"),
                tr("close the other program (another kronex-update, the updater window, a "
                   "terminal program) and run the update again")};
    case Outcome::Denied:
#ifdef _WIN32
        return {tr("this user may not open the port"),
                tr("run the update as a user allowed to use the port")};
#else
        return {tr("this user may not open the port"),
                fill(tr("add the user to the group {1} (sudo usermod -aG {1} $USER), log in "
                        "again, and run the update again"),
                     {u.portProblem ? u.portProblem->group : "dialout"})};
#endif
    case Outcome::Missing:
        if (u.portProblem && u.portProblem->cause == PortCause::NotSerial)
            return {tr("not a serial port: the port's name leads to a file, folder or pipe, and "
                       "nothing was written to it"),
                    tr("point the port at the adapter's device (kronex-update ports shows where "
                       "each port leads), and run the update again")};
        return {tr("there is no such port on this computer, or it would not open"),
                tr("check that the adapter is plugged in and which port it has (kronex-update "
                   "ports), and name that port")};
    case Outcome::Interrupted:
        if (u.stop)
            return {tr("the update was interrupted; the unit is only partly written"),
                    tr("keep the unit switched on and in update mode, and run the update again "
                       "before using it")};
        return {tr("interrupted before the update began; nothing was written"), {}};
    }
    return {};
}

std::string detailOf(const UnitReport& u) {
    if (!u.stop && !u.problem.empty())
        return inEnglish() || u.problemWords.empty() ? u.problem : u.problemWords;
    if (u.portProblem)
        return fill(tr("system error {1}: {2}"),
                    {std::to_string(u.portProblem->code), problemText(*u.portProblem)});
    if (u.stop && u.stop->safeguard != Safeguard::None && u.stop->exchange == 0)
        return reasonWords(*u.stop); // settled before anything was sent
    if (u.stop)
        return stepText(stepName(*u.stop)) + ", " + commandWords(*u.stop) + ", " + exchangeOf(u) +
               ": " +
               (u.outcome == Outcome::Interrupted ? tr("interrupted") : reasonWords(*u.stop));
    if (u.outcome == Outcome::Incompatible && u.checkStop)
        return fill(tr("identity read {1}, try {2} of {3}: {4}"),
                    {commandWords(*u.checkStop), std::to_string(u.checkTries),
                     std::to_string(kTriesPerPort), reasonWords(*u.checkStop)});
    return {};
}

std::string stepText(const std::string& name) {
    // The names stepName() gives, marked for the catalogue.
    static const char* const kSteps[] = {
        N_("main image group 1"), N_("main image group 2"), N_("erases"),
        N_("top block"),          N_("mirror block"),       N_("identity block"),
        N_("second target"),      N_("final run"),          N_("completed")};
    for (const char* step : kSteps)
        if (name == step)
            return tr(step);
    const std::string section = "data part section ";
    if (name.rfind(section, 0) == 0)
        return fill(tr("data part section {1}"), {name.substr(section.size())});
    return name;
}

std::string commandWords(const SessionStop& stop) {
    if (stop.exchange > 0 && stop.command == kCmdWriteData)
        return fill(tr("DATA block {1}"), {hex(stop.address, 4) + "+" + hex(stop.half, 2)});
    const std::string text = commandText(stop);
    if (text.rfind("command 0x", 0) == 0)
        return fill(tr("command 0x{1}"), {hex(stop.command, 2)});
    return text; // the mnemonic and its address: READ t0 2000
}

std::string reasonWords(const SessionStop& stop) {
    if (stop.step == SessionStep::Completed)
        return "";
    const std::string erased = tr("nothing was erased");
    switch (stop.safeguard) {
    case Safeguard::None:
        break;
    case Safeguard::IdentityLost:
        return tr("identity lost: the identity block is blank or cut and no record kept on this "
                  "PC fits the unit") +
               "; " + erased;
    case Safeguard::SeveralRecords:
        return tr("identity lost: the identity block is blank or cut and several records kept "
                  "on this PC fit the unit") +
               "; " + erased;
    case Safeguard::IdentityChanged:
        return tr("the identity block no longer reads as at the start of the session") + "; " +
               erased;
    case Safeguard::TopBlockBlank:
        return tr("the top block reads blank and no record kept on this PC fits the unit") + "; " +
               erased;
    case Safeguard::RecordNotKept:
        return fill(tr("the record of this unit cannot be kept on this PC: {1}"),
                    {stop.recordError}) +
               "; " + erased;
    case Safeguard::RecordHeld:
        return tr("the unit's record is in use by another update running now") + "; " + erased;
    case Safeguard::RecordNotTrusted:
        return tr("the record that fits the unit belongs to another user of this PC and was not "
                  "confirmed") +
               "; " + erased;
    }
    if (stop.releaseFault)
        return tr("the release cannot be installed (it ends early or has too many data sections)");
    if (stop.portFailed && stop.linkStatus != LINK_OK)
        return tr("the port failed (the unit or its adapter is gone)");
    switch (stop.linkStatus) {
    case LINK_WRITE_FAILED:
        return tr("a byte could not be written to the port");
    case LINK_ZERO_LENGTH:
        return tr("reply of length 0");
    case LINK_SHORT_READ:
        return tr("reply cut short");
    case LINK_TIMEOUT:
        return stop.frameSent ? tr("no reply within 5 s") : tr("no complement within 5 s");
    default:
        break;
    }
    if ((stop.command & static_cast<std::uint8_t>(~kTarget1Bit)) == kCmdRead &&
        stop.replyLength != kReadReplyLength)
        return fill(tr("reply of length {1} instead of {2}"),
                    {std::to_string(stop.replyLength), std::to_string(kReadReplyLength)});
    return fill(tr("refused with status 0x{1}"), {hex(stop.replyStatus, 2)});
}

} // namespace kronex::cli
