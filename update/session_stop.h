// Where an update session stopped and why, for front ends that report it.
// The window does not look at it.
#pragma once

#include "dump_file.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace kronex {

class LinkExchange;

// The parts of a session, in the order they run.
enum class SessionStep : std::uint8_t {
    MainImageGroup1, // target 0, the three segments before the run command
    MainImageGroup2, // target 0, the three segments after the restart
    Erases,
    DataPart, // `section` says which
    TopBlock,
    MirrorBlock,
    IdentityBlock,
    SecondTarget,
    FinalRun,
    Completed,
};

// Stops that keep the unit's own blocks from being lost: each comes before
// the erase it would have made.
enum class Safeguard : std::uint8_t {
    None,
    IdentityLost,     // a blank or cut identity and no kept record fits it
    SeveralRecords,   // a blank or cut identity that several kept records fit
    IdentityChanged,  // bytes 0-5 read other than at the check, and no record
    TopBlockBlank,    // the top block reads blank and no record fits it
    RecordNotKept,    // the record could not be written (the window goes on where it can)
    RecordHeld,       // the unit's record is held by another live session
    RecordNotTrusted, // the record that fits is another user's, and was not confirmed
};

struct SessionStop {
    SessionStep step = SessionStep::MainImageGroup1;
    int section = 0; // data part: from 1
    // The last exchange: its command byte, its address (or data block number
    // and half), its number since the link was made, and how it ended.
    std::uint8_t command = 0;
    std::uint16_t address = 0;
    std::uint8_t half = 0; // data blocks: 0x00 or 0x80
    unsigned exchange = 0;
    std::uint8_t linkStatus = 0;  // LinkStatus
    std::uint8_t replyStatus = 0; // first reply byte, when the link status is OK
    unsigned replyLength = 0;     // the reply's length byte
    bool frameSent = false;       // the frame went out whole before it ended
    bool portFailed = false;      // a transfer could not even start: unit or adapter gone
    bool releaseFault = false; // the release ran out or broke a limit: nothing on the wire failed
    Safeguard safeguard = Safeguard::None;
    std::string recordError; // why the record could not be written
};

struct SessionResult {
    bool completed = false;
    SessionStop stop; // step Completed when completed
    // The unit's record left open by a session that did not complete (empty
    // path: none), with where and when it stopped.
    std::filesystem::path openRecord;
    std::string since;
    // The window goes on when its record cannot be written; this says why.
    std::string recordError;
    // "29" and bytes 0-2 of the unit's own identity once settled (from a kept
    // record where the unit's own read blank); empty before.
    std::string ownSerial;
    DumpResult dump; // a completed session's diagnostic file
};

// The last exchange of `link`, as far as the stop report needs it.
void recordLastExchange(const LinkExchange& link, SessionStop& stop);

// "main image group 1", "data part section 3", ...
std::string stepName(const SessionStop& stop);
// "WRITE t0 4200", "DATA block 0064+80", "RUN t1", "READ t0 FF80".
std::string commandText(const SessionStop& stop);
// "no complement within 5 s", "refused with status 0x55", ...
std::string reasonText(const SessionStop& stop);

} // namespace kronex
