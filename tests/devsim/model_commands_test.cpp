// The unit's answers and memory effects in normal operation.
#include "device_model.h"
#include "model_driver.h"
#include "payload_coding.h"
#include "preset_memory.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kronex::devsim::test {
namespace {

TEST(DevsimCoding, SwapsNibblesAndComplementsAndUndoesItself) {
    EXPECT_EQ(codeByte(0x00), 0xFF);
    EXPECT_EQ(codeByte(0x12), 0xDE);
    EXPECT_EQ(codeByte(0x01), 0xEF);
    EXPECT_EQ(codeByte(0x10), 0xFE);
    EXPECT_EQ(codeByte(0xA5), 0xA5);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(codeByte(codeByte(static_cast<std::uint8_t>(b))), b);
}

TEST(DevsimModel, AnswersTheHandshakeWithC) {
    DeviceModel unit;
    EXPECT_EQ(unit.receive(0xBC), Bytes{0x43});
    EXPECT_EQ(unit.receive(0xBC), Bytes{0x43});
    EXPECT_EQ(unit.handshakes(), 2);
    EXPECT_EQ(unit.transcript(), (std::vector<std::string>{"HANDSHAKE", "HANDSHAKE"}));
}

TEST(DevsimModel, AnswersTheAttentionByteWithItsComplement) {
    DeviceModel unit;
    EXPECT_EQ(unit.receive(0x87), Bytes{0x78});
    EXPECT_TRUE(unit.inFrame());
    EXPECT_EQ(unit.exchanges(), 1);
}

TEST(DevsimModel, IgnoresOtherBytesOutsideAFrame) {
    DeviceModel unit;
    EXPECT_TRUE(feed(unit, {0x00, 0x43, 0x78, 0xAA, 0x02, 0x47, 0xFF}).empty());
    EXPECT_TRUE(unit.transcript().empty());
    EXPECT_FALSE(unit.inFrame());
    // A frame only follows an attention byte, so nothing above ran a command.
    EXPECT_EQ(exchangeFrame(unit, readFrame(0, 0x2000)).reply.size(), 130u);
}

TEST(DevsimModel, HandshakeAndAttentionBytesInsideAFrameAreData) {
    DeviceModel unit;
    Bytes plain(128, codeByte(0xBC)); // travels as 0xBC
    plain[5] = codeByte(0x87);        // travels as 0x87
    const Exchange e = exchangeFrame(unit, writeFrame(0, 0x4000, plain));
    EXPECT_EQ(e.reply, kAccepted);
    EXPECT_EQ(unit.handshakes(), 0);
    EXPECT_EQ(unit.exchanges(), 1);
    EXPECT_EQ(slice(unit.program(0), 0x4000, 128), plain);
}

TEST(DevsimModel, PresetIdentityBlockCarriesSerialAndUnitBytes) {
    DeviceModel unit;
    const Bytes id = decodeReadReply(exchangeFrame(unit, readFrame(0, kIdentityAddress)).reply);
    ASSERT_EQ(id.size(), 128u);
    EXPECT_EQ(Bytes(id.begin(), id.begin() + 3), (Bytes{0x0A, 0x1B, 0xC2}));
    EXPECT_EQ(Bytes(id.begin() + 3, id.begin() + 6), Bytes(kUnitBytes.begin(), kUnitBytes.end()));
    EXPECT_EQ(slice(unit.program(0), kIdentityAddress, 128), id);
}

TEST(DevsimModel, PresetTopBlocksAreWrittenAndDifferBetweenTargets) {
    DeviceModel unit;
    const Bytes top0 = slice(unit.program(0), kTopBlockAddress, 128);
    const Bytes top1 = slice(unit.program(1), kTopBlockAddress, 128);
    EXPECT_TRUE(std::any_of(top0.begin(), top0.end(), [](auto b) { return b != 0xFF; }));
    EXPECT_TRUE(std::any_of(top1.begin(), top1.end(), [](auto b) { return b != 0xFF; }));
    EXPECT_NE(top0, top1);
    // Everything else starts erased.
    EXPECT_EQ(unit.program(0)[0x0000], 0xFF);
    EXPECT_EQ(unit.program(0)[kIdentityAddress - 1], 0xFF);
    EXPECT_EQ(unit.program(0)[kIdentityAddress + 128], 0xFF);
    EXPECT_EQ(unit.program(1)[kIdentityAddress], 0xFF);
    EXPECT_EQ(unit.program(1)[kTopBlockAddress - 1], 0xFF);
}

TEST(DevsimModel, ReadRepliesWithCodedBytesOfTheAddressedTarget) {
    DeviceModel unit;
    const Bytes want = pattern(0x31);
    std::copy(want.begin(), want.end(), unit.program(1).begin() + 0x1A80);
    const Exchange e = exchangeFrame(unit, readFrame(1, 0x1A80));
    EXPECT_EQ(e.ack, Bytes{0x78});
    ASSERT_EQ(e.reply.size(), 130u);
    EXPECT_EQ(e.reply[0], 0x82);
    EXPECT_EQ(e.reply[1], 0xAA);
    EXPECT_EQ(e.reply[2], codeByte(want[0]));
    EXPECT_EQ(decodeReadReply(e.reply), want);
    // The same address on target 0 is erased.
    EXPECT_EQ(decodeReadReply(exchangeFrame(unit, readFrame(0, 0x1A80)).reply), Bytes(128, 0xFF));
}

TEST(DevsimModel, WriteDecodesThePayloadAndReadGivesItBack) {
    DeviceModel unit;
    const Bytes plain = pattern(0x05);
    EXPECT_EQ(exchangeFrame(unit, writeFrame(1, 0x1A80, plain)).reply, kAccepted);
    EXPECT_EQ(slice(unit.program(1), 0x1A80, 128), plain);
    EXPECT_EQ(slice(unit.program(0), 0x1A80, 128), Bytes(128, 0xFF));
    EXPECT_EQ(unit.program(1)[0x1A7F], 0xFF);
    EXPECT_EQ(unit.program(1)[0x1B00], 0xFF);
    EXPECT_EQ(decodeReadReply(exchangeFrame(unit, readFrame(1, 0x1A80)).reply), plain);
}

TEST(DevsimModel, EraseClearsExactly512BytesOfOneTarget) {
    DeviceModel unit;
    unit.program(0).fill(0x11);
    unit.program(1).fill(0x22);
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4000)).reply, kAccepted);
    EXPECT_EQ(unit.program(0)[0x3FFF], 0x11);
    EXPECT_EQ(slice(unit.program(0), 0x4000, 512), Bytes(512, 0xFF));
    EXPECT_EQ(unit.program(0)[0x4200], 0x11);
    EXPECT_EQ(unit.program(1)[0x4000], 0x22);

    EXPECT_EQ(exchangeFrame(unit, eraseFrame(1, 0x1200)).reply, kAccepted);
    EXPECT_EQ(slice(unit.program(1), 0x1200, 512), Bytes(512, 0xFF));
    EXPECT_EQ(unit.program(1)[0x1400], 0x22);
    EXPECT_EQ(unit.program(0)[0x1200], 0x11);
}

