#include "expected_update.h"
#include "fake_comm.h"
#include "link_exchange.h"
#include "scripted_unit.h"
#include "session_plan.h"
#include "unit_run.h"
#include "usb_adapter_comm.h"
#include "workflow_rig.h"

#include <gtest/gtest.h>

using kronex::CODIFICA_BYTE;
using kronex::LinkExchange;
using kronex::SerialPort;
using kronex::test::FakeComm;
using kronex::test::ScriptedUnit;

namespace {

struct LinkExchangeTest : ::testing::Test {
    FakeComm comm;
    SerialPort port{comm};
    LinkExchange link{port};
    ScriptedUnit unit;

    void SetUp() override {
        comm.port(1).peer = [this](std::uint8_t b) { return unit.receive(b); };
        port.ABRE_PORTA(1);
        link.attention = 0x87;
    }
    void setFrame(std::vector<std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), link.frame.begin());
    }
    const std::vector<std::uint8_t>& wire() { return comm.port(1).sent; }
};

// The fake's virtual clock as the USB adapter model's time.
struct VirtualClock final : kronex::bench::AdapterClock {
    FakeComm& comm;
    explicit VirtualClock(FakeComm& c) : comm(c) {}
    std::int64_t nowUs() override { return static_cast<std::int64_t>(comm.now()) * 1000; }
    void sleepUntilUs(std::int64_t at) override {
        comm.advance(static_cast<std::uint64_t>((at + 999) / 1000) - comm.now());
    }
};

} // namespace

TEST(CodificaByte, SwapsNibblesAndComplementsAndUndoesItself) {
    EXPECT_EQ(CODIFICA_BYTE(0x00), 0xFF);
    EXPECT_EQ(CODIFICA_BYTE(0x12), 0xDE);
    EXPECT_EQ(CODIFICA_BYTE(0x01), 0xEF);
    EXPECT_EQ(CODIFICA_BYTE(0x10), 0xFE);
    EXPECT_EQ(CODIFICA_BYTE(0xA5), 0xA5);
    EXPECT_EQ(CODIFICA_BYTE(0x87), 0x87);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(CODIFICA_BYTE(CODIFICA_BYTE(static_cast<std::uint8_t>(b))), b);
}

// Per byte, as the window sends, or the frame in one write, as kronex-update
// does: the same bytes on the line, the attention byte always on its own.
TEST(LinkExchangeWrites, AttentionThenTheFrameByteByByteOrWhole) {
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole);
        FakeComm comm;
        ScriptedUnit unit;
        comm.port(1).peer = [&unit](std::uint8_t b) { return unit.receive(b); };
        SerialPort port{comm};
        LinkExchange link{port};
        port.ABRE_PORTA(1);
        link.attention = 0x87;
        link.wholeFrames = whole;
        const std::vector<std::uint8_t> frame{0x04, 0xC5, 0x12, 0x00};
        std::copy(frame.begin(), frame.end(), link.frame.begin());
        comm.calls.clear();
        EXPECT_TRUE(link.ENVIA_QUADRO());
        EXPECT_EQ(comm.port(1).sent, (std::vector<std::uint8_t>{0x87, 0x04, 0xC5, 0x12, 0x00}));
        // Purges first (transmit, then receive), then the writes.
        ASSERT_GE(comm.calls.size(), 2u);
        EXPECT_EQ(comm.calls[0].name, "PurgeComm");
        EXPECT_EQ(comm.calls[0].arg, PURGE_TXCLEAR);
        EXPECT_EQ(comm.calls[1].arg, PURGE_RXCLEAR);
        std::vector<std::int64_t> counts;
        for (const auto& w : comm.callsNamed("WriteFile"))
            counts.push_back(w.arg);
        const std::vector<std::int64_t> expected =
            whole ? std::vector<std::int64_t>{1, 4} : std::vector<std::int64_t>{1, 1, 1, 1, 1};
        EXPECT_EQ(counts, expected);
        EXPECT_TRUE(link.frameSent);
        EXPECT_TRUE(link.RECEBE_RESPOSTA());
        EXPECT_EQ(link.replyLength, 2u);
        EXPECT_EQ(link.reply[0], 0xAA);

        // A frame of length 0 sends nothing after the handshake either way.
        link.frame[0] = 0;
        comm.calls.clear();
        EXPECT_TRUE(link.ENVIA_QUADRO());
        EXPECT_EQ(comm.callsNamed("WriteFile").size(), 1u);
    }
}

