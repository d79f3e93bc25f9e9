#include "question.h"

#include "interrupt.h"
#include "messages.h"

#include <cctype>
#include <iostream>

#ifdef _WIN32
#include <vector>
#include <windows.h>
#else
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

namespace kronex::cli {

namespace {

// How often a wait for the answer looks at the interrupt flag: the signal
// may reach another thread, leaving this one's wait untouched.
constexpr int kLookMs = 50;

enum class Read { Line, End, Interrupted };

#ifdef _WIN32
// A console is read only once Enter is in its buffer, so that a Ctrl-C is
// never mistaken for the end of the input by a read under way. The line is
// read as UTF-16 and kept in UTF-8 ("não" whatever the console's code page).
Read readConsoleLine(HANDLE in, std::string& line) {
    for (;;) {
        if (interrupted())
            return Read::Interrupted;
        DWORD waiting = 0;
        if (!GetNumberOfConsoleInputEvents(in, &waiting))
            return Read::End;
        bool enter = false;
        if (waiting > 0) {
            std::vector<INPUT_RECORD> events(waiting);
            DWORD seen = 0;
            if (!PeekConsoleInputW(in, events.data(), waiting, &seen))
                return Read::End;
            for (DWORD i = 0; i < seen && !enter; ++i)
                enter = events[i].EventType == KEY_EVENT && events[i].Event.KeyEvent.bKeyDown &&
                        events[i].Event.KeyEvent.uChar.UnicodeChar == L'\r';
        }
        if (!enter) {
            // Other events (keys, focus, the mouse) keep the handle signalled.
            if (waiting > 0)
                Sleep(kLookMs);
            else
                WaitForSingleObject(in, kLookMs);
            continue;
        }
        std::wstring text;
        wchar_t buffer[256];
        DWORD got = 0;
        while (text.find(L'\n') == std::wstring::npos) {
            if (!ReadConsoleW(in, buffer, 256, &got, nullptr) || got == 0)
                return interrupted() ? Read::Interrupted : Read::End;
            text.append(buffer, got);
        }
        text.erase(text.find_last_not_of(L"\r\n") + 1);
        if (!text.empty() && text[0] == 0x1A) // Ctrl-Z: the console's end of input
            return Read::End;
        const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
        line.assign(static_cast<std::size_t>(n), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), line.data(), n,
                            nullptr, nullptr);
        return Read::Line;
    }
}
#endif

Read readLine(std::string& line) {
    line.clear();
#ifdef _WIN32
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode))
        return readConsoleLine(in, line);
    if (interrupted())
        return Read::Interrupted;
    return std::getline(std::cin, line) ? Read::Line : Read::End;
#else
    for (;;) {
        if (interrupted())
            return Read::Interrupted;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, kLookMs);
        if (ready < 0 && errno != EINTR)
            return Read::End;
        if (ready <= 0)
            continue;
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) // a last line without its newline still counts
            return line.empty() ? Read::End : Read::Line;
        if (c == '\n')
            return Read::Line;
        line += c;
    }
#endif
}

} // namespace

Reply parseReply(std::string_view line) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!line.empty() && space(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && space(line.back()))
        line.remove_suffix(1);
    std::string word;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == 0xC3 && i + 1 < line.size() && line[i + 1] == '\x83') {
            word += "\xC3\xA3"; // Ã: ã
            ++i;
        } else if (c == 0xCC && i + 1 < line.size() && line[i + 1] == '\x83') {
            ++i; // a combining tilde ("na" + "~" + "o", as some keyboards send it)
        } else {
            word += static_cast<char>(c < 0x80 ? std::tolower(c) : c);
        }
    }
    for (const char* yes : {"s", "sim", "y", "yes"})
        if (word == yes)
            return Reply::Yes;
    for (const char* no : {"n", "n\xC3\xA3o", "nao", "no"})
        if (word == no)
            return Reply::No;
    return Reply::Unclear;
}

Answer ask(const std::string& question) {
    std::cerr << question << std::flush;
    for (int round = 0; round < 2; ++round) {
        std::string line;
        switch (readLine(line)) {
        case Read::Interrupted:
            std::cerr << "\n" << std::flush; // past the "^C" the terminal echoed
            return Answer::Interrupted;
        case Read::End:
            std::cerr << "\n" << std::flush;
            return Answer::Decline;
        case Read::Line:
            break;
        }
        switch (parseReply(line)) {
        case Reply::Yes:
            return Answer::Go;
        case Reply::No:
            return Answer::Decline;
        case Reply::Unclear:
            break;
        }
        if (round == 0)
            std::cerr << tr("Please answer y or yes (s, sim) to go on, or n or no (não) to leave "
                            "it as it is: ")
                      << std::flush;
    }
    return Answer::Decline;
}

} // namespace kronex::cli
