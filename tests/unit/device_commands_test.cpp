#include "device_commands.h"
#include "fake_comm.h"
#include "scripted_unit.h"

#include <gtest/gtest.h>
#include <numeric>

using namespace kronex;
using kronex::test::FakeComm;
using kronex::test::ScriptedUnit;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct DeviceCommandsTest : ::testing::Test {
    FakeComm comm;
    SerialPort port{comm};
    LinkExchange link{port};
    ScriptedUnit unit;

    void SetUp() override {
        comm.port(1).peer = [this](std::uint8_t b) { return unit.receive(b); };
        port.ABRE_PORTA(1);
        link.attention = 0x87;
    }
    // The frame the unit got, command byte and parameters only.
    Bytes head(std::size_t frame, std::size_t n) const {
        const auto& f = unit.frames.at(frame);
        return Bytes(f.begin(), f.begin() + static_cast<long>(std::min(n, f.size())));
    }
};

Bytes readReply(std::uint8_t status, std::uint8_t firstData) {
    Bytes r = {0x82, status};
    for (int i = 0; i < 128; ++i)
        r.push_back(CODIFICA_BYTE(static_cast<std::uint8_t>(firstData + i)));
    return r;
}

// Data bytes of a write frame, decoded.
Bytes payloadOf(const Bytes& frame) {
    Bytes out;
    for (std::size_t i = 5; i < frame.size(); ++i)
        out.push_back(CODIFICA_BYTE(frame[i]));
    return out;
}

} // namespace

TEST_F(DeviceCommandsTest, TargetOneSetsBitSevenExceptForDataWrites) {
    std::uint8_t data[512] = {};
    ASSERT_TRUE(CMD_EXECUTA(link, 1));
    ASSERT_TRUE(CMD_APAGA(link, 1, 0x1200));
    unit.replies = {readReply(0xAA, 0)};
    ASSERT_TRUE(CMD_LE_BLOCO(link, 1, 0xFF80, data));
    ASSERT_TRUE(CMD_GRAVA_PAGINA(link, 1, 1, 0x1A00, data));
    ASSERT_TRUE(CMD_GRAVA_MEMORIA(link, 0x0102, data));
    ASSERT_TRUE(CMD_EXECUTA(link, 2)); // anything but 1 is target 0
    EXPECT_EQ(head(0, 2), (Bytes{0x02, 0xC7}));
    EXPECT_EQ(head(1, 4), (Bytes{0x04, 0xC5, 0x12, 0x00}));
    EXPECT_EQ(head(2, 4), (Bytes{0x04, 0xC4, 0xFF, 0x80}));
    EXPECT_EQ(head(3, 4), (Bytes{0x04, 0xC5, 0x1A, 0x00})); // the write's erase
    EXPECT_EQ(head(4, 5), (Bytes{0x85, 0xD7, 0x08, 0x1A, 0x00}));
    EXPECT_EQ(head(5, 5), (Bytes{0x85, 0x46, 0x01, 0x02, 0x00}));
    EXPECT_EQ(head(6, 5), (Bytes{0x85, 0x46, 0x01, 0x02, 0x80}));
    EXPECT_EQ(head(7, 2), (Bytes{0x02, 0x47}));
    EXPECT_EQ(unit.frames[4].size(), 0x85u);
}

// Each frame a command sent reads back as the fields it was built from and
// builds again to the same bytes; a cut frame names nothing it lacks.
TEST_F(DeviceCommandsTest, FramesDecodeToWhatTheirCommandsSent) {
    std::uint8_t data[256];
    std::iota(std::begin(data), std::end(data), 0);
    ASSERT_TRUE(CMD_EXECUTA(link, 1));
    ASSERT_TRUE(CMD_GRAVA_PAGINA(link, 1, 1, 0x1A00, data)); // an erase, a write
    ASSERT_TRUE(CMD_GRAVA_MEMORIA(link, 0x0102, data));      // two halves
    const std::vector<FrameFields> sent = {{kCmdRun, 1},
                                           {kCmdErase, 1, 0x1A00},
                                           {kCmdWrite, 1, 0x1A00},
                                           {kCmdWriteData, 0, 0x0102, 0x00},
                                           {kCmdWriteData, 0, 0x0102, 0x80}};
    ASSERT_EQ(unit.frames.size(), sent.size());
    for (std::size_t k = 0; k < sent.size(); ++k) {
        const Bytes& f = unit.frames[k];
        EXPECT_TRUE(wholeFrame(f.data(), f.size())) << k;
        const auto got = decodeFrame(f.data(), f.size());
        ASSERT_TRUE(got) << k;
        EXPECT_EQ(got->code(), f[1]) << k;
        EXPECT_EQ(got->target, sent[k].target) << k;
        EXPECT_EQ(got->address, sent[k].address) << k;
        EXPECT_EQ(got->half, sent[k].half) << k;
        std::uint8_t plain[128];
        const bool write = framePayload(f.data(), f.size(), plain);
        EXPECT_EQ(write, k >= 2) << k;
        if (write) {
            const std::uint8_t* from = data + (sent[k].half == 0x80 ? 128 : 0);
            EXPECT_EQ(Bytes(plain, plain + 128), Bytes(from, from + 128)) << k;
        }
        Bytes again(kMaxFrameBytes);
        again.resize(encodeFrame(*got, again.data(), write ? plain : nullptr));
        EXPECT_EQ(again, f) << k;
    }
    const Bytes& half = unit.frames[4];
    EXPECT_FALSE(decodeFrame(half.data(), 4)); // no half yet
    EXPECT_EQ(decodeFrame(half.data(), 5)->half, 0x80);
    EXPECT_FALSE(wholeFrame(half.data(), half.size() - 1));
    std::uint8_t plain[128];
    EXPECT_FALSE(framePayload(half.data(), half.size() - 1, plain));
    EXPECT_FALSE(decodeFrame(half.data(), 1));
}

