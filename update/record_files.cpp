#include "record_files.h"

#include <atomic>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kronex {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32

std::string lastErrorText(const std::string& what) {
    return what + " failed (error " + std::to_string(::GetLastError()) + ")";
}

bool replaceDurably(const fs::path& path, const std::string& text, std::string& why) {
    static std::atomic<unsigned> counter{0};
    std::wstring suffix = L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                          std::to_wstring(counter++) + L".tmp";
    const fs::path temp = path.native() + suffix;
    HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = lastErrorText("creating " + temp.string());
        return false;
    }
    DWORD written = 0;
    const bool ok =
        ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && ::FlushFileBuffers(h);
    if (!ok)
        why = lastErrorText("writing " + temp.string());
    ::CloseHandle(h);
    if (ok && !::MoveFileExW(temp.c_str(), path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = lastErrorText("renaming to " + path.string());
        ::DeleteFileW(temp.c_str());
        return false;
    }
    if (!ok)
        ::DeleteFileW(temp.c_str());
    return ok;
}

#else

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
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
    const int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || ::fsync(dir) != 0) {
        why = errnoText("flushing " + path.parent_path().string());
        ok = false;
    }
    if (dir >= 0)
        ::close(dir);
    return ok;
}

#endif

} // namespace

bool RecordFiles::replace(const fs::path& path, const std::string& text, std::string& why) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        why = "cannot make " + path.parent_path().string() + ": " + ec.message();
        return false;
    }
    return replaceDurably(path, text, why);
}

std::optional<std::string> RecordFiles::read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> RecordFiles::list(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == kRecordExtension && it->is_regular_file(ec))
            out.push_back(it->path());
    return out;
}

void RecordFiles::remove(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

RecordFiles& diskRecordFiles() {
    static RecordFiles disk;
    return disk;
}

} // namespace kronex
