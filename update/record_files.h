// File access for the unit records, behind one small class so that tests
// can make a write fail. The class itself is the disk.
#pragma once

#include "record_owner.h"
#include "unit_record.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kronex {

class RecordFiles {
  public:
    virtual ~RecordFiles() = default;

    // Replaces `path` with `text` so that a power cut leaves the old file or
    // the new one, whole: a temporary file of its own beside it, flushed to
    // disk, renamed over it, the folder flushed. The folder is made if
    // missing, and each folder made is flushed into its parent. false, with why, when any of that
    // fails.
    virtual bool replace(const std::filesystem::path& path, const std::string& text,
                         std::string& why);
    // A record file's text, read as input from outside: never through a
    // symbolic link, never waiting on a pipe or device, a regular file only
    // and no longer than kRecordMaxBytes. nullopt otherwise, with the rule it
    // broke in `fault` and, when the system refused, its text in `why`.
    virtual std::optional<std::string> read(const std::filesystem::path& path, RecordFault& fault,
                                            std::string& why);
    // The regular files named like records in `folder` (none when it does
    // not exist); links, pipes, devices and folders are left out.
    virtual std::vector<std::filesystem::path> list(const std::filesystem::path& folder);
    // Removes `path` so that a power cut cannot bring it back (the folder is
    // flushed). A file already gone is removed. false, with why, otherwise.
    virtual bool remove(const std::filesystem::path& path, std::string& why);
    // Who owns the file: one that another user of the PC owns goes into a
    // unit only on the technician's word.
    virtual RecordOwner owner(const std::filesystem::path& path) { return recordOwner(path); }
};

// The disk: the one instance the program uses.
RecordFiles& diskRecordFiles();

inline constexpr const char* kRecordExtension = ".record";

} // namespace kronex
