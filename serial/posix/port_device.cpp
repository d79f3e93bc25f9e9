#include "port_device.h"

#include "line_termios.h"
#include "win32_errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kronex::posix {

namespace {

// A COM port has no line discipline: bytes pass as they are, nothing is
// echoed, no character stands for a signal or a line end. Only the frame and
// the port's own flow control settings are kept.
void makeRaw(LineTermios& line) {
    line.iflag &= ~static_cast<std::uint32_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF | IXANY | IUCLC | IMAXBEL);
    line.oflag &= ~static_cast<std::uint32_t>(OPOST);
    line.lflag &= ~static_cast<std::uint32_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    line.cflag &= ~static_cast<std::uint32_t>(CSIZE | PARENB);
    line.cflag |= CS8 | CLOCAL | CREAD;
    // One byte is enough for read() to return; with O_NONBLOCK an empty queue
    // then reports EAGAIN and a return of 0 means the line hung up.
    line.cc[VMIN] = 1;
    line.cc[VTIME] = 0;
}

// A missing device, a dangling link or a ttyS without hardware behind it
// (EIO) are all "no such port" to the caller.
DWORD openError(int err) {
    return err == EIO ? ERROR_FILE_NOT_FOUND : errorFromErrno(err);
}

bool setUpLine(int fd) {
    LineTermios line;
    if (!readLineTermios(fd, line))
        return errno == ENOTTY; // not a terminal: no line discipline to undo
    makeRaw(line);
    if (!writeLineTermios(fd, line))
        return false;
    tcflush(fd, TCIOFLUSH); // a freshly opened port starts with empty queues
    return true;
}

} // namespace

PortDevice::~PortDevice() {
    restoreLatency(fd_, latency_);
    ioctl(fd_, TIOCNXCL);
    ::close(fd_); // also drops the flock
}

std::unique_ptr<PortDevice> openPortDevice(const std::string& path, DWORD& error) {
    // A COM link to a file, folder, pipe or socket is no port: nothing is
    // opened or written there. Asked again of the open file, in case the
    // path changed in between.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode)) {
        error = kErrorNotSerialPort;
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = openError(errno);
        return nullptr;
    }
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        error = kErrorNotSerialPort;
        ::close(fd);
        return nullptr;
    }
    // flock holds even against root and against our own second open; TIOCEXCL
    // adds the kernel's own refusal for other programs that do not flock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errorFromErrno(errno);
        ::close(fd);
        return nullptr;
    }
    auto device = std::make_unique<PortDevice>(fd);
    ioctl(fd, TIOCEXCL); // ptys and non-ttys may refuse; the flock still holds
    if (!setUpLine(fd)) {
        error = errorFromErrno(errno);
        return nullptr;
    }
    if (lowLatencyAsked())
        device->askLowLatency();
    return device;
}

} // namespace kronex::posix
