// The unit records' disk calls on Windows, where the record folder is shared
// by every user of the PC (%ProgramData%\KRONEX): wide-character paths, no
// link followed on reading, and renames that survive a power cut as far as
// the file system allows. Built for Windows only.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace kronex {

// Replaces `path` with `text`: a temporary file of its own beside it,
// written and flushed, renamed over `path` through its own handle (POSIX
// semantics: a reader holding the old file keeps it) and flushed again, then
// the folder's entry flushed where the system lets us. A power cut leaves the
// old file or the new one, whole. false, with why, when the file could not be
// replaced; a folder that refuses the flush does not fail it.
bool replaceFileDurably(const std::filesystem::path& path, const std::string& text,
                        std::string& why);

// Removes `path` (a link itself, never what it points at), then flushes the
// folder where allowed. A file already gone counts as removed. false, with
// why, when it is still there.
bool removeFileDurably(const std::filesystem::path& path, std::string& why);

// The content of the record file `path`, or nothing with why: a link or
// other reparse point, a folder, a device or pipe, or more than `cap` bytes
// are refused before anything is read. Never waits on what it opens.
std::optional<std::string> readRecordFile(const std::filesystem::path& path, std::size_t cap,
                                          std::string& why);

} // namespace kronex
