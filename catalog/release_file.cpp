#include "release_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

namespace kronex {
namespace {

constexpr std::int64_t kMaxIdentifier = 65535; // string-table identifiers are 16 bits

// The characters Windows-1252 places at 0x80-0x9F.
constexpr std::array<char32_t, 27> kCp1252Extras = {
    0x20AC, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030,
    0x0160, 0x2039, 0x0152, 0x017D, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x017E, 0x0178};

bool cp1252Holds(char32_t c) {
    if (c >= 0x20 && c <= 0x7E)
        return true;
    if (c >= 0xA0 && c <= 0xFF)
        return true;
    return std::find(kCp1252Extras.begin(), kCp1252Extras.end(), c) != kCp1252Extras.end();
}

// Decodes one UTF-8 character at `pos`, advancing it; nullopt if malformed.
std::optional<char32_t> decodeUtf8(std::string_view s, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(s[pos]);
    int extra;
    char32_t c;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        c = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (pos + static_cast<std::size_t>(extra) >= s.size())
        return std::nullopt;
    for (int i = 1; i <= extra; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(i)]);
        if ((b & 0xC0) != 0x80)
            return std::nullopt;
        c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return std::nullopt;
    pos += static_cast<std::size_t>(extra) + 1;
    return c;
}

std::string codePointName(char32_t c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
    return buf;
}

std::optional<std::string> checkText(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const auto c = decodeUtf8(text, pos);
        if (!c)
            return "the text is not valid UTF-8";
        if (!cp1252Holds(*c))
            return "the text holds a character Windows-1252 cannot represent (" +
                   codePointName(*c) + ")";
    }
    return std::nullopt;
}

} // namespace

std::variant<ReleaseTable, ReleaseFileError> parseReleaseFile(std::string text) {
    auto storage = std::make_shared<const std::string>(std::move(text));
    const std::string_view all = *storage;
    std::vector<std::string_view> byId;
    std::vector<bool> seen;

    int lineNo = 0;
    for (std::size_t start = 0; start < all.size();) {
        ++lineNo;
        std::size_t end = all.find('\n', start);
        if (end == std::string_view::npos)
            end = all.size();
        std::string_view line = all.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;

        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            return ReleaseFileError{lineNo, "expected an identifier, a tab and the text"};
        const std::string_view idText = line.substr(0, tab);
        std::int64_t id = 0;
        const auto [ptr, ec] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
        if (ec != std::errc{} || ptr != idText.data() + idText.size() || idText.empty() || id < 1 ||
            id > kMaxIdentifier)
            return ReleaseFileError{lineNo, "the identifier must be a whole number from 1 to " +
                                                std::to_string(kMaxIdentifier)};
        const std::string_view entryText = line.substr(tab + 1);
        if (auto problem = checkText(entryText))
            return ReleaseFileError{lineNo, "entry " + std::to_string(id) + ": " + *problem};

        const auto index = static_cast<std::size_t>(id);
        if (index >= byId.size()) {
            byId.resize(index + 1);
            seen.resize(index + 1);
        }
        if (seen[index])
            return ReleaseFileError{lineNo, "entry " + std::to_string(id) + " is given twice"};
        seen[index] = true;
        byId[index] = entryText;
    }
    return ReleaseTable(std::move(byId), std::move(storage));
}

} // namespace kronex
