// A unit that vanishes (an adapter pulled out, the far end of a pty closed):
// transfers on the hung-up line fail at once, as on a removed Windows
// device, and the link gives up at once instead of polling a dead line.
#include "port_fixture.h"
#include "serial_link.h"

#include <thread>

namespace kronex::test {
namespace {

using namespace std::chrono_literals;

class PosixHangUp : public PortFixture {};

TEST_F(PosixHangUp, TransfersOnAHungUpLineFailAtOnce) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, 100, 100, 0);
    unit.unitHangsUp();
    std::uint8_t b = 0x55;
    DWORD moved = 9;
    EXPECT_FALSE(api.ReadFile(port, &b, 1, &moved, nullptr));
    EXPECT_EQ(api.GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_EQ(moved, 0u);
    EXPECT_FALSE(api.WriteFile(port, &b, 1, &moved, nullptr));
    EXPECT_EQ(api.GetLastError(), ERROR_GEN_FAILURE);
}

TEST_F(PosixHangUp, TheLinkStopsWaitingWhenTheLineHangsUpMidWait) {
    SerialLink link(api);
    ASSERT_TRUE(link.port.ABRE_PORTA(kLinkedCom));
    link.exchange.attention = 0x87;
    link.exchange.frame[0] = 0x02;
    link.exchange.frame[1] = 0x47;
    std::thread vanishing([&] {
        unit.unitReceives(1, 2000ms); // the attention byte
        std::this_thread::sleep_for(250ms);
        unit.unitHangsUp();
    });
    EXPECT_FALSE(link.exchange.ENVIA_QUADRO());
    vanishing.join();
    // Not LINK_TIMEOUT: that would mean failed reads until the window ran out.
    EXPECT_EQ(link.exchange.status, LINK_SHORT_READ);
    EXPECT_TRUE(link.port.failed());
    link.port.FECHA_PORTA();
}

} // namespace
} // namespace kronex::test
