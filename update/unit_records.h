// The folder of unit records: one file per unit, named by its serial
// number and unit bytes, so several units updated at once keep one each.
#pragma once

#include "record_files.h"
#include "unit_record.h"

#include <filesystem>
#include <utility>
#include <vector>

namespace kronex {

struct KeptRecord {
    std::filesystem::path file;
    UnitRecord record;
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
    bool keep(const std::filesystem::path& file, const UnitRecord& record, std::string& why);
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
