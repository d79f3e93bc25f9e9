// The diagnostic file written at the end of a completed update: the
// identity block as written, each byte as two hexadecimal digits and ".".
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace kronex {

using IdentityImage = std::array<std::uint8_t, 128>;

// Where the diagnostic file went, or why it could not go where it should.
struct DumpResult {
    std::filesystem::path path; // where the file went; empty when it could not be written anywhere
    std::string error; // why the first place (C:\TEXTO2.TXT or --dump-dir's file) failed; empty
                       // when it did not
};

// The file system as the diagnostic file meets it. Behind this table so
// that a test can make drive C: refuse new files, as it does for every
// program that is not elevated on Windows, where the tests' own rights
// (root, or wine's C: owned by the user) would not show it.
class DumpFiles {
  public:
    virtual ~DumpFiles() = default;
    // Creates `file`, which must not exist yet, holding `text`, flushed to
    // the disk before this returns.
    virtual std::error_code createNew(const std::filesystem::path& file, std::string_view text) = 0;
    // Renames `from` over `to`, replacing a file already there.
    virtual std::error_code replace(const std::filesystem::path& from,
                                    const std::filesystem::path& to) = 0;
    // The user's own folder that takes the file when its first place does
    // not: %LOCALAPPDATA%\KRONEX on Windows, ${XDG_STATE_HOME:-~/.local/state}/kronex
    // elsewhere. Empty when the system names none.
    virtual std::filesystem::path userFolder() = 0;
};

// The platform's own files.
DumpFiles& systemDumpFiles();

// An error of systemDumpFiles() in the system's own words, as UTF-8.
std::string fileErrorText(const std::error_code& error);

// A path as UTF-8 text, whatever the user's name and the code page.
std::string pathText(const std::filesystem::path& path);

// 384 characters: "0A.1B.C2...".
std::string dumpText(const IdentityImage& identity);

// "C:\TEXTO2.TXT". Elsewhere than Windows, drive C: is the "c:" entry of the
// per-user device namespace, or kronex/drive_c beside it.
std::filesystem::path dumpFilePath();

// Replaces `first` with the one line; when that cannot be done (a standard
// user's Windows refuses new files in the root of C:), writes a file of the
// same name in the user's own folder instead. Each is written under a name
// of its own beside it, flushed, then renamed over it, so a failed write
// never leaves half a file and two programs writing at once never mix.
DumpResult writeDumpFile(const std::filesystem::path& first, const IdentityImage& identity,
                         DumpFiles& files = systemDumpFiles());

} // namespace kronex
