// Injected faults: each hits its own exchange and leaves the others alone.
#include "device_model.h"
#include "model_driver.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kronex::devsim::test {
namespace {

Bytes fullRead(DeviceModel& unit, std::uint16_t address) {
    return exchangeFrame(unit, readFrame(0, address)).reply;
}

TEST(DevsimFaults, SilentFromExchangeAnswersNothingAtAllFromThenOn) {
    Faults f;
    f.silentFromExchange = 2;
    DeviceModel unit(f);
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4000)).reply, kAccepted);
    unit.program(0).fill(0x33);
    const Exchange second = exchangeFrame(unit, eraseFrame(0, 0x4000));
    EXPECT_TRUE(second.ack.empty());
    EXPECT_TRUE(second.reply.empty());
    EXPECT_TRUE(feed(unit, {0xBC, 0x87, 0xBC}).empty());
    EXPECT_EQ(unit.program(0)[0x4000], 0x33);
    EXPECT_EQ(unit.exchanges(), 3);
    EXPECT_EQ(unit.handshakes(), 2);
}

TEST(DevsimFaults, NakAtExchangeRejectsOnlyThatCommand) {
    Faults f;
    f.nakAtExchange = 2;
    DeviceModel unit(f);
    const Bytes plain = pattern(0x20);
    EXPECT_EQ(exchangeFrame(unit, writeFrame(0, 0x4000, plain)).reply, kAccepted);
    const Exchange second = exchangeFrame(unit, writeFrame(0, 0x4080, plain));
    EXPECT_EQ(second.ack, Bytes{0x78});
    EXPECT_EQ(second.reply, kRejected);
    EXPECT_EQ(unit.program(0)[0x4080], 0xFF);
    EXPECT_EQ(exchangeFrame(unit, writeFrame(0, 0x4100, plain)).reply, kAccepted);
    EXPECT_EQ(unit.program(0)[0x4000], plain[0]);
    EXPECT_EQ(unit.program(0)[0x4100], plain[0]);
    EXPECT_EQ(unit.transcript()[1], "WRITE t0 4080 [nak]");
}

TEST(DevsimFaults, CorruptAtAcknowledgesButKeepsOneByteInverted) {
    Faults f;
    f.corruptAtExchange = 2;
    DeviceModel unit(f);
    const Bytes plain = pattern(0x20);
    EXPECT_EQ(exchangeFrame(unit, writeFrame(0, 0x4000, plain)).reply, kAccepted);
    EXPECT_EQ(exchangeFrame(unit, writeFrame(0, 0x4080, plain)).reply, kAccepted);
    EXPECT_EQ(unit.program(0)[0x4080], static_cast<std::uint8_t>(~plain[0]));
    EXPECT_EQ(unit.program(0)[0x4081], plain[1]);
    EXPECT_EQ(unit.program(0)[0x4000], plain[0]);
    EXPECT_EQ(unit.transcript()[1], "WRITE t0 4080 [corrupt]");
}

TEST(DevsimFaults, NakOnAReadKeepsTheReplyShapeWithTheOtherStatus) {
    Faults f;
    f.nakAtExchange = 1;
    DeviceModel unit(f);
    const Bytes reply = fullRead(unit, 0x2000);
    ASSERT_EQ(reply.size(), 130u);
    EXPECT_EQ(reply[0], 0x82);
    EXPECT_EQ(reply[1], 0x55);
    EXPECT_EQ(fullRead(unit, 0x2000)[1], 0xAA);
}

TEST(DevsimFaults, RejectedCommandsChangeNoMemory) {
    Faults f;
    f.nakAtExchange = 1;
    for (const Bytes& frame :
         {eraseFrame(0, 0x2000), eraseFrame(1, 0xFF80), writeFrame(0, 0x2000, pattern(9)),
          dataFrame(3, 0x80, pattern(9)), runFrame(0)}) {
        DeviceModel unit(f);
        const DeviceModel untouched;
        EXPECT_EQ(exchangeFrame(unit, frame).reply, kRejected);
        EXPECT_EQ(unit.program(0), untouched.program(0));
        EXPECT_EQ(unit.program(1), untouched.program(1));
        EXPECT_EQ(unit.dataExtent(), 0u);
    }
}

