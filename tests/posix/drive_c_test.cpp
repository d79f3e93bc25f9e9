// Where "C:\TEXTO2.TXT" lands on Linux, and that it is written whole.
#include "device_namespace.h"
#include "dump_file.h"
#include "fake_dump_files.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string fileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

kronex::IdentityImage counting() {
    kronex::IdentityImage identity;
    for (std::size_t i = 0; i < identity.size(); ++i)
        identity[i] = static_cast<std::uint8_t>(i * 3);
    return identity;
}

} // namespace

TEST(DriveC, WithoutANamespaceEntryItIsDriveCBesideIt) {
    kronex::test::DeviceNamespace ns;
    const fs::path expected = fs::path(ns.stateHome()) / "kronex" / "drive_c" / "TEXTO2.TXT";
    EXPECT_EQ(kronex::dumpFilePath(), expected);
    EXPECT_FALSE(fs::exists(expected.parent_path())); // made on demand only
    ASSERT_EQ(kronex::writeDumpFile(kronex::dumpFilePath(), counting()).path, expected);
    const std::string text = fileText(expected);
    ASSERT_EQ(text.size(), 386u);
    EXPECT_EQ(text.substr(0, 12), "00.03.06.09.");
    EXPECT_EQ(text.substr(381), "7D.\r\n"); // 127 * 3 = 381 = 0x17D
}

TEST(DriveC, TheNamespaceEntryWinsAndAnExistingFileIsReplaced) {
    kronex::test::DeviceNamespace ns;
    const fs::path elsewhere = fs::path(ns.stateHome()) / "shop-pc";
    fs::create_directories(elsewhere);
    fs::create_symlink(elsewhere, fs::path(ns.stateHome()) / "kronex" / "dosdevices" / "c:");
    std::ofstream(elsewhere / "TEXTO2.TXT") << std::string(1000, 'x');
    ASSERT_EQ(kronex::writeDumpFile(kronex::dumpFilePath(), counting()).path,
              kronex::dumpFilePath());
    EXPECT_EQ(fileText(elsewhere / "TEXTO2.TXT").size(), 386u);
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
}

// A root where the file cannot go: the old entry stays as it was, and the
// file goes to the user's own folder, $XDG_STATE_HOME/kronex, instead.
TEST(DriveC, AnUnwritableRootLeavesTheOldFileAloneAndTheUserFolderTakesIt) {
    kronex::test::DeviceNamespace ns;
    const fs::path root = fs::path(ns.stateHome()) / "kronex" / "drive_c";
    fs::create_directories(root / "TEXTO2.TXT"); // a folder where the file should go
    const auto result = kronex::writeDumpFile(kronex::dumpFilePath(), counting());
    const fs::path userFile = fs::path(ns.stateHome()) / "kronex" / "TEXTO2.TXT";
    EXPECT_EQ(result.path, userFile);
    EXPECT_EQ(
        result.error.rfind(kronex::pathText(root / "TEXTO2.TXT") + " could not be written: ", 0),
        0u)
        << result.error;
    EXPECT_EQ(fileText(userFile).size(), 386u);
    EXPECT_TRUE(fs::is_directory(root / "TEXTO2.TXT"));
    EXPECT_TRUE(fs::is_empty(root / "TEXTO2.TXT"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
}

// Drive C: refusing new files, as it does for every program that is not
// elevated on Windows: the file goes to the user's own folder, drive C: is
// left without it, and the result says why.
TEST(DriveC, RefusingNewFilesSendsItToTheUserFolder) {
    kronex::test::DeviceNamespace ns;
    kronex::test::FakeDumpFiles files;
    files.refusing.push_back(kronex::dumpFilePath().parent_path());
    files.userHome = kronex::systemDumpFiles().userFolder();
    const auto result = kronex::writeDumpFile(kronex::dumpFilePath(), counting(), files);
    const fs::path userFile = fs::path(ns.stateHome()) / "kronex" / "TEXTO2.TXT";
    EXPECT_EQ(result.path, userFile);
    EXPECT_NE(result.error.find("Permission denied"), std::string::npos) << result.error;
    EXPECT_EQ(fileText(userFile).substr(0, 12), "00.03.06.09.");
    EXPECT_FALSE(fs::exists(kronex::dumpFilePath()));
}
