#include "progress_view.h"

#include "messages.h"

#include <algorithm>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace kronex::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr int kShortestBar = 10; // shorter, and the time left goes first

double fraction(const UnitProgress& u, const SessionPlan& plan) {
    if (plan.exchanges == 0)
        return 0;
    return std::min(1.0, static_cast<double>(u.exchanges.load()) / plan.exchanges);
}

std::string kilobytes(std::uint64_t bytes) {
    return decimal(static_cast<double>(bytes) / 1000, 1);
}

// How a unit ended, on its bar or its last line.
std::string endMark(const UnitProgress& u) {
    switch (u.outcome.load()) {
    case Outcome::Updated:
        return tr("updated");
    case Outcome::Skipped:
        return tr("left as it is");
    case Outcome::Interrupted:
        return tr("interrupted");
    default:
        return tr("failed");
    }
}

// The start of `text` that takes at most `columns` columns, never half a character.
std::string firstColumns(const std::string& text, std::size_t columns) {
    std::size_t end = 0;
    while (end < text.size()) {
        std::size_t next = end + 1;
        while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80)
            ++next;
        if (displayWidth(std::string_view(text).substr(0, next)) > columns)
            break;
        end = next;
    }
    return text.substr(0, end);
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

std::size_t terminalColumns(std::FILE* out) {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    if (console != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(console, &info) &&
        info.srWindow.Right > info.srWindow.Left)
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    winsize size{};
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

std::string fitBar(const std::string& name, double f, const std::string& figures,
                   const std::string& left, std::size_t columns) {
    const std::size_t room = columns > 0 ? columns - 1 : 0;
    const auto line = [&](std::size_t width, const std::string& tail) {
        const auto filled = static_cast<std::size_t>(f * static_cast<double>(width));
        std::string text = name + '[';
        text.append(filled, '#');
        text.append(width - filled, '.');
        return text + "] " + figures + tail;
    };
    const std::size_t withLeft = displayWidth(line(0, left));
    if (withLeft + kShortestBar <= room)
        return line(std::min<std::size_t>(kBarWidth, room - withLeft), left);
    const std::size_t without = displayWidth(line(0, ""));
    if (without < room)
        return line(std::min<std::size_t>(kBarWidth, room - without), "");
    return firstColumns(name + figures, room); // no room for a bar at all
}

ProgressView::ProgressView(std::FILE* out, const SessionPlan& plan)
    : out_(out), terminal_(drawsBars(out)) {
    plan_.exchanges = plan.exchanges;
    plan_.bytesOut = plan.bytesOut;
}

std::string ProgressView::bar(const UnitProgress& u, Seen& seen, std::size_t columns) const {
    const double f = fraction(u, plan_);
    std::string name = "COM" + std::to_string(u.port.load());
    name.resize(6, ' ');
    char text[96];
    const auto figuresOf = [&](int percent, std::uint64_t bytes) {
        std::snprintf(text, sizeof text, "%3d%%  %s/%s kB", percent, kilobytes(bytes).c_str(),
                      kilobytes(plan_.bytesOut).c_str());
        return std::string(text);
    };
    std::string figures =
        figuresOf(static_cast<int>(f * 100), std::min(u.bytes.load(), plan_.bytesOut));
    // As wide as at the end, so that the bar keeps its length as the figures grow.
    const std::size_t widest = displayWidth(figuresOf(100, plan_.bytesOut));
    if (displayWidth(figures) < widest)
        figures.insert(0, widest - displayWidth(figures), ' ');
    if (u.done)
        figures += "  " + endMark(u);
    std::string remaining;
    if (seen.started && f > 0.01 && !u.done) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - seen.start).count();
        const int left = static_cast<int>(elapsed * (1 - f) / f + 0.5);
        std::snprintf(text, sizeof text, "%d:%02d", left / 60, left % 60);
        remaining = "  " + fill(tr("{1} left"), {text});
    }
    return fitBar(name, f, figures, remaining, columns);
}

void ProgressView::plain(const UnitProgress& u, Seen& seen) {
    if (!seen.started || seen.ended)
        return;
    const double f = fraction(u, plan_);
    const int tenths = static_cast<int>(f * 10);
    const std::string done =
        fill(trn("{1} of {2} exchange", "{1} of {2} exchanges", plan_.exchanges),
             {std::to_string(std::min(u.exchanges.load(), plan_.exchanges)),
              std::to_string(plan_.exchanges)});
    std::string line;
    if (u.done) {
        seen.ended = true;
        line = fill(tr("{1}: {2}% ({3}), {4}"),
                    {"COM" + std::to_string(u.port.load()),
                     std::to_string(static_cast<int>(f * 100)), done, endMark(u)});
    } else if (tenths != seen.tenths) {
        line = fill(tr("{1}: {2}% ({3})"),
                    {"COM" + std::to_string(u.port.load()), std::to_string(tenths * 10), done});
    } else {
        return;
    }
    seen.tenths = tenths;
    std::fputs((line + "\n").c_str(), out_);
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
    // All bars in one write: a line another thread writes comes between
    // two frames, not into one.
    std::string frame;
    if (drawn_ > 0)
        frame = "\x1b[" + std::to_string(drawn_) + "A"; // back to the first bar
    drawn_ = 0;
    const std::size_t columns = terminalColumns(out_);
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (!seen_[i].started)
            continue; // still being found or checked, or declined: no bar
        frame += '\r';
        frame += bar(units[i], seen_[i], columns);
        frame += "\x1b[K\n";
        ++drawn_;
    }
    std::fputs(frame.c_str(), out_);
    std::fflush(out_);
}

void ProgressView::finish(const std::deque<UnitProgress>& units) {
    show(units);
    if (terminal_ && drawn_ > 0)
        std::fputc('\n', out_);
    std::fflush(out_);
}

} // namespace kronex::cli
