// A unit record read back as input from outside: only the text the program
// writes is taken, each other one refused with the rule it breaks, and the
// file itself is read without following links, waiting or reading without end.
#include "record_files.h"
#include "unit_records.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kronex;
namespace fs = std::filesystem;

namespace {

UnitRecord sampleRecord() {
    UnitRecord r;
    for (std::size_t i = 0; i < r.identity.size(); ++i) {
        r.identity[i] = static_cast<std::uint8_t>(i * 7);
        r.top[i] = static_cast<std::uint8_t>(255 - i);
    }
    r.serial = serialOf(r.identity);
    r.port = 12;
    r.written = "2026-05-04T10:11:12Z";
    r.release = 25;
    r.stoppedAt = "data part section 3";
    r.since = "2026-05-04T10:12:13Z";
    return r;
}

// The record's text with `from` replaced by `to`, its checksum made right
// again unless the change is to the checksum line itself.
std::string edited(const std::string& from, const std::string& to, bool resum = true) {
    std::string text = recordText(sampleRecord());
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    if (resum) {
        const auto sum = text.rfind("checksum: ");
        text = text.substr(0, sum) + "checksum: " + recordChecksum(text.substr(0, sum)) + "\n";
    }
    return text;
}

std::string crlf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

struct Folder {
    fs::path path = fs::temp_directory_path() / ("kronex-records-" + std::to_string(getpid()));
    Folder() {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
    fs::path file(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
        return path / name;
    }
};

} // namespace

TEST(UnitRecord, OnlyTheWrittenFormIsTakenAndEachFaultIsNamed) {
    const std::string good = recordText(sampleRecord());
    const std::string serial = serialOf(sampleRecord().identity);
    struct Case {
        std::string name, text;
        RecordFault fault;
    };
    const Case cases[] = {
        {"as written", good, RecordFault::None},
        {"CR LF line ends", crlf(good), RecordFault::None},
        {"heading that only starts right", edited("record 1\n", "record 12\n"),
         RecordFault::Heading},
        {"another version", edited("record 1\n", "record 2\n"), RecordFault::Heading},
        {"repeated key", edited("release: 25\n", "release: 25\nrelease: 25\n"), RecordFault::Lines},
        {"keys out of order",
         edited("port: COM12\nwritten: 2026-05-04T10:11:12Z\n",
                "written: 2026-05-04T10:11:12Z\nport: COM12\n"),
         RecordFault::Lines},
        {"text after the checksum", good + "port: COM3\n", RecordFault::Lines},
        {"last line without its end", good.substr(0, good.size() - 1), RecordFault::Lines},
        {"cut short", good.substr(0, good.size() / 2), RecordFault::Lines},
        {"changed by hand", edited("release: 25", "release: 26", false), RecordFault::Checksum},
        {"serial not the identity's", edited("serial: " + serial, "serial: 29FFFFFF"),
         RecordFault::Serial},
        {"port with a sign", edited("COM12", "COM-7"), RecordFault::Port},
        {"port with a leading zero", edited("COM12", "COM012"), RecordFault::Port},
        {"port above 256", edited("COM12", "COM257"), RecordFault::Port},
        {"port zero", edited("COM12", "COM0"), RecordFault::Port},
        {"release with letters", edited("release: 25", "release: 25abc"), RecordFault::Release},
        {"release above 255", edited("release: 25", "release: 256"), RecordFault::Release},
        {"time in another form", edited("written: 2026-05-04T10:11:12Z", "written: 2026-05-04"),
         RecordFault::Written},
        {"month 13", edited("since: 2026-05-04", "since: 2026-13-04"), RecordFault::Since},
        {"escape in where it stopped", edited("section 3", "section \x1b[2J3"),
         RecordFault::StoppedAt},
        {"lower-case hex", edited("identity: 00070E", "identity: 00070e"), RecordFault::Identity},
        {"short top block", edited("top: FF", "top: "), RecordFault::Top},
        {"larger than a record", good + std::string(kRecordMaxBytes, 'x'), RecordFault::TooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordFault fault = RecordFault::Checksum;
        const auto record = parseRecord(c.text, &fault);
        EXPECT_EQ(fault, c.fault) << recordFaultText(fault);
        EXPECT_EQ(record.has_value(), c.fault == RecordFault::None);
        if (record) {
            EXPECT_EQ(*record, sampleRecord());
        }
    }
}

#ifndef _WIN32 // Windows' own reads: tests/win32/record_files_test.cpp
// What is not a regular file of record size is never read: no wait on a
// pipe, no link followed, no folder or device read without end.
TEST(UnitRecord, OnlyARegularFileOfRecordSizeIsRead) {
    Folder folder;
    const auto good = folder.file("unit-good.record", recordText(sampleRecord()));
    const auto huge = folder.file("unit-huge.record", std::string(kRecordMaxBytes + 1, 'x'));
    folder.file("unit-damaged.record", "KRONEX unit record 1\n");
    ASSERT_EQ(mkfifo((folder.path / "unit-fifo.record").c_str(), 0600), 0);
    fs::create_symlink(good, folder.path / "unit-link.record");
    fs::create_directory(folder.path / "unit-dir.record");
    struct Case {
        fs::path path;
        RecordFault fault;
    };
    for (const Case& c : {Case{good, RecordFault::None}, Case{huge, RecordFault::TooLarge},
                          Case{folder.path / "unit-fifo.record", RecordFault::NotAFile},
                          Case{folder.path / "unit-link.record", RecordFault::NotAFile},
                          Case{folder.path / "unit-dir.record", RecordFault::NotAFile},
                          Case{"/dev/zero", RecordFault::NotAFile},
                          Case{folder.path / "none.record", RecordFault::Unreadable}}) {
        SCOPED_TRACE(c.path);
        RecordFault fault = RecordFault::Checksum;
        std::string why;
        const auto text = diskRecordFiles().read(c.path, fault, why);
        EXPECT_EQ(fault, c.fault);
        EXPECT_EQ(text.has_value(), c.fault == RecordFault::None);
        EXPECT_EQ(why.empty(), c.fault != RecordFault::Unreadable);
    }
    // The folder: the one whole record taken, every other file named like one left out.
    const UnitRecords records(folder.path, diskRecordFiles());
    const auto whole = records.whole();
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].file, good);
    EXPECT_EQ(records.leftOut().size(), 5u);
}
#endif

TEST(UnitRecord, ARemovalThatFailsSaysWhyAndAGoneFileIsRemoved) {
    Folder folder;
    std::string why;
    const auto file = folder.file("unit-a.record", recordText(sampleRecord()));
    EXPECT_TRUE(diskRecordFiles().remove(file, why)) << why;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(diskRecordFiles().remove(file, why)) << why;
    // A folder in its place cannot be unlinked.
    fs::create_directories(folder.path / "unit-b.record" / "inside");
    EXPECT_FALSE(diskRecordFiles().remove(folder.path / "unit-b.record", why));
    EXPECT_NE(why.find("unit-b.record"), std::string::npos) << why;
    // Folders made for a record are made whole, however deep.
    EXPECT_TRUE(diskRecordFiles().replace(folder.path / "x" / "y" / "unit-c.record",
                                          recordText(sampleRecord()), why))
        << why;
}
