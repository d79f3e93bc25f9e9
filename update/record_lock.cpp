#include "record_lock.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kronex {

namespace fs = std::filesystem;

namespace {

fs::path lockFileOf(const fs::path& record) {
    return record.native() + fs::path(".lock").native();
}

} // namespace

RecordLock::RecordLock(RecordLock&& other) noexcept {
    *this = std::move(other);
}

RecordLock& RecordLock::operator=(RecordLock&& other) noexcept {
    if (this != &other) {
        release();
        file_ = std::move(other.file_);
        open_ = std::exchange(other.open_, false);
#ifdef _WIN32
        handle_ = std::exchange(other.handle_, nullptr);
#else
        fd_ = std::exchange(other.fd_, -1);
#endif
    }
    return *this;
}

#ifdef _WIN32

// No sharing: a second open, in any process, fails with a sharing violation
// while this handle lives, and the file goes when it closes.
RecordLock::State RecordLock::take(const fs::path& record, std::string& why) {
    release();
    const fs::path file = lockFileOf(record);
    HANDLE h =
        ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            return State::Held;
        why = "cannot lock " + file.string() + " (error " + std::to_string(error) + ")";
        return State::Failed;
    }
    handle_ = h;
    file_ = file;
    open_ = true;
    return State::Free;
}

void RecordLock::release() {
    if (!open_)
        return;
    ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    open_ = false;
}

#else

// flock() locks belong to the open file, so two sessions of one process
// exclude each other as two processes do. The file is removed only by its
// holder; whoever opened it just before checks that the file it locked is
// still the one in the folder.
RecordLock::State RecordLock::take(const fs::path& record, std::string& why) {
    release();
    const fs::path file = lockFileOf(record);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            why = "cannot lock " + file.string() + ": " + std::strerror(errno);
            return State::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK)
                return State::Held;
            why = "cannot lock " + file.string() + ": " + std::strerror(error);
            return State::Failed;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::stat(file.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            fd_ = fd;
            file_ = file;
            open_ = true;
            return State::Free;
        }
        ::close(fd); // removed by its last holder meanwhile: lock the new one
    }
    why = "cannot lock " + file.string() + ": it keeps being replaced";
    return State::Failed;
}

void RecordLock::release() {
    if (!open_)
        return;
    ::unlink(file_.c_str());
    ::close(fd_);
    fd_ = -1;
    open_ = false;
}

#endif

bool recordHeld(const fs::path& file) {
    RecordLock probe;
    std::string why;
    return probe.take(file, why) != RecordLock::State::Free;
}

} // namespace kronex
