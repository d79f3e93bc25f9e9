// kronex-devsim as the updater meets it: a program serving a terminal.
#include "devsim_process.h"
#include "model_driver.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace kronex::devsim::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class DevsimProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "kronex-devsim-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }

    static Bytes fileBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
};

TEST_F(DevsimProgram, ServesTheUnitOnATerminalAndDumpsItsMemoriesOnSigterm) {
    const fs::path link = dir_ / "state/kronex/dosdevices/com9";
    DevsimProcess devsim({"--print-path", "--com", "9", "--dump", (dir_ / "dump").string(),
                          "--transcript", (dir_ / "transcript.txt").string()},
                         (dir_ / "state").string());
    const std::string path = devsim.readLine(5s);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(fs::read_symlink(link), path);

    const Bytes plain = pattern(0x3C);
    {
        TestPort port(path);
        ASSERT_TRUE(port.isOpen());
        port.send({0xBC});
        EXPECT_EQ(port.receive(1, 2s), Bytes{0x43});
        port.send({0x87});
        EXPECT_EQ(port.receive(1, 2s), Bytes{0x78});
        port.send(writeFrame(0, 0x4000, plain));
        EXPECT_EQ(port.receive(2, 2s), kAccepted);
    }
    {
        // A second open finds the unit still there.
        TestPort port(path);
        port.send({0x87});
        EXPECT_EQ(port.receive(1, 2s), Bytes{0x78});
        port.send(readFrame(0, 0x4000));
        EXPECT_EQ(decodeReadReply(port.receive(130, 2s)), plain);
    }
    EXPECT_EQ(devsim.stop(SIGTERM), 0);

    const Bytes t0 = fileBytes(dir_ / "dump/target0.bin");
    ASSERT_EQ(t0.size(), 0x10000u);
    EXPECT_EQ(Bytes(t0.begin() + 0x4000, t0.begin() + 0x4080), plain);
    EXPECT_EQ(t0[0x2000], 0x0A); // the preset serial number
    EXPECT_EQ(fileBytes(dir_ / "dump/target1.bin").size(), 0x10000u);
    EXPECT_TRUE(fs::exists(dir_ / "dump/data.bin"));
    EXPECT_EQ(fs::file_size(dir_ / "dump/data.bin"), 0u);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    const Bytes transcript = fileBytes(dir_ / "transcript.txt");
    EXPECT_EQ(std::string(transcript.begin(), transcript.end()),
              "HANDSHAKE\nWRITE t0 4000\nREAD t0 4000\n");
}

TEST_F(DevsimProgram, PacedReplyTakesItsLineTime) {
    DevsimProcess devsim({"--print-path", "--baud", "19200"}, (dir_ / "state").string());
    const std::string path = devsim.readLine(5s);
    ASSERT_FALSE(path.empty());
    TestPort port(path);
    port.send({0x87});
    ASSERT_EQ(port.receive(1, 2s), Bytes{0x78});

    const auto start = std::chrono::steady_clock::now();
    port.send(readFrame(0, 0x2000));
    EXPECT_EQ(port.receive(130, 3s).size(), 130u);
    const auto took = std::chrono::steady_clock::now() - start;
    // Four request bytes and 130 reply bytes of 10 bits at 19200 baud: 69.8 ms.
    EXPECT_GE(took, 69ms);
    EXPECT_LT(took, 1s);
    EXPECT_EQ(devsim.stop(SIGINT), 0);
}

TEST_F(DevsimProgram, EndsWhenItsInputClosesUnderStdinControl) {
    DevsimProcess devsim({"--print-path", "--stdin-control"}, (dir_ / "state").string());
    ASSERT_FALSE(devsim.readLine(5s).empty());
    devsim.closeInput();
    EXPECT_EQ(devsim.wait(5s), 0);
}

TEST_F(DevsimProgram, RefusesAWrongCommandLine) {
    DevsimProcess devsim({"--nak-at", "soon"}, (dir_ / "state").string());
    EXPECT_EQ(devsim.wait(5s), 2);
}

} // namespace
} // namespace kronex::devsim::test
