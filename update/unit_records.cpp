#include "unit_records.h"

#include "identity_layout.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace kronex {

namespace fs = std::filesystem;

std::vector<KeptRecord> UnitRecords::whole() const {
    std::vector<KeptRecord> out;
    for (const auto& file : files_.list(folder_)) {
        RecordFault fault;
        std::string why;
        const auto text = files_.read(file, fault, why);
        if (!text)
            continue;
        if (auto record = parseRecord(*text))
            out.push_back({file, std::move(*record), files_.owner(file)});
    }
    return out;
}

std::vector<std::pair<fs::path, RecordFault>> UnitRecords::leftOut() const {
    std::vector<std::pair<fs::path, RecordFault>> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() != kRecordExtension)
            continue;
        RecordFault fault;
        std::string why;
        if (const auto text = files_.read(it->path(), fault, why))
            parseRecord(*text, &fault);
        if (fault != RecordFault::None)
            out.emplace_back(it->path(), fault);
    }
    return out;
}

fs::path UnitRecords::fileFor(const UnitBlock& identity) const {
    char unitBytes[7];
    const std::uint8_t* unit = identity.data() + kUnitBytesFirst;
    std::snprintf(unitBytes, sizeof unitBytes, "%02X%02X%02X", unit[0], unit[1], unit[2]);
    return folder_ / ("unit-" + serialOf(identity) + "-" + unitBytes + kRecordExtension);
}

fs::path UnitRecords::beforeRestoreFile(const UnitBlock& identity, const std::string& when) const {
    std::string stamp;
    for (const char c : when)
        if (c != ':' && c != '-')
            stamp += c; // no colon in a Windows file name
    return folder_ / "before-restore" /
           (fileFor(identity).stem().string() + "-" + stamp + kRecordExtension);
}

bool UnitRecords::keep(const fs::path& file, const UnitRecord& record, std::string& why) {
    return files_.replace(file, recordText(record), why);
}

bool UnitRecords::canKeep(const fs::path& file, std::string& why) {
    std::error_code ec;
    const auto status = fs::symlink_status(file, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        why = file.string() + " is there and is not a file";
        return false;
    }
    // Not a record by its name: no lookup ever reads it. A name of its own,
    // since sessions run side by side, in one process or several.
    static std::atomic<unsigned> count{0};
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path probe =
        folder_ / (".kronex-probe-" + std::to_string(tick) + "-" +
                   std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id())) + "-" +
                   std::to_string(count++));
    if (!files_.replace(probe, "probe\n", why))
        return false;
    std::string ignored; // a probe left behind is never read as a record
    files_.remove(probe, ignored);
    return true;
}

fs::path defaultUnitRecordFolder() {
#ifdef _WIN32
    const char* data = std::getenv("ProgramData");
    return fs::path(data && *data ? data : "C:\\ProgramData") / "KRONEX";
#else
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return fs::path(xdg) / "kronex";
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "") / ".local" / "state" / "kronex";
#endif
}

} // namespace kronex
