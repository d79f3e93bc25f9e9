#include "session_stop.h"

#include "device_commands.h"
#include "link_exchange.h"

#include <cstdio>

namespace kronex {

namespace {

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

} // namespace

void recordLastExchange(const LinkExchange& link, SessionStop& stop) {
    stop.command = link.frame[1];
    stop.exchange = link.exchanges;
    stop.linkStatus = link.status;
    stop.replyStatus = link.reply[0];
    stop.replyLength = link.replyLength;
    stop.frameSent = link.frameSent;
    stop.portFailed = link.port().failed();
    const auto f = decodeFrame(link.frame.data(), link.frame.size());
    stop.address = f ? f->address : 0;
    stop.half = f ? f->half : 0;
}

std::string stepName(const SessionStop& stop) {
    switch (stop.step) {
    case SessionStep::MainImageGroup1:
        return "main image group 1";
    case SessionStep::MainImageGroup2:
        return "main image group 2";
    case SessionStep::Erases:
        return "erases";
    case SessionStep::DataPart:
        return "data part section " + std::to_string(stop.section);
    case SessionStep::TopBlock:
        return "top block";
    case SessionStep::MirrorBlock:
        return "mirror block";
    case SessionStep::IdentityBlock:
        return "identity block";
    case SessionStep::SecondTarget:
        return "second target";
    case SessionStep::FinalRun:
        return "final run";
    case SessionStep::Completed:
        return "completed";
    }
    return "?";
}

std::string commandText(const SessionStop& stop) {
    if (stop.exchange == 0)
        return "";
    if (stop.command == kCmdWriteData)
        return "DATA block " + hex(stop.address, 4) + "+" + hex(stop.half, 2);
    const std::string target = (stop.command & kTarget1Bit) ? " t1" : " t0";
    switch (stop.command & static_cast<std::uint8_t>(~kTarget1Bit)) {
    case kCmdRun:
        return "RUN" + target;
    case kCmdErase:
        return "ERASE" + target + " " + hex(stop.address, 4);
    case kCmdRead:
        return "READ" + target + " " + hex(stop.address, 4);
    case kCmdWrite:
        return "WRITE" + target + " " + hex(stop.address, 4);
    default:
        return "command 0x" + hex(stop.command, 2);
    }
}

std::string reasonText(const SessionStop& stop) {
    if (stop.step == SessionStep::Completed)
        return "";
    switch (stop.safeguard) {
    case Safeguard::None:
        break;
    case Safeguard::IdentityLost:
        return "identity lost: the identity block is blank or cut and no record kept on this PC "
               "fits the unit; nothing was erased";
    case Safeguard::SeveralRecords:
        return "identity lost: the identity block is blank or cut and several records kept on "
               "this PC fit the unit; nothing was erased";
    case Safeguard::IdentityChanged:
        return "the identity block no longer reads as at the start of the session; nothing was "
               "erased";
    case Safeguard::TopBlockBlank:
        return "the top block reads blank and no record kept on this PC fits the unit; nothing "
               "was erased";
    case Safeguard::RecordNotKept:
        return "the record of this unit cannot be kept on this PC: " + stop.recordError +
               "; nothing was erased";
    case Safeguard::RecordHeld:
        return "the unit's record is in use by another update running now; nothing was erased";
    case Safeguard::RecordNotTrusted:
        return "the record that fits the unit belongs to another user of this PC and was not "
               "confirmed; nothing was erased";
    }
    if (stop.releaseFault)
        return "the release cannot be installed (it ends early or has too many data sections)";
    if (stop.portFailed && stop.linkStatus != LINK_OK)
        return "the port failed (the unit or its adapter is gone)";
    switch (stop.linkStatus) {
    case LINK_WRITE_FAILED:
        return "a byte could not be written to the port";
    case LINK_ZERO_LENGTH:
        return "reply of length 0";
    case LINK_SHORT_READ:
        return "reply cut short";
    case LINK_TIMEOUT:
        return stop.frameSent ? "no reply within 5 s" : "no complement within 5 s";
    default:
        break;
    }
    if ((stop.command & static_cast<std::uint8_t>(~kTarget1Bit)) == kCmdRead &&
        stop.replyLength != kReadReplyLength)
        return "reply of length " + std::to_string(stop.replyLength) + " instead of " +
               std::to_string(kReadReplyLength);
    return "refused with status 0x" + hex(stop.replyStatus, 2);
}

} // namespace kronex
