#include "dump_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#ifdef _WIN32
#include <process.h>
#define KRONEX_PROCESS_ID _getpid()
#else
#include "dos_devices.h"

#include <unistd.h>
#define KRONEX_PROCESS_ID ::getpid()
#endif

namespace kronex {

namespace {

// A name beside `file` that no other writer picks: the process, a count
// within it and the time.
std::filesystem::path temporaryBeside(const std::filesystem::path& file) {
    static std::atomic<unsigned> count{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld-%u-%llu.tmp", static_cast<long>(KRONEX_PROCESS_ID),
                  count++, static_cast<unsigned long long>(ticks) % 1000000007ULL);
    std::filesystem::path temporary = file;
    temporary += suffix;
    return temporary;
}

std::error_code writeAt(DumpFiles& files, const std::filesystem::path& file,
                        const std::string& text) {
    std::error_code ec;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ec); // the write says if it matters
    const auto temporary = temporaryBeside(file);
    ec = files.createNew(temporary, text);
    if (ec)
        return ec;
    ec = files.replace(temporary, file);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    }
    return ec;
}

std::string why(const std::filesystem::path& file, const std::error_code& error) {
    return pathText(file) + " could not be written: " + fileErrorText(error);
}

} // namespace

std::string pathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string dumpText(const IdentityImage& identity) {
    std::string text;
    text.reserve(identity.size() * 3);
    for (const auto b : identity) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X.", b);
        text += pair;
    }
    return text;
}

std::filesystem::path dumpFilePath() {
#ifdef _WIN32
    return "C:\\TEXTO2.TXT";
#else
    return std::filesystem::path(posix::driveCRoot()) / "TEXTO2.TXT";
#endif
}

DumpResult writeDumpFile(const std::filesystem::path& first, const IdentityImage& identity,
                         DumpFiles& files) {
    const std::string text = dumpText(identity) + "\r\n";
    DumpResult result;
    const std::error_code firstError = writeAt(files, first, text);
    if (!firstError) {
        result.path = first;
        return result;
    }
    result.error = why(first, firstError);
    const std::filesystem::path folder = files.userFolder();
    if (folder.empty()) {
        result.error += "; the system names no folder of the user's own";
        return result;
    }
    const std::filesystem::path second = folder / first.filename();
    if (second == first)
        return result;
    if (const std::error_code secondError = writeAt(files, second, text)) {
        result.error += "; " + why(second, secondError);
        return result;
    }
    result.path = second;
    return result;
}

} // namespace kronex
