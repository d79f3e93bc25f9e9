// Ctrl-C in kronex-update: the session stops at the exchange it is in,
// without waiting out any reply window, and nothing more reaches the unit.
#include "cancellable_comm.h"
#include "expected_update.h"
#include "fake_comm.h"
#include "serial_port.h"
#include "stop_gate.h"
#include "update_session.h"
#include "workflow_rig.h"

#include <functional>
#include <gtest/gtest.h>

using namespace kronex;
using kronex::test::commandsOf;

namespace {

// A session on COM3 whose Ctrl-C is pressed once `when` says so (asked at
// every serial call, on the rig's virtual clock). It walks the sample
// release, whatever release the program embeds, so that the exchanges named
// below are those of the sample's expected update.
struct Interrupted {
    test::WorkflowRig rig;
    std::function<bool()> when;
    bool pressed = false;
    std::uint64_t pressedAt = 0;
    bool gated = false; // kronex-update's gate: a stop waits for an erase's write
    bool requested() {
        if (!pressed && when()) {
            pressed = true;
            pressedAt = rig.comm.now();
        }
        return pressed;
    }
    cli::StopGate gate{[this] { return requested(); }};
    cli::CancellableComm comm{rig.comm, [this] { return gated ? gate() : requested(); }};
    SerialLink link{comm};

    unsigned exchanges() const { return link.exchange.exchanges; }

    SessionResult run(devsim::DeviceModel& unit) {
        gate.watch(link.exchange);
        link.port.ABRE_PORTA(3);
        std::string serial;
        EXPECT_EQ(CART_V2(rig.window, link.exchange, serial), 0);
        Workflow w{rig.window, link, test::sampleRelease(), rig.catalog, rig.dumpFile, serial};
        const SessionResult r = ATUALIZA(w);
        EXPECT_TRUE(pressed);
        EXPECT_FALSE(r.completed);
        EXPECT_EQ(commandsOf(unit).size(), r.stop.exchange - 1); // nothing after the stop
        link.port.FECHA_PORTA();
        EXPECT_EQ(rig.comm.openHandles(), 0);
        return r;
    }
};

} // namespace

TEST(CancellableComm, CtrlCBetweenExchangesStopsAtTheNextByte) {
    Interrupted t;
    auto& unit = t.rig.unitOn(3);
    const unsigned k = static_cast<unsigned>(test::exchangeOf("DATA 009D+80")); // mid-block
    ASSERT_GT(k, 0u);
    t.when = [&] { return t.exchanges() == k; };
    const auto r = t.run(unit);
    EXPECT_EQ(r.stop.exchange, k);
    EXPECT_EQ(r.stop.linkStatus, LINK_WRITE_FAILED);
    EXPECT_EQ(t.rig.comm.now(), t.pressedAt); // no time passed on the line after it
}

TEST(CancellableComm, CtrlCWhileWaitingForTheUnitEndsTheWait) {
    Interrupted t;
    const unsigned k = static_cast<unsigned>(test::exchangeOf("DATA 0064+00"));
    ASSERT_GT(k, 0u);
    auto& unit = t.rig.unitOn(3, {.silentFromExchange = static_cast<int>(k)});
    std::uint64_t waitFrom = 0;
    // One second into the five the link waits for the complement.
    t.when = [&] {
        if (t.exchanges() != k)
            return false;
        if (waitFrom == 0)
            waitFrom = t.rig.comm.now();
        return t.rig.comm.now() >= waitFrom + 1000;
    };
    const auto r = t.run(unit);
    EXPECT_EQ(r.stop.exchange, k);
    EXPECT_FALSE(r.stop.frameSent);
    // The read under way completes as the driver ends it; no later one starts.
    EXPECT_LT(t.rig.comm.now() - t.pressedAt, 500u); // not the rest of the window
    EXPECT_EQ(t.rig.comm.abandonedTransfers, 0);
}

// Ctrl-C just as a read has started: the read is the driver's until it
// completes, so it is never reported as refused; the port waits for it
// (here cancels it, as nothing else would complete it) before its
// OVERLAPPED and buffer go. Only a call the wrapper refused says "aborted".
TEST(CancellableComm, CtrlCAsAReadStartsLeavesNoTransferBehind) {
    test::FakeComm fake;
    fake.port(1).holdsTransfers = true;
    cli::CancellableComm comm{fake, [&] { return !fake.callsNamed("ReadFile").empty(); }};
    SerialPort port{comm};
    port.ABRE_PORTA(1);
    std::uint8_t b = 0;
    std::int32_t read = -1;
    EXPECT_FALSE(port.RECEBE_DADOS(1, &b, read));
    EXPECT_EQ(fake.abandonedTransfers, 0);
    EXPECT_EQ(fake.pendingTransfers(), 0);
    EXPECT_EQ(fake.callsNamed("CancelIoEx").size(), 1u);
    EXPECT_FALSE(port.RECEBE_DADOS(1, &b, read)); // the next one is refused
    EXPECT_EQ(comm.GetLastError(), 995u);         // ERROR_OPERATION_ABORTED
    EXPECT_EQ(fake.callsNamed("ReadFile").size(), 1u);
    EXPECT_TRUE(port.failed());
    port.FECHA_PORTA();
}

// Ctrl-C lands between the erase of the identity block and its write: the
// write goes out and is answered (or its reply window ends), then the
// session stops. Without the gate the erase's own reply is cut off and the
// block stays erased.
TEST(CancellableComm, CtrlCBetweenAnEraseAndItsWriteWaitsForTheWrite) {
    const unsigned write = static_cast<unsigned>(test::exchangeOf("WRITE t0 2000"));
    struct Case {
        bool silentWrite;
        unsigned stopsAt;
        std::string last;
    };
    for (const Case& c :
         {Case{false, write + 1, "WRITE t0 2000"}, Case{true, write, "ERASE t0 2000"}}) {
        SCOPED_TRACE(c.silentWrite ? "silent write" : "answered write");
        Interrupted t;
        t.gated = true;
        auto& unit = t.rig.unitOn(3, {.silentFromExchange = c.silentWrite ? int(write) : 0});
        t.when = [&] {
            return !unit.transcript().empty() && unit.transcript().back() == "ERASE t0 2000";
        };
        const auto r = t.run(unit);
        EXPECT_EQ(r.stop.exchange, c.stopsAt);
        EXPECT_EQ(commandsOf(unit).back(), c.last);
        if (c.last == "WRITE t0 2000") {
            EXPECT_EQ(unit.program(0)[0x2000], devsim::DeviceModel::kSerial[0]);
        }
        if (c.silentWrite) { // the write's whole window, on the virtual clock
            EXPECT_EQ(r.stop.linkStatus, LINK_TIMEOUT);
            EXPECT_GE(t.rig.comm.now() - t.pressedAt, 5000u);
        }
    }
}