TEST_F(DeviceCommandsTest, RejectedStatusIsFailure) {
    std::uint8_t data[256] = {};
    unit.replies = {{0x02, 0x55}, {0x02, 0x00}, {0x02, 0x55}};
    EXPECT_FALSE(CMD_EXECUTA(link, 0));
    EXPECT_FALSE(CMD_APAGA(link, 0, 0x8000));
    EXPECT_FALSE(CMD_GRAVA_MEMORIA(link, 0, data));
    EXPECT_EQ(unit.frames.size(), 3u); // the second half was never sent
}

TEST_F(DeviceCommandsTest, ReadDecodesACompleteReplyWhateverItsStatus) {
    std::uint8_t data[128] = {};
    unit.replies = {readReply(0x00, 0x40)};
    EXPECT_TRUE(CMD_LE_BLOCO(link, 0, 0x2000, data));
    for (int i = 0; i < 128; ++i)
        ASSERT_EQ(data[i], 0x40 + i);
}

TEST_F(DeviceCommandsTest, ReadRefusesShortRepliesAndKeepsStaleBytesOut) {
    std::uint8_t data[128];
    unit.replies = {readReply(0xAA, 0x10)};
    ASSERT_TRUE(CMD_LE_BLOCO(link, 0, 0x2000, data));

    // A complete but short reply: the buffer still holds the earlier data.
    std::fill(std::begin(data), std::end(data), 0xEE);
    unit.replies = {{0x02, 0xAA}};
    EXPECT_FALSE(CMD_LE_BLOCO(link, 0, 0xFF80, data));
    EXPECT_EQ(data[5], 0xEE);

    Bytes cut = readReply(0xAA, 0x60);
    cut.resize(100);
    unit.replies = {cut};
    EXPECT_FALSE(CMD_LE_BLOCO(link, 0, 0xFF80, data));
    EXPECT_EQ(data[5], 0xEE);
}

TEST_F(DeviceCommandsTest, ProgramBlockIsAnEraseAndFourCodedFrames) {
    std::uint8_t data[512];
    std::iota(std::begin(data), std::end(data), 0); // wraps every 256
    ASSERT_TRUE(CMD_GRAVA_PAGINA(link, 0, 4, 0x4000, data));
    ASSERT_EQ(unit.frames.size(), 5u);
    EXPECT_EQ(head(0, 4), (Bytes{0x04, 0x45, 0x40, 0x00}));
    for (int k = 0; k < 4; ++k) {
        const auto& f = unit.frames[static_cast<std::size_t>(k) + 1];
        const unsigned at = 0x4000 + 0x80 * static_cast<unsigned>(k);
        EXPECT_EQ(head(static_cast<std::size_t>(k) + 1, 5),
                  (Bytes{0x85, 0x57, 0x08, static_cast<std::uint8_t>(at >> 8),
                         static_cast<std::uint8_t>(at & 0xFF)}));
        EXPECT_EQ(payloadOf(f), Bytes(data + 128 * k, data + 128 * (k + 1)));
    }
    EXPECT_EQ(unit.frames[1][5 + 0x12], 0xDE); // data byte 0x12 travels as 0xDE
}

