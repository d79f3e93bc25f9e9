#include "session_plan.h"

#include "release_layout.h"

namespace kronex::cli {

namespace {

// Bytes out for one exchange: the attention byte and the frame.
constexpr std::uint64_t kShort = 1 + 4; // read or erase
constexpr std::uint64_t kRun = 1 + 2;
constexpr std::uint64_t kWrite = 1 + 5 + 128; // a 128-byte block, program or data

struct Tally {
    SessionPlan plan;
    void add(unsigned exchanges, std::uint64_t bytes) {
        plan.exchanges += exchanges;
        plan.bytesOut += bytes;
    }
    void page() { add(5, kShort + 4 * kWrite); } // erase, four blocks
    void block() { add(2, kShort + kWrite); }    // erase, one block
};

// Lines from `id` to the next "*", which is passed.
unsigned linesUntilClose(const ReleaseTable& r, std::int64_t& id) {
    unsigned lines = 0;
    while (id < r.end() && r.entry(id) != kMarkerClose) {
        ++lines;
        ++id;
    }
    ++id;
    return lines;
}

void segment(Tally& t, const ReleaseTable& r, std::int64_t& id) {
    const unsigned pages = (linesUntilClose(r, id) + 1) / 2;
    for (unsigned p = 0; p < pages; ++p)
        t.page();
}

} // namespace

SessionPlan planSession(const ReleaseTable& r, const LoadedCatalog& c) {
    Tally t;
    t.add(1, kShort); // the compatibility check
    std::int64_t id = c.cursor;
    for (int k = 0; k < 6; ++k) {
        segment(t, r, id);
        if (k == 2)
            t.add(1, kRun);
    }
    id = c.dataStart;
    t.add(2, 2 * kShort); // the two erases
    while (id < r.end() && r.entry(id) != kMarkerDataEnd) {
        const unsigned lines = linesUntilClose(r, id);
        t.add(2 * lines, 2 * lines * kWrite); // two halves a line
    }
    ++id;             // "BMP"
    t.add(1, kShort); // the unit's top block read
    t.block();
    t.page();         // the mirror block
    t.add(1, kShort); // the identity block read
    t.block();
    ++id; // the "*" after "BMP"
    segment(t, r, id);
    t.add(1, kRun);
    segment(t, r, id);
    t.block();          // target 1's top block
    t.add(2, 2 * kRun); // the last two run commands
    return t.plan;
}

} // namespace kronex::cli
