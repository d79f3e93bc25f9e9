#include "utc_now.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace kronex {

std::string utcNow(bool milliseconds) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &t);
#else
    gmtime_r(&t, &tm);
#endif
    char text[64];
    const int n =
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    if (milliseconds) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
        std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%03dZ",
                      static_cast<int>(ms.count()));
    } else {
        std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "Z");
    }
    return text;
}

} // namespace kronex
