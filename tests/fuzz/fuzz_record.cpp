// Arbitrary texts read as a unit record: no crash, and whatever is taken
// writes back as a text that is taken again as the same record.
#include "unit_record.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace kronex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    RecordFault fault = RecordFault::None;
    const auto record = parseRecord(text, &fault);
    if (record.has_value() != (fault == RecordFault::None))
        std::abort();
    if (!record)
        return 0;
    RecordFault again = RecordFault::Checksum;
    const auto reread = parseRecord(recordText(*record), &again);
    if (!reread || again != RecordFault::None || !(*reread == *record))
        std::abort();
    return 0;
}
