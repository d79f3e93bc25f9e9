// The unit records' own disk calls on Windows: the replace and the removal
// in a folder whose name has accents, the reads that refuse what is not a
// plain record file, and who owns a record.
#include "dump_file.h" // pathText
#include "record_files_win32.h"
#include "record_owner.h"

#include <fstream>
#include <gtest/gtest.h>
#include <windows.h>

namespace fs = std::filesystem;
using namespace kronex;

namespace {

class RecordFilesWin32 : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 (L"kronex-registros-çã-" + std::to_wstring(::GetCurrentProcessId()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    std::size_t entries() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
    fs::path folder;
};

void writeFile(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

} // namespace

TEST_F(RecordFilesWin32, ReplaceWritesThenReplacesAndRemoveTakesItAway) {
    const fs::path record = folder / L"unidade-é.record";
    std::string why;
    ASSERT_TRUE(replaceFileDurably(record, "first\r\n", why)) << why;
    ASSERT_TRUE(replaceFileDurably(record, "second, longer\r\n", why)) << why;
    EXPECT_EQ(readRecordFile(record, 64, why), "second, longer\r\n") << why;
    EXPECT_EQ(entries(), 1u); // no temporary file left beside it

    // A folder in the way: refused, and its temporary file taken away.
    fs::create_directory(folder / L"pasta.record");
    EXPECT_FALSE(replaceFileDurably(folder / L"pasta.record", "x", why));
    EXPECT_NE(why.find("pasta.record"), std::string::npos) << why;
    EXPECT_EQ(entries(), 2u);

    ASSERT_TRUE(removeFileDurably(record, why)) << why;
    EXPECT_FALSE(fs::exists(record));
    EXPECT_TRUE(removeFileDurably(record, why)) << "already gone counts as removed: " << why;
}

TEST_F(RecordFilesWin32, ReadRefusesWhatIsNoPlainFileOfAtMostTheCap) {
    const fs::path record = folder / L"r.record";
    writeFile(record, std::string(100, 'a'));
    std::string why;
    EXPECT_EQ(readRecordFile(record, 100, why), std::string(100, 'a')) << why;

    const std::wstring pipeName =
        L"\\\\.\\pipe\\kronex-record-" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE pipe = ::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    fs::create_directory(folder / L"pasta.record");
    const struct {
        fs::path path;
        std::size_t cap;
        const char* because;
    } refused[] = {
        {record, 99, "more than the 99"},
        {folder / L"pasta.record", 100, "is a folder"},
        {folder / L"nenhum.record", 100, "opening"},
        // Listening: opened and refused, never read from.
        {pipeName, 100, "is not a file"},
        // Now busy: refused at once rather than waited for.
        {pipeName, 100, "opening"},
    };
    for (const auto& c : refused) {
        why.clear();
        EXPECT_EQ(readRecordFile(c.path, c.cap, why), std::nullopt) << pathText(c.path);
        EXPECT_NE(why.find(c.because), std::string::npos) << why;
    }
    ::CloseHandle(pipe);
}

// A link in the record folder is refused, not followed. Wine 8's
// CreateSymbolicLinkW answers true and makes nothing: skipped there.
TEST_F(RecordFilesWin32, ReadRefusesALink) {
    const fs::path target = folder / L"alvo.txt";
    const fs::path link = folder / L"link.record";
    writeFile(target, "not a record");
    if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(),
                               SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
        ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no symbolic link made here";
    std::string why;
    EXPECT_EQ(readRecordFile(link, 100, why), std::nullopt);
    EXPECT_NE(why.find("is a link"), std::string::npos) << why;
    ASSERT_TRUE(removeFileDurably(link, why)) << why;
    EXPECT_TRUE(fs::exists(target)); // the link went, not what it named
}

TEST_F(RecordFilesWin32, AFileOfOneselfIsTrusted) {
    const fs::path record = folder / L"r.record";
    writeFile(record, "x");
    const RecordOwner owner = recordOwner(record);
    EXPECT_TRUE(owner.trusted) << owner.name;
    EXPECT_NE(owner.name, "?");
    EXPECT_FALSE(recordOwner(folder / L"nenhum.record").trusted);
}

TEST(RecordOwnerRule, TheUserAdministratorsAndSystemOnly) {
    const std::string me = "S-1-5-21-1-2-3-1001";
    const struct {
        std::string owner;
        bool trusted;
    } cases[] = {
        {me, true},
        {"S-1-5-32-544", true},         // Administrators
        {"S-1-5-18", true},             // SYSTEM
        {"S-1-5-21-1-2-3-1002", false}, // another user of the PC
        {"S-1-5-32-545", false},        // Users
        {"S-1-1-0", false},             // Everyone
        {"S-1-5-21-1-2-3-10011", false},
        {"", false}, // unknown
    };
    for (const auto& c : cases)
        EXPECT_EQ(trustedOwnerSid(c.owner, me), c.trusted) << c.owner;
    EXPECT_FALSE(trustedOwnerSid("", "")) << "no user read and no owner read";
}
