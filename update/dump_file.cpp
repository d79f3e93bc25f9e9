#include "dump_file.h"

#include <cstdio>
#include <fstream>
#include <system_error>

#ifndef _WIN32
#include "dos_devices.h"
#endif

namespace kronex {

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

bool writeDumpFile(const std::filesystem::path& path, const IdentityImage& identity) {
    std::error_code ec;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), ec);
    // Written beside the file and renamed over it, so a failed write never
    // leaves half a file.
    std::filesystem::path partial = path;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << dumpText(identity) << "\r\n";
        out.close();
        if (!out) {
            std::filesystem::remove(partial, ec);
            return false;
        }
    }
    std::filesystem::rename(partial, path, ec);
    if (ec) {
        std::filesystem::remove(partial, ec);
        return false;
    }
    return true;
}

} // namespace kronex
