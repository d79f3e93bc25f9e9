#include "progress_view.h"

#include "messages.h"

#include <algorithm>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kronex::cli {

namespace {

constexpr int kBarWidth = 30;

double fraction(const UnitProgress& u, const SessionPlan& plan) {
    if (plan.exchanges == 0)
        return 0;
    return std::min(1.0, static_cast<double>(u.exchanges.load()) / plan.exchanges);
}

std::string kilobytes(std::uint64_t bytes) {
    return decimal(static_cast<double>(bytes) / 1000, 1);
}

} // namespace

bool drawsBars(std::FILE* out) {
#ifdef _WIN32
    // A console understands the cursor movements only with virtual-terminal
    // processing on (Windows 10 and later; Windows Terminal has it on). NUL
    // and files are not consoles even where _isatty says so.
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
    return isatty(fileno(out)) != 0;
#endif
}

ProgressView::ProgressView(std::FILE* out, SessionPlan plan)
    : out_(out), plan_(plan), terminal_(drawsBars(out)) {}

std::string ProgressView::bar(const UnitProgress& u, Seen& seen) const {
    const double f = fraction(u, plan_);
    const int filled = static_cast<int>(f * kBarWidth);
    std::string line = "COM" + std::to_string(u.port.load());
    line.resize(6, ' ');
    line += '[';
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    line += "] ";
    char text[96];
    std::snprintf(text, sizeof text, "%3d%%  %s/%s kB", static_cast<int>(f * 100),
                  kilobytes(std::min(u.bytes.load(), plan_.bytesOut)).c_str(),
                  kilobytes(plan_.bytesOut).c_str());
    line += text;
    if (seen.started && f > 0.01 && !u.done) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - seen.start).count();
        const int left = static_cast<int>(elapsed * (1 - f) / f + 0.5);
        std::snprintf(text, sizeof text, "%d:%02d", left / 60, left % 60);
        line += "  " + fill(tr("{1} left"), {text});
    }
    return line;
}

void ProgressView::plain(const UnitProgress& u, Seen& seen) {
    const int tenths = static_cast<int>(fraction(u, plan_) * 10);
    if (!seen.started || tenths == seen.tenths)
        return;
    seen.tenths = tenths;
    const std::string done =
        fill(trn("{1} of {2} exchange", "{1} of {2} exchanges", plan_.exchanges),
             {std::to_string(std::min(u.exchanges.load(), plan_.exchanges)),
              std::to_string(plan_.exchanges)});
    std::fprintf(out_, "COM%d: %d%% (%s)\n", u.port.load(), tenths * 10, done.c_str());
}

void ProgressView::show(const std::deque<UnitProgress>& units) {
    seen_.resize(units.size());
    for (std::size_t i = 0; i < units.size(); ++i)
        if (!seen_[i].started && units[i].sessionStarted) {
            seen_[i].started = true;
            seen_[i].start = std::chrono::steady_clock::now();
        }
    if (!terminal_) {
        for (std::size_t i = 0; i < units.size(); ++i)
            plain(units[i], seen_[i]);
        std::fflush(out_);
        return;
    }
    if (drawn_ > 0)
        std::fprintf(out_, "\x1b[%dA", drawn_); // back to the first bar
    drawn_ = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (units[i].port == 0)
            continue; // a scan that has not reached a port yet
        std::fprintf(out_, "\r%s\x1b[K\n", bar(units[i], seen_[i]).c_str());
        ++drawn_;
    }
    std::fflush(out_);
}

void ProgressView::finish(const std::deque<UnitProgress>& units) {
    show(units);
    if (terminal_ && drawn_ > 0)
        std::fputc('\n', out_);
    std::fflush(out_);
}

} // namespace kronex::cli
