#include "record_files.h"

#include <system_error>

#ifdef _WIN32
#include "record_files_win32.h"
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kronex {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32

bool replaceDurably(const fs::path& path, const std::string& text, std::string& why) {
    return replaceFileDurably(path, text, why);
}

#else

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Makes what changed in `folder` (a file renamed in or removed, a folder
// made) survive a power cut.
bool flushFolder(const fs::path& folder, std::string& why) {
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool ok = dir >= 0 && ::fsync(dir) == 0;
    if (!ok)
        why = errnoText("flushing " + folder.string());
    if (dir >= 0)
        ::close(dir);
    return ok;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool replaceDurably(const fs::path& path, const std::string& text, std::string& why) {
    std::string temp = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        why = errnoText("creating a file in " + path.parent_path().string());
        return false;
    }
    bool ok = writeAll(fd, text);
    if (!ok)
        why = errnoText("writing " + temp);
    else if (::fsync(fd) != 0) {
        why = errnoText("flushing " + temp);
        ok = false;
    }
    ::close(fd);
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        why = errnoText("renaming to " + path.string());
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself is durable once the folder is flushed.
    return flushFolder(path.parent_path(), why);
}

std::optional<std::string> readRecordFile(const fs::path& path, RecordFault& fault,
                                          std::string& why) {
    // No link followed, no wait for a writer on a pipe, no terminal taken.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        fault = errno == ELOOP ? RecordFault::NotAFile : RecordFault::Unreadable;
        why = fault == RecordFault::NotAFile ? std::string() : std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    std::optional<std::string> text;
    if (::fstat(fd, &st) != 0) {
        fault = RecordFault::Unreadable;
        why = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        fault = RecordFault::NotAFile;
    } else if (st.st_size > static_cast<off_t>(kRecordMaxBytes)) {
        fault = RecordFault::TooLarge;
    } else {
        // One byte more than a record may have tells a file that grew since.
        std::string buffer(kRecordMaxBytes + 1, '\0');
        std::size_t got = 0;
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                fault = RecordFault::Unreadable;
                why = std::strerror(errno);
                break;
            }
            got += static_cast<std::size_t>(n);
            if (n == 0 || got == buffer.size()) {
                buffer.resize(got);
                if (got > kRecordMaxBytes)
                    fault = RecordFault::TooLarge;
                else
                    text = std::move(buffer);
                break;
            }
        }
    }
    ::close(fd);
    return text;
}

#endif

} // namespace

bool RecordFiles::replace(const fs::path& path, const std::string& text, std::string& why) {
    const fs::path folder = path.parent_path();
    // The folders about to be made, deepest first: each is flushed into its
    // parent, or a power cut could take the folder and the record with it.
    std::vector<fs::path> made;
    std::error_code ec;
    for (fs::path f = folder; !f.empty() && !fs::exists(f, ec); f = f.parent_path()) {
        made.push_back(f);
        if (f == f.parent_path())
            break;
    }
    fs::create_directories(folder, ec);
    if (ec) {
        why = "cannot make " + folder.string() + ": " + ec.message();
        return false;
    }
#ifndef _WIN32
    for (const auto& f : made)
        if (!flushFolder(f.parent_path(), why))
            return false;
#endif
    return replaceDurably(path, text, why);
}

std::optional<std::string> RecordFiles::read(const fs::path& path, RecordFault& fault,
                                             std::string& why) {
    fault = RecordFault::None;
    why.clear();
#ifdef _WIN32
    // Links, folders, pipes and devices refused, and the size capped, before
    // anything is read.
    auto text = kronex::readRecordFile(path, kRecordMaxBytes, why);
    if (!text)
        fault = RecordFault::Unreadable;
    return text;
#else
    return readRecordFile(path, fault, why);
#endif
}

std::vector<fs::path> RecordFiles::list(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    // The entry's own kind: a link named like a record is not followed.
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (it->path().extension() == kRecordExtension &&
            fs::is_regular_file(it->symlink_status(kind)) && !kind)
            out.push_back(it->path());
    }
    return out;
}

bool RecordFiles::remove(const fs::path& path, std::string& why) {
#ifdef _WIN32
    return removeFileDurably(path, why);
#else
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        why = errnoText("removing " + path.string());
        return false;
    }
    return flushFolder(path.parent_path(), why);
#endif
}

RecordFiles& diskRecordFiles() {
    static RecordFiles disk;
    return disk;
}

} // namespace kronex