TEST(DevsimModel, AddressesWrapInsideTheTargetMemory) {
    DeviceModel unit;
    unit.program(0).fill(0x00);
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0xFF00)).reply, kAccepted);
    EXPECT_EQ(unit.program(0)[0xFEFF], 0x00);
    EXPECT_EQ(unit.program(0)[0xFFFF], 0xFF);
    EXPECT_EQ(unit.program(0)[0x00FF], 0xFF);
    EXPECT_EQ(unit.program(0)[0x0100], 0x00);

    const Bytes plain = pattern(0x40);
    EXPECT_EQ(exchangeFrame(unit, writeFrame(0, 0xFFC0, plain)).reply, kAccepted);
    EXPECT_EQ(unit.program(0)[0xFFC0], plain[0]);
    EXPECT_EQ(unit.program(0)[0x0000], plain[64]);
    EXPECT_EQ(unit.program(0)[0x003F], plain[127]);
    EXPECT_EQ(decodeReadReply(exchangeFrame(unit, readFrame(0, 0xFFC0)).reply), plain);
}

TEST(DevsimModel, DataHalvesLandAtBlockTimes256PlusOffset) {
    DeviceModel unit;
    const Bytes first = pattern(0x10);
    const Bytes second = pattern(0x90);
    EXPECT_EQ(exchangeFrame(unit, dataFrame(0x0012, 0x00, first)).reply, kAccepted);
    EXPECT_EQ(exchangeFrame(unit, dataFrame(0x0012, 0x80, second)).reply, kAccepted);
    for (std::uint32_t i = 0; i < 128; ++i) {
        ASSERT_EQ(unit.dataByte(0x1200 + i), first[i]) << i;
        ASSERT_EQ(unit.dataByte(0x1280 + i), second[i]) << i;
    }
    EXPECT_EQ(unit.dataByte(0x11FF), 0xFF);
    EXPECT_EQ(unit.dataByte(0x1300), 0xFF);
    EXPECT_EQ(unit.dataExtent(), 0x1300u);
    const Bytes image = unit.dataImage();
    ASSERT_EQ(image.size(), 0x1300u);
    EXPECT_EQ(image[0x0000], 0xFF);
    EXPECT_EQ(Bytes(image.begin() + 0x1280, image.end()), second);
    // Program memories are not touched.
    EXPECT_EQ(unit.program(0)[0x1200], 0xFF);
    EXPECT_EQ(unit.program(1)[0x1200], 0xFF);
}

TEST(DevsimModel, DataBlockNumbersReachPast16Bits) {
    DeviceModel unit;
    const Bytes plain = pattern(0x77);
    EXPECT_EQ(exchangeFrame(unit, dataFrame(0xFFFF, 0x80, plain)).reply, kAccepted);
    EXPECT_EQ(unit.dataExtent(), 0x1000000u);
    EXPECT_EQ(unit.dataByte(0xFFFF80), plain[0]);
    EXPECT_EQ(unit.dataByte(0xFFFFFF), plain[127]);
    EXPECT_EQ(unit.dataByte(0x00FF80), 0xFF);
}

