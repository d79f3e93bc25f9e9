// Who made a unit record. On a Windows PC every user writes the same record
// folder (%ProgramData%\KRONEX), and each file belongs to whoever made it: a
// record made by another user is that user's word, not the system's.
#pragma once

#include <filesystem>
#include <string>

namespace kronex {

struct RecordOwner {
    bool trusted = true;
    std::string name; // "DOMAIN\user", or the SID as text: for messages
};

// Whether a record file may be applied without the technician's word: owned
// by the current user, the Administrators group or SYSTEM. Elsewhere than
// Windows records live in the user's own folder: always trusted. An owner
// that cannot be read is not trusted.
RecordOwner recordOwner(const std::filesystem::path& file);

// The rule itself, on SIDs as text ("S-1-5-..."): the owner is the current
// user, the Administrators group (S-1-5-32-544) or SYSTEM (S-1-5-18). An
// empty owner (unknown) is never trusted.
bool trustedOwnerSid(const std::string& ownerSid, const std::string& userSid);

} // namespace kronex