TEST_F(DeviceCommandsTest, ProgramBlockFailsAtTheFirstRefusedFrame) {
    std::uint8_t data[512] = {};
    unit.replies = {{0x02, 0xAA}, {0x02, 0xAA}, {0x02, 0x55}};
    EXPECT_FALSE(CMD_GRAVA_PAGINA(link, 0, 4, 0x4000, data));
    EXPECT_EQ(unit.frames.size(), 3u); // the third and fourth frames never went out

    unit.frames.clear();
    unit.replies = {{0x02, 0xAA}, {0x02, 0x55}};
    EXPECT_FALSE(CMD_GRAVA_PAGINA(link, 0, 1, 0xFF80, data)); // one block, rejected

    unit.frames.clear();
    unit.replies = {{0x02, 0xAA}, {}}; // one block, never answered
    EXPECT_FALSE(CMD_GRAVA_PAGINA(link, 0, 1, 0xFF80, data));

    unit.frames.clear();
    unit.replies = {{0x02, 0x55}}; // refused erase: nothing written
    EXPECT_FALSE(CMD_GRAVA_PAGINA(link, 0, 4, 0x4000, data));
    EXPECT_EQ(unit.frames.size(), 1u);
}

TEST_F(DeviceCommandsTest, IdentityGivesTheSerialNumberText) {
    Bytes reply = {0x82, 0xAA};
    const std::uint8_t block[3] = {0x0A, 0x1B, 0xC2};
    for (int i = 0; i < 128; ++i)
        reply.push_back(CODIFICA_BYTE(i < 3 ? block[i] : 0x00));
    unit.replies = {reply};
    std::string serial;
    EXPECT_TRUE(LE_IDENTIFICACAO(link, serial));
    EXPECT_EQ(serial, "290A1BC2");
    EXPECT_EQ(head(0, 4), (Bytes{0x04, 0x44, 0x20, 0x00}));

    unit.answersAttention = false;
    EXPECT_FALSE(LE_IDENTIFICACAO(link, serial));
    EXPECT_EQ(serial, "");
}

// Where the session writes the erase addresses is where the report reads
// them, in the bytes the unit keeps them in; the serial text shows every bit.
TEST(IdentityLayout, ErasesAndSerialNumberSitInTheirBytes) {
    std::array<std::uint8_t, 128> id;
    id.fill(0xFF);
    id[1] = 0xF0;
    id[2] = 0x0F;
    putEraseAddress(id.data(), kFirstEraseByte, 0x4000);
    putEraseAddress(id.data(), kSecondEraseByte, 0xE1F2);
    EXPECT_EQ(Bytes(id.begin() + 6, id.begin() + 12), (Bytes{0xFF, 0xE1, 0xF2, 0x40, 0x00, 0xFF}));
    EXPECT_EQ(eraseAddressAt(id.data(), kFirstEraseByte), 0x4000u);
    EXPECT_EQ(eraseAddressAt(id.data(), kSecondEraseByte), 0xE1F2u);
    EXPECT_EQ(serialText(id.data()), "29FFF00F");
}

TEST_F(DeviceCommandsTest, DataBlockFromHexText) {
    auto written = [&](std::string_view hex) {
        unit.frames.clear();
        EXPECT_TRUE(GRAVA_MEMORIA_HEX(link, 7, hex));
        Bytes all = payloadOf(unit.frames.at(0));
        const Bytes second = payloadOf(unit.frames.at(1));
        all.insert(all.end(), second.begin(), second.end());
        return all;
    };
    Bytes expected(256, 0xFF);
    expected[0] = 0x12;
    expected[1] = 0xAB;
    EXPECT_EQ(written("12AB"), expected);
    expected[1] = 0x0A;
    EXPECT_EQ(written("12A"), expected);
    expected[0] = 0x00;
    expected[1] = 0xFF;
    EXPECT_EQ(written(""), expected);
    const Bytes full = written(std::string(512, 'C'));
    EXPECT_EQ(full, Bytes(256, 0xCC));
}

TEST_F(DeviceCommandsTest, DataBlockTextLongerThan256BytesIsRefused) {
    EXPECT_FALSE(GRAVA_MEMORIA_HEX(link, 0, std::string(513, 'A')));
    EXPECT_TRUE(unit.frames.empty());
    EXPECT_TRUE(comm.port(1).sent.empty());
}

TEST_F(DeviceCommandsTest, ProgramBlockFromOneLinePadsWithZeros) {
    ASSERT_TRUE(GRAVA_PAGINA_HEX(link, 0, 0x2200, std::string(512, '5') + "ab"));
    ASSERT_EQ(unit.frames.size(), 5u);
    EXPECT_EQ(payloadOf(unit.frames[1]), Bytes(128, 0x55));
    EXPECT_EQ(payloadOf(unit.frames[2]), Bytes(128, 0x55));
    Bytes third = payloadOf(unit.frames[3]);
    EXPECT_EQ(third[0], 0x00); // "ab" is dropped: lower-case is no digit
    EXPECT_EQ(third, Bytes(128, 0x00));
    EXPECT_EQ(payloadOf(unit.frames[4]), Bytes(128, 0x00));
}