TEST(DevsimModel, TargetBitSelectsTheMemoryForEveryTargetedCommand) {
    DeviceModel unit;
    const Bytes plain = pattern(0x01);
    exchangeFrame(unit, writeFrame(0, 0x3000, plain));
    EXPECT_EQ(decodeReadReply(exchangeFrame(unit, readFrame(1, 0x3000)).reply), Bytes(128, 0xFF));
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(1, 0x3000)).reply, kAccepted);
    EXPECT_EQ(slice(unit.program(0), 0x3000, 128), plain);
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x3000)).reply, kAccepted);
    EXPECT_EQ(slice(unit.program(0), 0x3000, 128), Bytes(128, 0xFF));
}

TEST(DevsimModel, RunAnswersAndTargetZeroComesBackInUpdateMode) {
    DeviceModel unit;
    EXPECT_EQ(exchangeFrame(unit, runFrame(1)).reply, kAccepted);
    EXPECT_EQ(exchangeFrame(unit, runFrame(0)).reply, kAccepted);
    EXPECT_FALSE(unit.inFrame());
    EXPECT_EQ(unit.receive(0xBC), Bytes{0x43});
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4000)).reply, kAccepted);
    EXPECT_EQ(unit.transcript(),
              (std::vector<std::string>{"RUN t1", "RUN t0", "HANDSHAKE", "ERASE t0 4000"}));
}

TEST(DevsimModel, TranscriptNamesEveryCommandInOrder) {
    DeviceModel unit;
    feed(unit, {0xBC});
    exchangeFrame(unit, readFrame(0, 0x2000));
    exchangeFrame(unit, eraseFrame(0, 0x4000));
    exchangeFrame(unit, writeFrame(1, 0x1A80, pattern(0)));
    exchangeFrame(unit, dataFrame(0x0012, 0x80, pattern(0)));
    exchangeFrame(unit, runFrame(0));
    EXPECT_EQ(unit.transcript(),
              (std::vector<std::string>{"HANDSHAKE", "READ t0 2000", "ERASE t0 4000",
                                        "WRITE t1 1A80", "DATA 0012+80", "RUN t0"}));
}

TEST(DevsimModel, FramesThatDoNotFitTheirCommandAreRejectedWhole) {
    DeviceModel unit;
    const auto before0 = unit.program(0);
    const auto before1 = unit.program(1);
    Bytes longRead = readFrame(0, 0x2000);
    longRead[0] = 0x05;
    longRead.push_back(0x00);
    Bytes shortWrite = writeFrame(0, 0x2000, pattern(1));
    shortWrite[0] = 0x84;
    shortWrite.pop_back();
    Bytes wrongMarker = writeFrame(0, 0x2000, pattern(1));
    wrongMarker[2] = 0x09;
    const Bytes oddOffset = dataFrame(0x0001, 0x40, pattern(1));
    Bytes targetedData = dataFrame(0x0001, 0x00, pattern(1));
    targetedData[1] = 0xC6;
    const Bytes longRun = {0x03, 0x47, 0x00};
    const Bytes unknown = {0x04, 0x12, 0x20, 0x00};

    for (const Bytes& frame :
         {longRead, shortWrite, wrongMarker, oddOffset, targetedData, longRun, unknown}) {
        EXPECT_EQ(exchangeFrame(unit, frame).reply, kRejected);
        // The whole frame was taken in: the next byte is outside a frame again.
        EXPECT_FALSE(unit.inFrame());
    }
    EXPECT_EQ(unit.program(0), before0);
    EXPECT_EQ(unit.program(1), before1);
    EXPECT_EQ(unit.dataExtent(), 0u);
    EXPECT_EQ(unit.transcript().front(), "REJECTED 44 length 5");
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4000)).reply, kAccepted);
}

TEST(DevsimModel, FrameLengthsBelowTwoEndTheFrameAtOnce) {
    DeviceModel unit;
    EXPECT_EQ(exchangeFrame(unit, {0x00}).reply, kRejected);
    EXPECT_EQ(exchangeFrame(unit, {0x01}).reply, kRejected);
    EXPECT_EQ(unit.receive(0xBC), Bytes{0x43});
}

TEST(DevsimModel, AbandonedFrameLetsTheNextHandshakeThrough) {
    DeviceModel unit;
    feed(unit, {0x87, 0x85, 0x57, 0x08});
    ASSERT_TRUE(unit.inFrame());
    unit.abandonFrame();
    EXPECT_FALSE(unit.inFrame());
    EXPECT_EQ(unit.receive(0xBC), Bytes{0x43});
    EXPECT_EQ(exchangeFrame(unit, eraseFrame(0, 0x4000)).reply, kAccepted);
}

} // namespace
} // namespace kronex::devsim::test
