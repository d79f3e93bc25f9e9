// Where the diagnostic file goes on a Windows that refuses new files in the
// root of C: (every program that is not elevated), played through the file
// seam: wine, running as root, lets anyone write there.
#include "dump_file.h"
#include "fake_dump_files.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string fileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(DriveC, RefusingNewFilesSendsItToLocalAppData) {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    ASSERT_NE(local, nullptr);
    const fs::path userFile = fs::path(local) / L"KRONEX" / L"TEXTO2.TXT";
    const std::string onDriveC = fileText("C:\\TEXTO2.TXT"); // empty when there is none

    kronex::test::FakeDumpFiles files;
    files.refusing.push_back("C:\\");
    files.userHome = kronex::systemDumpFiles().userFolder();
    kronex::IdentityImage identity;
    identity.fill(0xA5);
    const auto result = kronex::writeDumpFile(kronex::dumpFilePath(), identity, files);
    EXPECT_EQ(result.path, userFile);
    EXPECT_EQ(result.error.rfind("C:\\TEXTO2.TXT could not be written: ", 0), 0u) << result.error;
    EXPECT_EQ(fileText(userFile), kronex::dumpText(identity) + "\r\n");
    EXPECT_EQ(fileText("C:\\TEXTO2.TXT"), onDriveC);
    // Written again over the one there, under a temporary name of its own.
    identity.fill(0x3C);
    EXPECT_EQ(kronex::writeDumpFile(kronex::dumpFilePath(), identity, files).path, userFile);
    EXPECT_EQ(fileText(userFile), kronex::dumpText(identity) + "\r\n");
    EXPECT_EQ(
        std::distance(fs::directory_iterator(userFile.parent_path()), fs::directory_iterator()), 1);
    fs::remove(userFile);
}
