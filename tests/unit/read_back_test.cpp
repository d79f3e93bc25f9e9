// verify's comparison: the blocks an update writes, read back from the
// simulated unit over the fake port and set against what the release puts
// there, leaving out the bytes the unit keeps as its own.
#include "device_model.h"
#include "device_peer.h"
#include "fake_comm.h"
#include "read_back.h"
#include "serial_port.h"

#include <functional>
#include <gtest/gtest.h>

namespace kronex::cli {
namespace {

struct Expected {
    std::size_t block; // its place in the blocks asked for
    bool unread = false;
    int firstByte = -1;
    int bytes = 0;
    std::string why = {}; // a part of it, for an unread block
};

// Two blocks of target 0 and, at the first one's address, one of target 1
// with other contents, each written as the unit holds it.
std::vector<WrittenBlock> blocksAsHeld(devsim::DeviceModel& unit) {
    std::vector<WrittenBlock> blocks;
    for (const auto& [target, address] : {std::pair{0, 0x4000}, {0, 0x4080}, {1, 0x4000}}) {
        WrittenBlock& b = blocks.emplace_back();
        b.target = target;
        b.address = static_cast<std::uint16_t>(address);
        for (std::size_t i = 0; i < b.bytes.size(); ++i) {
            b.bytes[i] = static_cast<std::uint8_t>(i * 7 + address / 0x80 + target * 0x55);
            unit.program(target)[address + i] = b.bytes[i];
        }
    }
    return blocks;
}

TEST(ReadBack, CountsTheBlocksThatDifferOrWereNotRead) {
    using Blocks = std::vector<WrittenBlock>;
    struct Case {
        const char* what;
        std::function<void(Blocks&)> change; // what the release writes, against the unit
        devsim::Faults faults;
        unsigned read;
        std::vector<Expected> faultsFound;
    } const cases[] = {
        {"as written", {}, {}, 3, {}},
        {"the first and the last byte",
         [](Blocks& b) {
             b[1].bytes[0] ^= 0x01;
             b[1].bytes[127] ^= 0x80;
         },
         {},
         3,
         {{1, false, 0, 2}}},
        {"target 1's last byte",
         [](Blocks& b) { b[2].bytes[127] ^= 0x10; },
         {},
         3,
         {{2, false, 127, 1}}},
        {"the unit's own bytes",
         [](Blocks& b) {
             b[0].bytes[3] ^= 0xFF;
             b[0].unitOwn[3] = true;
             b[2].bytes[127] ^= 0xFF;
             b[2].unitOwn[127] = true;
         },
         {},
         3,
         {}},
        {"beside the unit's own bytes",
         [](Blocks& b) {
             b[0].bytes[3] ^= 0xFF;
             b[0].unitOwn[3] = true;
             b[0].bytes[4] ^= 0x01;
         },
         {},
         3,
         {{0, false, 4, 1}}},
        {"a refused read, then a differing block",
         [](Blocks& b) { b[2].bytes[5] ^= 0x01; },
         {.nakAtExchange = 2},
         2,
         {{1, true, -1, 0, "refused with status 0x55"}, {2, false, 5, 1}}},
        {"the last reply cut", {}, {.cutReplyAtExchange = 3}, 2, {{2, true, -1, 0, "reply"}}},
        // A unit that stopped answering is asked nothing more.
        {"silent from the second read",
         [](Blocks& b) { b[2].bytes[5] ^= 0x01; },
         {.silentFromExchange = 2},
         1,
         {{1, true, -1, 0, "within 5 s"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        devsim::DeviceModel unit{c.faults};
        test::FakeComm comm;
        comm.recordTransfers = false;
        comm.port(1).peer = test::devicePeer(unit);
        SerialPort port{comm};
        LinkExchange link{port};
        link.attention = devsim::kAttention;
        ASSERT_TRUE(port.ABRE_PORTA(1));
        Blocks blocks = blocksAsHeld(unit);
        if (c.change)
            c.change(blocks);

        const ReadBack r = readBack(link, blocks);
        EXPECT_EQ(r.blocks, blocks.size());
        EXPECT_EQ(r.read, c.read);
        EXPECT_EQ(r.allMatch(), c.faultsFound.empty());
        ASSERT_EQ(r.faults.size(), c.faultsFound.size());
        for (std::size_t i = 0; i < r.faults.size(); ++i) {
            const BlockFault& f = r.faults[i];
            const Expected& e = c.faultsFound[i];
            EXPECT_EQ(f.target, blocks[e.block].target) << i;
            EXPECT_EQ(f.address, blocks[e.block].address) << i;
            EXPECT_EQ(f.unread, e.unread) << i;
            EXPECT_EQ(f.firstByte, e.firstByte) << i;
            EXPECT_EQ(f.bytes, e.bytes) << i;
            EXPECT_NE(f.why.find(e.why), std::string::npos) << i << ": " << f.why;
            EXPECT_EQ(f.why.empty(), !e.unread) << i;
        }
        // Reads only, and none after the unit fell silent.
        const int asked = c.faults.silentFromExchange ? c.faults.silentFromExchange
                                                      : static_cast<int>(blocks.size());
        EXPECT_EQ(unit.exchanges(), asked);
        for (const std::string& line : unit.transcript())
            EXPECT_EQ(line.rfind("READ", 0), 0u) << line;
    }
}

} // namespace
} // namespace kronex::cli
