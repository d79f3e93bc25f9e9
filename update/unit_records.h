// The folder of unit records: one file per unit, named by its serial
// number and unit bytes, so several units updated at once keep one each.
#pragma once

#include "record_files.h"
#include "record_owner.h"
#include "unit_record.h"

#include <filesystem>
#include <utility>
#include <vector>

namespace kronex {

struct KeptRecord {
    std::filesystem::path file;
    UnitRecord record;
    RecordOwner owner = {};
};

class UnitRecords {
  public:
    UnitRecords(std::filesystem::path folder, RecordFiles& files)
        : folder_(std::move(folder)), files_(files) {}

    // The records that pass their checksum; damaged ones are left out.
    std::vector<KeptRecord> whole() const;
    // The files named like records that whole() leaves out, and why.
    std::vector<std::pair<std::filesystem::path, RecordFault>> leftOut() const;
    // "unit-290A1BC2-010722.record" for the unit with this identity.
    std::filesystem::path fileFor(const UnitBlock& identity) const;
    // Where restore keeps a unit's blocks as they were before it wrote
    // others: a folder of its own, which no lookup reads.
    std::filesystem::path beforeRestoreFile(const UnitBlock& identity,
                                            const std::string& when) const;
    bool keep(const std::filesystem::path& file, const UnitRecord& record, std::string& why);
    // Whether the folder exists (made if missing) and takes a file flushed
    // to disk, and `file` can be a record: asked before anything of a unit
    // is erased.
    bool canKeep(const std::filesystem::path& file, std::string& why);
    // false, with why, when the file stays: taken later, it would be a stale record.
    bool discard(const std::filesystem::path& file, std::string& why) {
        return files_.remove(file, why);
    }

  private:
    std::filesystem::path folder_;
    RecordFiles& files_;
};

// The per-machine state folder: %ProgramData%\KRONEX on Windows,
// ${XDG_STATE_HOME:-$HOME/.local/state}/kronex elsewhere.
std::filesystem::path defaultUnitRecordFolder();

} // namespace kronex