TEST_F(LinkExchangeTest, SkipsNoiseBeforeTheComplement) {
    unit.noise = {0x43, 0x00, 0x87, 0xFF};
    setFrame({0x02, 0x47});
    EXPECT_TRUE(link.ENVIA_QUADRO());
    EXPECT_EQ(link.status, kronex::LINK_OK);
    EXPECT_EQ(unit.frames.size(), 1u);
}

TEST_F(LinkExchangeTest, SilentUnitTimesOutWithoutSendingTheFrame) {
    unit.answersAttention = false;
    setFrame({0x02, 0x47});
    const auto t0 = comm.now();
    EXPECT_FALSE(link.ENVIA_QUADRO());
    EXPECT_EQ(link.status, kronex::LINK_TIMEOUT);
    EXPECT_EQ(wire(), std::vector<std::uint8_t>{0x87});
    EXPECT_GT(comm.now() - t0, 5000u);
    EXPECT_LE(comm.now() - t0, 5100u);
    EXPECT_EQ(comm.callsNamed("ReadFile").size(), 51u); // one 100 ms poll after another
}

TEST_F(LinkExchangeTest, ComplementInAReadEndingPastTheWindowIsTooLate) {
    unit.answersAttention = false;
    comm.port(1).arrive(5050, {0x78});
    setFrame({0x02, 0x47});
    EXPECT_FALSE(link.ENVIA_QUADRO());
    EXPECT_EQ(link.status, kronex::LINK_TIMEOUT);
    EXPECT_EQ(comm.now(), 5050u);
    EXPECT_EQ(wire().size(), 1u);
}

TEST_F(LinkExchangeTest, WindowSurvivesTheTickCounterWrapping) {
    comm.setTickBase(0xFFFFFFFFu - 1000);
    unit.answersAttention = false;
    EXPECT_FALSE(link.ENVIA_QUADRO());
    EXPECT_EQ(link.status, kronex::LINK_TIMEOUT);
    EXPECT_GT(comm.now(), 5000u);
    EXPECT_LE(comm.now(), 5100u);
}

TEST_F(LinkExchangeTest, FrameLengthZeroSendsNothingAfterTheHandshake) {
    setFrame({0x00, 0x47});
    EXPECT_TRUE(link.ENVIA_QUADRO());
    EXPECT_EQ(wire(), std::vector<std::uint8_t>{0x87});
}

TEST_F(LinkExchangeTest, AttentionThatCannotBeWrittenStopsEverything) {
    port.FECHA_PORTA();
    port.ABRE_PORTA(9); // does not exist
    setFrame({0x02, 0x47});
    EXPECT_FALSE(link.ENVIA_QUADRO());
    EXPECT_EQ(link.status, kronex::LINK_WRITE_FAILED);
    EXPECT_TRUE(comm.callsNamed("ReadFile").empty());
}

TEST_F(LinkExchangeTest, JudgesTheReplyLength) {
    setFrame({0x02, 0x47});
    unit.replies = {{0x00}, {0x01}, {0x05, 0xAA, 0x01}, {0x04, 0xAA, 0x10, 0x20}};

    ASSERT_TRUE(link.ENVIA_QUADRO());
    EXPECT_FALSE(link.RECEBE_RESPOSTA());
    EXPECT_EQ(link.status, kronex::LINK_ZERO_LENGTH);

    ASSERT_TRUE(link.ENVIA_QUADRO());
    EXPECT_TRUE(link.RECEBE_RESPOSTA());
    EXPECT_EQ(link.reply[0], 0x01); // the length byte, not an acknowledge

    ASSERT_TRUE(link.ENVIA_QUADRO());
    const auto t0 = comm.now();
    EXPECT_FALSE(link.RECEBE_RESPOSTA());
    EXPECT_EQ(link.status, kronex::LINK_SHORT_READ);
    EXPECT_EQ(comm.now() - t0, 100u); // the gap after the last byte
    EXPECT_EQ(link.reply[0], 0xAA);
    EXPECT_EQ(link.reply[1], 0x01);

    ASSERT_TRUE(link.ENVIA_QUADRO());
    EXPECT_TRUE(link.RECEBE_RESPOSTA());
    EXPECT_EQ(link.replyLength, 4u);
    EXPECT_EQ(link.reply[2], 0x20);
}

TEST_F(LinkExchangeTest, SilentReplyTimesOut) {
    setFrame({0x02, 0x47});
    unit.replies = {{}};
    ASSERT_TRUE(link.ENVIA_QUADRO());
    const auto t0 = comm.now();
    EXPECT_FALSE(link.RECEBE_RESPOSTA());
    EXPECT_EQ(link.status, kronex::LINK_TIMEOUT);
    EXPECT_GT(comm.now() - t0, 5000u);
}