TEST(DevsimFaults, ShortReplyLeavesOutTheLastByteButTheCommandRuns) {
    Faults f;
    f.shortReplyAtExchange = 2;
    DeviceModel unit(f);
    const Bytes full = fullRead(unit, 0x2000);
    const Bytes shortened = fullRead(unit, 0x2000);
    EXPECT_EQ(shortened, Bytes(full.begin(), full.end() - 1));
    EXPECT_EQ(fullRead(unit, 0x2000), full);

    Faults g;
    g.shortReplyAtExchange = 1;
    DeviceModel writer(g);
    EXPECT_EQ(exchangeFrame(writer, writeFrame(0, 0x4000, pattern(3))).reply, Bytes{0x02});
    EXPECT_EQ(writer.program(0)[0x4000], pattern(3)[0]);
}

TEST(DevsimFaults, ZeroLengthReplyIsTheSingleByteZero) {
    Faults f;
    f.zeroLengthAtExchange = 2;
    DeviceModel unit(f);
    EXPECT_EQ(fullRead(unit, 0x2000).size(), 130u);
    EXPECT_EQ(fullRead(unit, 0x2000), Bytes{0x00});
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x2000)).reply, kAccepted);
    EXPECT_EQ(unit.program(0)[0x2000], 0xFF);
}

TEST(DevsimFaults, CutReplySendsTheFirstHalf) {
    Faults f;
    f.cutReplyAtExchange = 2;
    DeviceModel unit(f);
    const Bytes full = fullRead(unit, 0xFF80);
    EXPECT_EQ(fullRead(unit, 0xFF80), Bytes(full.begin(), full.begin() + 65));
    EXPECT_EQ(fullRead(unit, 0xFF80), full);

    Faults g;
    g.cutReplyAtExchange = 1;
    DeviceModel eraser(g);
    EXPECT_EQ(exchangeFrame(eraser, eraseFrame(0, 0x4000)).reply, Bytes{0x02});
}

TEST(DevsimFaults, NoiseBytesPrecedeEveryComplement) {
    Faults f;
    f.noiseBeforeAck = 5;
    DeviceModel unit(f);
    for (int i = 0; i < 2; ++i) {
        const Exchange e = exchangeFrame(unit, eraseFrame(0, 0x4000));
        ASSERT_EQ(e.ack.size(), 6u);
        EXPECT_EQ(e.ack.back(), 0x78);
        EXPECT_EQ(std::count(e.ack.begin(), e.ack.end(), 0x78), 1);
        EXPECT_NE(std::find(e.ack.begin(), e.ack.end(), 0x43), e.ack.end());
        EXPECT_NE(std::find(e.ack.begin(), e.ack.end(), 0x00), e.ack.end());
        EXPECT_EQ(e.reply, kAccepted);
    }
}

TEST(DevsimFaults, NoiseAtOneExchangeOnly) {
    Faults f;
    f.noiseAtExchange = 2;
    DeviceModel unit(f);
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4000)).ack, Bytes{0x78});
    const Exchange noisy = exchangeFrame(unit, eraseFrame(0, 0x4000));
    EXPECT_EQ(noisy.ack.size(), 9u);
    EXPECT_EQ(noisy.ack.back(), 0x78);
    EXPECT_EQ(noisy.reply, kAccepted);
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4000)).ack, Bytes{0x78});
}

TEST(DevsimFaults, DeafAtOneExchangeOnlyAndSaysSo) {
    Faults f;
    f.deafAtExchange = 2;
    DeviceModel unit(f);
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4000)).ack, Bytes{0x78});
    EXPECT_TRUE(unit.receive(0x87).empty());
    EXPECT_FALSE(unit.inFrame());
    EXPECT_EQ(unit.transcript().back(), "ATTENTION unanswered");
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4000)).reply, kAccepted);
}

// Power lost half-way through a frame, and back: memories kept, the rest fresh.
TEST(DevsimFaults, PowerCycleKeepsTheMemoriesOnly) {
    Faults f;
    f.silentFromExchange = 3;
    DeviceModel unit(f);
    const Bytes plain = pattern(0x40);
    exchangeFrame(unit, writeFrame(1, 0x1200, plain));
    exchangeFrame(unit, dataFrame(0x0002, 0x80, plain));
    feed(unit, {0x87});
    unit.powerCycle();
    EXPECT_EQ(unit.exchanges(), 0);
    EXPECT_TRUE(unit.transcript().empty());
    EXPECT_EQ(exchangeFrame(unit, readFrame(1, 0x1200)).reply.size(), 130u);
    EXPECT_EQ(unit.program(1)[0x1200], plain[0]);
    EXPECT_EQ(unit.dataByte(0x0280), plain[0]);
}

