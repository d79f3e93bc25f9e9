// Which device a "\\.\COMn" name opens.
#include "dos_devices.h"
#include "port_fixture.h"

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
