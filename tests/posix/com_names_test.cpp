// Which device a "\\.\COMn" name opens.
#include "dos_devices.h"
#include "port_fixture.h"
#include "win32_errors.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kronex::test {
namespace {

using namespace std::chrono_literals;

class PosixComNames : public PortFixture {};

TEST_F(PosixComNames, Com3OpensTheDeviceItsLinkPointsAt) {
    HANDLE port = openLinkedPort();
    ASSERT_TRUE(isValid(port));
    EXPECT_EQ(write(port, {0x5A}), 1u);
    EXPECT_EQ(unit.unitReceives(1, 500ms), Bytes{0x5A});
}

TEST_F(PosixComNames, Com10IsNotTakenForCom1) {
    PtyPair other;
    devices.link(1, unit.slavePath());
    devices.link(10, other.slavePath());
    HANDLE port = openCom(10);
    ASSERT_TRUE(isValid(port)) << "error " << api.GetLastError();
    EXPECT_EQ(write(port, {0x10}), 1u);
    EXPECT_EQ(other.unitReceives(1, 500ms), Bytes{0x10});
    EXPECT_TRUE(unit.unitReceives(1, 20ms).empty());
}

TEST_F(PosixComNames, WithoutALinkTheNameIsTheMatchingTtyS) {
    EXPECT_EQ(posix::resolveDeviceName("\\\\.\\COM7"), "/dev/ttyS6");
    EXPECT_EQ(posix::resolveDeviceName("\\\\.\\COM16"), "/dev/ttyS15");
}

TEST_F(PosixComNames, ADanglingLinkFailsInsteadOfFallingBackToTtyS) {
    devices.link(1, "/nonexistent/kronex-port");
    EXPECT_EQ(openCom(1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.GetLastError(), ERROR_FILE_NOT_FOUND);
}

// A link that leads to a regular file, a folder, a pipe or a socket is no
// port: nothing is opened there, so nothing can be written into it.
TEST_F(PosixComNames, ALinkToWhatIsNoCharacterDeviceOpensNothing) {
    const std::string base = devices.stateHome() + "/not-a-port";
    const std::string file = base + ".file", folder = base + ".dir", fifo = base + ".fifo",
                      socketPath = base + ".sock";
    { std::ofstream(file) << ""; }
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const std::string& target : {file, folder, fifo, socketPath}) {
        SCOPED_TRACE(target);
        devices.link(4, target);
        EXPECT_EQ(openCom(4), INVALID_HANDLE_VALUE);
        EXPECT_EQ(api.GetLastError(), posix::kErrorNotSerialPort);
    }
    ::close(sock);
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

TEST_F(PosixComNames, AMalformedNameOpensNothing) {
    for (const char* name : {"\\\\.\\COM0", "\\\\.\\COM03", "\\\\.\\LPT1"}) {
        EXPECT_EQ(api.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr),
                  INVALID_HANDLE_VALUE)
            << name;
        EXPECT_EQ(api.GetLastError(), ERROR_FILE_NOT_FOUND) << name;
    }
}

} // namespace
} // namespace kronex::test