// Power lost while an erase or a write runs: part of it done, one byte half
// done, no reply, nothing answered after; the memories keep what was done.
TEST(DevsimFaults, PowerCutInsideAnEraseOrAWriteLeavesItPartlyDone) {
    Faults f;
    f.powerCutAtExchange = 2;
    f.powerCutAfterBytes = 100;
    DeviceModel unit(f);
    unit.program(0).fill(0x00);
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4200)).reply, kAccepted);
    const Exchange cut = exchangeFrame(unit, eraseFrame(0, 0x4000));
    EXPECT_EQ(cut.ack, Bytes{0x78});
    EXPECT_TRUE(cut.reply.empty());
    EXPECT_EQ(unit.transcript().back(), "ERASE t0 4000 [power cut after 100 bytes]");
    EXPECT_EQ(unit.program(0)[0x4000 + 99], 0xFF);
    EXPECT_EQ(unit.program(0)[0x4000 + 100], 0xF0);
    EXPECT_EQ(unit.program(0)[0x4000 + 101], 0x00);
    EXPECT_TRUE(exchangeFrame(unit, readFrame(0, 0x4000)).ack.empty());

    f.powerCutAtExchange = 1;
    f.powerCutAfterBytes = 10;
    DeviceModel writer(f);
    const Bytes plain = pattern(0x31);
    EXPECT_TRUE(exchangeFrame(writer, writeFrame(1, 0x1200, plain)).reply.empty());
    EXPECT_EQ(slice(writer.program(1), 0x1200, 10), Bytes(plain.begin(), plain.begin() + 10));
    EXPECT_EQ(writer.program(1)[0x1200 + 10], plain[10] | 0x0F);
    EXPECT_EQ(slice(writer.program(1), 0x1200 + 11, 117), Bytes(117, 0xFF));
    writer.powerCycle();
    EXPECT_EQ(exchangeFrame(writer, readFrame(1, 0x1200)).reply.size(), 130u);
}

// A write never sets a bit: over bytes not erased it leaves old & new. So
// whatever the cut, a block being erased or being written with the bytes it
// held keeps every 1-bit of them.
TEST(DevsimFaults, ACutBlockKeepsEveryOneBitOfWhatItHeldOrIsGiven) {
    DeviceModel plain;
    plain.program(0).fill(0x3C);
    exchangeFrame(plain, writeFrame(0, 0x4000, pattern(0x52)));
    EXPECT_EQ(plain.program(0)[0x4000], 0x3C & pattern(0x52)[0]);

    const Bytes kept = slice(DeviceModel().program(0), kIdentityAddress, 128);
    for (const int bytes : {0, 1, 5, 6, 64, 127, 128, 200, 511, 512})
        for (const bool erase : {true, false}) {
            Faults f;
            f.powerCutAtExchange = 1;
            f.powerCutAfterBytes = bytes;
            DeviceModel unit(f);
            if (!erase)
                unit.program(0).fill(0xFF);
            exchangeFrame(unit, erase ? eraseFrame(0, kIdentityAddress)
                                      : writeFrame(0, kIdentityAddress, kept));
            const Bytes read = slice(unit.program(0), kIdentityAddress, 128);
            for (std::size_t i = 0; i < 128; ++i)
                ASSERT_EQ(read[i] & kept[i], kept[i])
                    << bytes << (erase ? " erase " : " write ") << i;
            EXPECT_EQ(read == kept,
                      erase ? bytes == 0 && (kept[0] | 0xF0) == kept[0] : bytes >= 128)
                << bytes;
        }
}

TEST(DevsimFaults, HandshakeAnsweredOnlyFromTheNthOn) {
    Faults f;
    f.handshakeFrom = 3;
    DeviceModel unit(f);
    EXPECT_TRUE(unit.receive(0xBC).empty());
    EXPECT_TRUE(unit.receive(0xBC).empty());
    EXPECT_EQ(unit.receive(0xBC), Bytes{0x43});
    EXPECT_EQ(unit.receive(0xBC), Bytes{0x43});
}

TEST(DevsimFaults, IncompatibleUnitAnswersCButNeverTheComplement) {
    Faults f;
    f.incompatible = true;
    DeviceModel unit(f);
    EXPECT_EQ(unit.receive(0xBC), Bytes{0x43});
    const Exchange e = exchangeFrame(unit, readFrame(0, 0x2000));
    EXPECT_TRUE(e.ack.empty());
    EXPECT_TRUE(e.reply.empty());
    EXPECT_FALSE(unit.inFrame());
    EXPECT_EQ(unit.receive(0xBC), Bytes{0x43});
    EXPECT_EQ(unit.exchanges(), 1);
}

} // namespace
} // namespace kronex::devsim::test
