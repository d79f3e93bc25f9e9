// The system's files for the diagnostic file, except that chosen folders
// refuse new files, as the root of drive C: does for a program that is not
// elevated on Windows, and the user's own folder is one the test chose.
#pragma once

#include "dump_file.h"

#include <filesystem>
#include <vector>

namespace kronex::test {

class FakeDumpFiles final : public DumpFiles {
  public:
    std::filesystem::path userHome;               // what userFolder() answers
    std::vector<std::filesystem::path> refusing;  // folders that take no new file
    std::vector<std::filesystem::path> attempted; // every file asked for, in order

    std::error_code createNew(const std::filesystem::path& file, std::string_view text) override;
    std::error_code replace(const std::filesystem::path& from,
                            const std::filesystem::path& to) override {
        return systemDumpFiles().replace(from, to);
    }
    std::filesystem::path userFolder() override { return userHome; }
};

} // namespace kronex::test
