// The link end to end on this platform's serial calls: a real pseudo-terminal
// registered as COM3, with kronex-devsim playing the unit.
#include "device_commands.h"
#include "devsim_process.h"
#include "serial_port.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace kronex;
using kronex::devsim::test::DevsimProcess;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> readBinary(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct LinkOverPty : ::testing::Test {
    fs::path state;
    fs::path dump;

    void SetUp() override {
        state =
            fs::temp_directory_path() /
            ("kronex-link-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(state);
        fs::create_directories(state);
        dump = state / "dump";
        fs::create_directories(dump);
        setenv("XDG_STATE_HOME", state.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(state); }

    std::unique_ptr<DevsimProcess> startUnit(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--com", "3", "--print-path", "--dump", dump.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto unit = std::make_unique<DevsimProcess>(args, state.string());
        EXPECT_FALSE(unit->readLine(std::chrono::seconds(5)).empty())
            << "kronex-devsim did not start";
        return unit;
    }
};

bool handshake(SerialPort& port) {
    std::uint8_t b = 0xBC;
    std::int32_t n = 0;
    port.ENVIA_DADOS(&b, 1, n);
    port.RECEBE_DADOS(1, &b, n);
    return b == 0x43;
}

} // namespace

TEST_F(LinkOverPty, WritesBlocksAndReadsTheIdentityBack) {
    auto unit = startUnit();
    SerialPort port(systemCommApi());
    LinkExchange link(port);
    ASSERT_TRUE(port.ABRE_PORTA(3));
    ASSERT_TRUE(isValidHandle(port.handle()));
    ASSERT_TRUE(handshake(port));
    link.attention = 0x87;

    std::string serial;
    ASSERT_TRUE(LE_IDENTIFICACAO(link, serial));
    EXPECT_EQ(serial, "290A1BC2");

    std::string page;
    for (int i = 0; i < 512; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", (i * 7) & 0xFF);
        page += pair;
    }
    ASSERT_TRUE(GRAVA_PAGINA_HEX(link, 0, 0x4000, page));
    ASSERT_TRUE(GRAVA_MEMORIA_HEX(link, 3, page.substr(0, 512)));
    std::uint8_t back[128];
    ASSERT_TRUE(CMD_LE_BLOCO(link, 0, 0x4180, back));
    for (int i = 0; i < 128; ++i)
        ASSERT_EQ(back[i], ((0x180 + i) * 7) & 0xFF) << i;

    // Held by this program: a second open fails, as it would on Windows.
    SerialPort second(systemCommApi());
    second.ABRE_PORTA(3);
    EXPECT_FALSE(isValidHandle(second.handle()));
    second.FECHA_PORTA();

    port.FECHA_PORTA();
    ASSERT_EQ(unit->stop(SIGTERM), 0);
    const auto target0 = readBinary(dump / "target0.bin");
    const auto data = readBinary(dump / "data.bin");
    ASSERT_EQ(target0.size(), 65536u);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(target0[0x4000 + static_cast<std::size_t>(i)], (i * 7) & 0xFF) << i;
    ASSERT_GE(data.size(), 4u * 256);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(data[3 * 256 + static_cast<std::size_t>(i)], (i * 7) & 0xFF) << i;
}

TEST_F(LinkOverPty, SilentUnitCostsAHundredMillisecondsPerByte) {
    auto unit = startUnit({"--silent-from", "1"});
    SerialPort port(systemCommApi());
    ASSERT_TRUE(port.ABRE_PORTA(3));
    std::uint8_t buf[3] = {0xEE, 0xEE, 0xEE};
    std::int32_t read = -1;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.RECEBE_DADOS(3, buf, read));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_EQ(read, 0);
    EXPECT_EQ(buf[0], 0xEE);
    EXPECT_GE(ms, 290);
    EXPECT_LE(ms, 600);
}
