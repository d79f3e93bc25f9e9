// What the PC keeps of one unit while its update runs: the unit's own
// blocks as read before the first erase of either (the identity block and
// target 0's top block), with where and when, in a text a support person
// can read. A checksum guards it: a damaged record is never written back.
//
// A record is also input from outside (a file a technician brings from
// another PC, whatever lies in the folder): it is read strictly, so that
// what a person sees in the file is exactly what the program uses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kronex {

using UnitBlock = std::array<std::uint8_t, 128>;

struct UnitRecord {
    std::string serial;                  // "29" and bytes 0-2 of the kept identity
    int port = 0;                        // COMn the update ran on
    std::string written;                 // ISO 8601 UTC, when the blocks were first kept
    int release = 0;                     // the release being installed
    std::string stoppedAt = "top block"; // where the session stopped (or was when kept)
    std::string since;                   // ISO 8601 UTC, when it stopped there
    UnitBlock identity{};
    UnitBlock top{};

    bool operator==(const UnitRecord&) const = default;
};

// Why a file is not a record: the rule it breaks.
enum class RecordFault {
    None,
    Unreadable, // could not be opened or read
    NotAFile,   // a folder, device, pipe or symbolic link
    TooLarge,   // longer than kRecordMaxBytes
    Heading,    // the first line is not this version's heading
    Lines,      // a line missing, repeated, out of order, not "key: value", or text after the end
    Checksum,
    Serial,    // not "29" and identity bytes 0-2
    Port,      // not COM1 to COM256
    Written,   // not "YYYY-MM-DDThh:mm:ssZ"
    Release,   // not a decimal 0 to 255
    StoppedAt, // empty, too long, or not printable ASCII
    Since,     // not "YYYY-MM-DDThh:mm:ssZ"
    Identity,  // not 256 upper-case hex digits
    Top,       // not 256 upper-case hex digits
};

// A record is about 700 bytes; anything far larger is not one and is not read.
inline constexpr std::size_t kRecordMaxBytes = 4096;

// The rule, in English ("the checksum does not match the text").
const char* recordFaultText(RecordFault fault);

// "290A1BC2" from an identity block's bytes 0-2.
std::string serialOf(const UnitBlock& identity);

std::string recordText(const UnitRecord& record);
// nullopt when the text is not a whole record as recordText() writes it
// (line ends CR LF accepted), with the first rule it breaks in `fault`.
std::optional<UnitRecord> parseRecord(const std::string& text, RecordFault* fault = nullptr);

// The checksum line's value for a record's text up to that line.
std::string recordChecksum(const std::string& body);

} // namespace kronex
