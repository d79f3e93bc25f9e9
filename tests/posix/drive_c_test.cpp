// Where "C:\TEXTO2.TXT" lands on Linux, and that it is written whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device_namespace.h"
#include "dump_file.h"

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
    ASSERT_TRUE(kronex::writeDumpFile(kronex::dumpFilePath(), counting()));
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
    ASSERT_TRUE(kronex::writeDumpFile(kronex::dumpFilePath(), counting()));
    EXPECT_EQ(fileText(elsewhere / "TEXTO2.TXT").size(), 386u);
    EXPECT_FALSE(fs::exists(elsewhere / "TEXTO2.TXT.partial"));
}

TEST(DriveC, AnUnwritableRootLeavesTheOldFileAlone) {
    kronex::test::DeviceNamespace ns;
    const fs::path root = fs::path(ns.stateHome()) / "kronex" / "drive_c";
    fs::create_directories(root / "TEXTO2.TXT"); // a folder where the file should go
    EXPECT_FALSE(kronex::writeDumpFile(kronex::dumpFilePath(), counting()));
    EXPECT_TRUE(fs::is_directory(root / "TEXTO2.TXT"));
    EXPECT_FALSE(fs::exists(root / "TEXTO2.TXT.partial"));
}
