// Who owns a kept record. On a PC that several people use, a record owned
// by another user could have been written to put other bytes into a unit:
// such a record goes into a unit only on the technician's word.
#pragma once

#include <filesystem>
#include <string>

namespace kronex {

struct RecordOwner {
    bool trusted = true; // the current user, the Administrators group or SYSTEM
    std::string name;    // "DOMAIN\\user", or the SID's text, for messages
};

// Elsewhere than Windows records live in the user's own folder: always trusted.
RecordOwner recordOwner(const std::filesystem::path& file);

} // namespace kronex
