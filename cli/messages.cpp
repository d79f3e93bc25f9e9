#include "messages.h"

#include "message_catalogue.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kronex::cli {

namespace {

using Texts = std::unordered_map<std::string, std::string>;

// The chosen language's texts, by their English text: empty for English.
// Filled once at start, before any thread runs; read-only afterwards.
Texts& chosenTexts() {
    static Texts texts;
    return texts;
}

// A compiled gettext catalogue (msgfmt's .mo): a header, then two tables of
// (length, offset) pairs, the English texts and their translations, in the
// byte order of the machine that wrote it.
Texts readMo(const unsigned char* mo, std::size_t size) {
    const auto word = [&](std::size_t at, bool swapped) -> std::uint32_t {
        if (at + 4 > size)
            return 0;
        const std::uint32_t b0 = mo[at], b1 = mo[at + 1], b2 = mo[at + 2], b3 = mo[at + 3];
        return swapped ? b0 << 24 | b1 << 16 | b2 << 8 | b3 : b3 << 24 | b2 << 16 | b1 << 8 | b0;
    };
    Texts texts;
    const bool swapped = word(0, false) != 0x950412DEu;
    if (word(0, swapped) != 0x950412DEu)
        return texts;
    const std::uint32_t count = word(8, swapped);
    const std::uint32_t originals = word(12, swapped), translations = word(16, swapped);
    const auto text = [&](std::uint32_t table, std::uint32_t i) -> std::string {
        const std::uint32_t length = word(table + 8 * i, swapped);
        const std::uint32_t offset = word(table + 8 * i + 4, swapped);
        if (offset > size || length > size - offset)
            return {};
        return {reinterpret_cast<const char*>(mo) + offset, length};
    };
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string english = text(originals, i);
        std::string translated = text(translations, i);
        if (!english.empty() && !translated.empty()) // "" is the catalogue's own header
            texts.emplace(std::move(english), std::move(translated));
    }
    return texts;
}

bool portuguese(const std::string& name) {
    return name.size() >= 2 && (name[0] == 'p' || name[0] == 'P') &&
           (name[1] == 't' || name[1] == 'T');
}

// The system's language: the user's interface language on Windows, the
// locale variables elsewhere.
bool systemIsPortuguese() {
#ifdef _WIN32
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_PORTUGUESE;
#else
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(name); value && *value)
            return portuguese(value);
    return false;
#endif
}

thread_local int tEnglishOnly = 0;

// The language chosen at start: false for English.
bool& portugueseChosen() {
    static bool chosen = false;
    return chosen;
}

bool portugueseNow() {
    return tEnglishOnly == 0 && portugueseChosen();
}

} // namespace

EnglishTexts::EnglishTexts() {
    ++tEnglishOnly;
}

EnglishTexts::~EnglishTexts() {
    --tEnglishOnly;
}

bool inEnglish() {
    return !portugueseNow();
}

std::string tr(const char* english) {
    if (tEnglishOnly > 0)
        return english;
    const Texts& texts = chosenTexts();
    const auto found = texts.find(english);
    return found == texts.end() ? english : found->second;
}

std::string trn(const char* singular, const char* plural, unsigned long long n) {
    if (!portugueseNow())
        return n == 1 ? singular : plural;
    // A plural entry is kept under "singular\0plural", its forms joined by
    // "\0" likewise; Portuguese (Brazil) takes the first form for 0 and 1
    // ("Plural-Forms: nplurals=2; plural=(n > 1);").
    const Texts& texts = chosenTexts();
    const auto found = texts.find(std::string(singular) + '\0' + plural);
    if (found == texts.end())
        return n == 1 ? singular : plural;
    const std::string& forms = found->second;
    const std::size_t split = forms.find('\0');
    if (n <= 1 || split == std::string::npos)
        return forms.substr(0, split);
    return forms.substr(split + 1, forms.find('\0', split + 1) - split - 1);
}

std::string decimal(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    std::string out = text;
    if (portugueseNow())
        std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

std::size_t displayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xC0) == 0x80)
            continue; // inside a character
        // U+0300 to U+036F, the combining marks, add no column.
        const bool combining = (b == 0xCC || (b == 0xCD && i + 1 < text.size() &&
                                              static_cast<unsigned char>(text[i + 1]) < 0xB0));
        width += combining ? 0 : 1;
    }
    return width;
}

std::string padded(const std::string& text, std::size_t width) {
    const std::size_t w = displayWidth(text);
    return text + std::string(w < width ? width - w : 1, ' ');
}

std::string fill(std::string text, std::initializer_list<std::string> values) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        // "{n}", n from 1 to the number of values; anything else stays as it is.
        const std::size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
        if (close == i + 2 && text[i + 1] >= '1' &&
            static_cast<std::size_t>(text[i + 1] - '0') <= values.size()) {
            out += *(values.begin() + (text[i + 1] - '1'));
            i = close + 1;
            continue;
        }
        out += text[i++];
    }
    return out;
}

bool chooseLanguage(const std::string& lang) {
    const bool english = lang == "en" || lang == "C";
    if (!lang.empty() && !english && !portuguese(lang))
        return false;
    const bool pt = lang.empty() ? systemIsPortuguese() : !english;
    portugueseChosen() = pt;
    chosenTexts() = pt ? readMo(kCataloguePtBr, kCataloguePtBrSize) : Texts{};
    return true;
}

} // namespace kronex::cli