// An adapter pulled out while the link waits: the next read fails, at its
// start or (on Windows, a read already pending) at its completion, and the
// wait ends there instead of spinning on failed reads to 5000 ms.
TEST_F(LinkExchangeTest, APortThatFailsEndsEitherWaitAtOnce) {
    // 0: refused at the start; otherwise the error the pending read completes with.
    const DWORD completionErrors[] = {0, ERROR_GEN_FAILURE, 22, 1167};
    for (const DWORD completionError : completionErrors)
        for (const bool inReply : {false, true}) {
            SCOPED_TRACE(inReply ? "waiting for the reply" : "waiting for the complement");
            SCOPED_TRACE("completion error " + std::to_string(completionError));
            const auto t0 = comm.now();
            unit.answersAttention = inReply;
            unit.replies = {{}};
            comm.port(1).goneFrom = comm.now() + 250;
            comm.port(1).completionError = completionError;
            setFrame({0x02, 0x47});
            const bool sent = link.ENVIA_QUADRO();
            EXPECT_EQ(sent, inReply);
            if (sent) {
                EXPECT_FALSE(link.RECEBE_RESPOSTA());
            }
            EXPECT_EQ(link.status, kronex::LINK_SHORT_READ);
            EXPECT_TRUE(port.failed());
            EXPECT_EQ(comm.port(1).failedTransfers, 1);
            EXPECT_LT(comm.now() - t0, 350u); // three 100 ms polls before the failure
            comm.port(1).failedTransfers = 0;
            comm.port(1).goneFrom = std::numeric_limits<std::uint64_t>::max();
        }
}

// The benchmark's USB adapter model on the virtual clock: every one-byte write
// ends on the next 1 ms frame boundary and the replies are handed over at the
// adapter's latency tick, while the bytes on the wire stay the same.
TEST(UsbAdapterModel, WritesTakeAFrameEachAndRepliesWaitForTheTick) {
    // Attention, complement, four frame bytes, reply: 1 + 4 frames and, at a
    // 16 ms tick, the complement at 16 ms and the reply at the tick after 20 ms.
    for (const auto& [latencyMs, expectedMs] : {std::pair{1, 5}, std::pair{16, 32}}) {
        SCOPED_TRACE(latencyMs);
        FakeComm comm;
        ScriptedUnit unit;
        comm.port(1).peer = [&unit](std::uint8_t b) { return unit.receive(b); };
        VirtualClock clock(comm);
        kronex::bench::UsbAdapterComm usb(comm, {1000, latencyMs * 1000}, clock);
        SerialPort port{usb};
        LinkExchange link{port};
        link.attention = 0x87;
        ASSERT_TRUE(port.ABRE_PORTA(1));
        const std::vector<std::uint8_t> frame{0x04, 0xC5, 0x12, 0x00};
        std::copy(frame.begin(), frame.end(), link.frame.begin());
        const auto t0 = comm.now();
        ASSERT_TRUE(link.ENVIA_QUADRO());
        ASSERT_TRUE(link.RECEBE_RESPOSTA());
        EXPECT_EQ(comm.now() - t0, static_cast<std::uint64_t>(expectedMs));
        EXPECT_EQ(comm.port(1).sent, (std::vector<std::uint8_t>{0x87, 0x04, 0xC5, 0x12, 0x00}));
        EXPECT_EQ(link.reply[0], 0xAA);
    }
}

