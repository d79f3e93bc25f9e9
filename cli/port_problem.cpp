#include "port_problem.h"

#include "messages.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "dos_devices.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kronex::cli {

namespace {

constexpr DWORD kFileNotFound = 2;
constexpr DWORD kPathNotFound = 3;
constexpr DWORD kAccessDenied = 5;
constexpr DWORD kInvalidFunction = 1; // serial calls on what is no serial port

PortCause causeOfWin32(DWORD error) {
    switch (error) {
    case kAccessDenied:
        return PortCause::Held; // what Windows answers for a port in use
    case kFileNotFound:
    case kPathNotFound:
        return PortCause::Missing;
    case kInvalidFunction:
        return PortCause::NotSerial;
    default:
        return PortCause::Failed;
    }
}

#ifdef _WIN32
std::string systemText(DWORD error) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out(text ? text : "", n);
    LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}
#else
PortProblem fromErrno(int err, PortCause cause) {
    return {cause, err, std::strerror(err), {}, {}, {}};
}

// The open the serial layer makes, made again to learn the errno it hit.
std::optional<PortProblem> askDevice(const std::string& path) {
    // Nothing but a character device is opened, as the serial layer does.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode)) {
        const char* kind = S_ISREG(st.st_mode)    ? N_("a regular file")
                           : S_ISDIR(st.st_mode)  ? N_("a folder")
                           : S_ISFIFO(st.st_mode) ? N_("a pipe")
                           : S_ISSOCK(st.st_mode) ? N_("a socket")
                                                  : N_("no character device");
        PortProblem p{PortCause::NotSerial, ENOTTY, {}, {}, path, kind};
        const EnglishTexts english; // the JSON's text
        p.text = problemText(p);
        return p;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        switch (err) {
        case EACCES:
        case EPERM: {
            PortProblem p = fromErrno(err, PortCause::Denied);
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0)
                if (const group* g = ::getgrgid(st.st_gid))
                    p.group = g->gr_name;
            if (p.group.empty() || p.group == "root")
                p.group = "dialout";
            return p;
        }
        case EBUSY:
            return fromErrno(err, PortCause::Held); // another program's exclusive hold
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV:
        case EIO:
            return fromErrno(err, PortCause::Missing);
        default:
            return fromErrno(err, PortCause::Failed);
        }
    }
    std::optional<PortProblem> held;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        held = fromErrno(errno, PortCause::Held);
    ::close(fd);
    return held;
}
#endif

} // namespace

std::string problemText(const PortProblem& p) {
    if (p.cause != PortCause::NotSerial)
        return p.text;
    if (p.kind.empty())
        return tr("not a serial port");
    return fill(tr("not a serial port: {1} is {2}"), {p.device, tr(p.kind.c_str())});
}

std::string causeName(PortCause cause) {
    switch (cause) {
    case PortCause::Held:
        return "held";
    case PortCause::Denied:
        return "denied";
    case PortCause::Missing:
        return "missing";
    case PortCause::Failed:
        return "failed";
    case PortCause::NotSerial:
        return "not_serial";
    }
    return "failed";
}

PortProblem diagnosePort([[maybe_unused]] int port, DWORD error) {
#ifdef _WIN32
    return {causeOfWin32(error), static_cast<long>(error), systemText(error), {}, {}, {}};
#else
    if (const auto path = posix::resolveDeviceName("COM" + std::to_string(port)))
        if (auto asked = askDevice(*path))
            return *asked;
    // The device opens now: report what the serial layer met.
    PortProblem p{causeOfWin32(error), static_cast<long>(error), {}, {}, {}, {}};
    p.text = p.cause == PortCause::Held        ? std::strerror(EBUSY)
             : p.cause == PortCause::NotSerial ? "not a serial port"
                                               : std::strerror(ENOENT);
    return p;
#endif
}

} // namespace kronex::cli
