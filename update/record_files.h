// File access for the unit records, behind one small class so that tests
// can make a write fail. The class itself is the disk.
#pragma once

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
    // missing. false, with why, when any of that fails.
    virtual bool replace(const std::filesystem::path& path, const std::string& text,
                         std::string& why);
    virtual std::optional<std::string> read(const std::filesystem::path& path);
    // The record files in `folder` (none when it does not exist).
    virtual std::vector<std::filesystem::path> list(const std::filesystem::path& folder);
    virtual void remove(const std::filesystem::path& path);
};

// The disk: the one instance the program uses.
RecordFiles& diskRecordFiles();

inline constexpr const char* kRecordExtension = ".record";

} // namespace kronex