// A whole update of the sample release (the rig's, whatever release is
// embedded) through the model: a frame for every byte written (each is its
// own write), the one 1 s pause, and at most a tick for each of the two
// reads of every exchange. RecordProperty keeps the figure for the documents
// (--gtest_output=xml).
TEST(UsbAdapterModel, AWholeUpdateCostsAFramePerWriteAndAtMostTwoTicksPerExchange) {
    for (const int latencyMs : {1, 16}) {
        SCOPED_TRACE(latencyMs);
        kronex::test::WorkflowRig rig;
        auto& unit = rig.unitOn(3);
        VirtualClock clock(rig.comm);
        kronex::bench::UsbAdapterComm usb(rig.comm, {1000, latencyMs * 1000}, clock);
        kronex::SerialLink link{usb};
        ASSERT_TRUE(link.port.ABRE_PORTA(3));
        std::string serial;
        ASSERT_EQ(kronex::CART_V2(rig.window, link.exchange, serial), 0);
        kronex::Workflow w{rig.window,  link,         kronex::test::sampleRelease(),
                           rig.catalog, rig.dumpFile, serial};
        const auto t0 = rig.comm.now();
        const auto writtenBefore = rig.comm.port(3).sent.size();
        ASSERT_TRUE(kronex::ATUALIZA(w).completed);
        const auto took = rig.comm.now() - t0;
        link.port.FECHA_PORTA();
        EXPECT_EQ(kronex::test::commandsOf(unit), kronex::test::expectedSampleUpdate().commands);
        const auto writes = rig.comm.port(3).sent.size() - writtenBefore;
        const auto exchanges = kronex::test::expectedSampleUpdate().commands.size();
        EXPECT_GE(took, writes + 1000);
        EXPECT_LE(took, writes + 1000 + 2 * exchanges * static_cast<std::uint64_t>(latencyMs));
        RecordProperty("whole_update_ms_at_tick_" + std::to_string(latencyMs),
                       static_cast<int>(took));
    }
}

// A whole update through the model on the virtual clock, the line's own
// 60 us a byte included: the window's start button, then kronex-update's
// session on one unit with its frames written whole and with --byte-writes.
// The line carries the same bytes in all three; the whole frames take two
// USB transfers per exchange instead of one per byte. The figures go to the
// documents as test properties (--gtest_output=xml).
TEST(UsbAdapterModel, KronexUpdateSendsTheWindowsBytesInWholeFrames) {
    constexpr std::int64_t kLineUsPerByte = 60; // 10 bits at 166667 baud
    for (const int latencyMs : {1, 16}) {
        SCOPED_TRACE(latencyMs);
        std::vector<std::uint8_t> windowBytes;
        std::uint64_t windowWrites = 0;
        for (const char* mode : {"window", "kronex-update", "byte-writes"}) {
            SCOPED_TRACE(mode);
            kronex::test::WorkflowRig rig;
            auto& unit = rig.unitOn(3);
            rig.comm.recordTransfers = false;
            VirtualClock clock(rig.comm);
            kronex::bench::UsbAdapterComm usb(rig.comm, {1000, latencyMs * 1000, kLineUsPerByte},
                                              clock);
            const auto t0 = rig.comm.now();
            if (mode == std::string("window")) {
                kronex::SerialLink link{usb};
                kronex::Workflow w{rig.window,  link,         kronex::test::sampleRelease(),
                                   rig.catalog, rig.dumpFile, {}};
                w.unitRecords = rig.recordFolder();
                kronex::sbATUClick(rig.window, w);
                ASSERT_EQ(rig.window.shown.back(), kronex::MSG_CONCLUIDO);
            } else {
                kronex::cli::UnitJob job{
                    kronex::test::sampleRelease(), rig.catalog,
                    kronex::planSession(kronex::test::sampleRelease(), rig.catalog), true,
                    [&](const std::string&, int) { return rig.dumpFile; }};
                job.unitRecords = rig.recordFolder();
                job.api = &usb;
                job.byteWrites = mode == std::string("byte-writes");
                kronex::cli::UnitProgress progress;
                const auto report = kronex::cli::runUnit(3, job, progress);
                ASSERT_EQ(report.outcome, kronex::cli::Outcome::Updated);
            }
            const auto took = rig.comm.now() - t0;
            EXPECT_EQ(kronex::test::commandsOf(unit),
                      kronex::test::expectedSampleUpdate().commands);
            const auto& sent = rig.comm.port(3).sent;
            if (windowBytes.empty()) {
                windowBytes = sent;
                windowWrites = usb.writes();
                EXPECT_EQ(windowWrites, sent.size()); // one write per byte
            } else {
                EXPECT_TRUE(sent == windowBytes); // byte for byte, in order
                const auto exchanges = kronex::test::expectedSampleUpdate().commands.size();
                if (mode == std::string("byte-writes")) {
                    EXPECT_EQ(usb.writes(), windowWrites);
                } else {
                    // The attention byte and the frame: two per exchange,
                    // plus the handshake and the check's tries.
                    EXPECT_LE(usb.writes(), 2 * exchanges + 4);
                    EXPECT_GE(usb.writes(), 2 * exchanges);
                }
            }
            RecordProperty(std::string(mode) + "_whole_update_ms_at_tick_" +
                               std::to_string(latencyMs),
                           static_cast<int>(took));
            RecordProperty(std::string(mode) + "_writes_at_tick_" + std::to_string(latencyMs),
                           static_cast<int>(usb.writes()));
        }
    }
}
