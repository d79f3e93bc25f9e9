// A port is held by one open at a time, as a COM port opened with share mode 0.
#include "port_fixture.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kronex::test {
namespace {

class PosixExclusiveOpen : public PortFixture {
  protected:
    // Whether the kernel marks the tty exclusive: an open by a program that
    // does not flock fails with EBUSY (root passes, but TIOCGEXCL tells).
    bool kernelMarkedExclusive() {
        const int fd = ::open(unit.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno == EBUSY;
        int exclusive = 0;
        EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
        ::close(fd);
        return exclusive != 0;
    }
};

TEST_F(PosixExclusiveOpen, HandlesArePositive) {
    HANDLE port = openLinkedPort();
    HANDLE event = api.CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_GT(reinterpret_cast<std::intptr_t>(port), 0);
    EXPECT_GT(reinterpret_cast<std::intptr_t>(event), 0);
    EXPECT_NE(port, event);
    api.CloseHandle(event);
}

TEST_F(PosixExclusiveOpen, ASecondOpenFailsUntilTheFirstIsClosed) {
    HANDLE first = openLinkedPort();
    ASSERT_TRUE(isValid(first));

    EXPECT_EQ(openCom(kLinkedCom), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.GetLastError(), ERROR_ACCESS_DENIED);

    ASSERT_TRUE(close(first));
    HANDLE again = openCom(kLinkedCom);
    EXPECT_TRUE(isValid(again)) << "error " << api.GetLastError();
}

TEST_F(PosixExclusiveOpen, APortAnotherProgramHoldsFailsToOpen) {
    const int other = ::open(unit.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);

    EXPECT_EQ(openCom(kLinkedCom), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.GetLastError(), ERROR_ACCESS_DENIED);
    ::close(other);
}

TEST_F(PosixExclusiveOpen, TheKernelMarkIsSetWhileOpenAndGoneAfterClose) {
    HANDLE port = openLinkedPort();
    EXPECT_TRUE(kernelMarkedExclusive());
    ASSERT_TRUE(close(port));
    EXPECT_FALSE(kernelMarkedExclusive());
}

} // namespace
} // namespace kronex::test
