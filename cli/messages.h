// The technician's language: every text kronex-update prints passes through
// tr(), which looks it up in the message catalogue (po/) of the language
// chosen at start (Portuguese from po/pt_BR.po, compiled in). JSON keys and values do not: they
// stay English.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace kronex::cli {

// The text in the chosen language; the English text itself when the
// catalogue has none.
std::string tr(const char* english);

// While one lives, tr() on this thread answers English: for the JSON
// record, whose values stay English whatever the language.
class EnglishTexts {
  public:
    EnglishTexts();
    ~EnglishTexts();
    EnglishTexts(const EnglishTexts&) = delete;
    EnglishTexts& operator=(const EnglishTexts&) = delete;
};

// tr() answers English now: English chosen, or an EnglishTexts alive on
// this thread.
bool inEnglish();

// The text for a count of `n`, in the chosen language's plural form:
// trn("{1} block", "{1} blocks", n), with fill() putting the number in.
std::string trn(const char* singular, const char* plural, unsigned long long n);

// A number with `digits` decimals, in the chosen language's form: "4.3" in
// English, "4,3" in Portuguese (the JSON keeps its own numbers).
std::string decimal(double value, int digits);

// The columns `text` takes on a terminal: one per character, accents
// included ("Série" is five), none for combining marks.
std::size_t displayWidth(std::string_view text);

// `text` followed by spaces up to `width` columns (at least one space when
// it is as wide or wider): aligned columns whatever the language.
std::string padded(const std::string& text, std::size_t width);

// Marks a text for the catalogue where it is kept to be looked up later with tr().
constexpr const char* N_(const char* english) {
    return english;
}

// Puts the values in place of "{1}", "{2}", ...
std::string fill(std::string text, std::initializer_list<std::string> values);

// Portuguese (Brazil) for "pt_BR" (or any "pt"), English for "en"; without
// --lang, the system's language. false for a language it does not know.
// Called once at start, before any other thread.
bool chooseLanguage(const std::string& lang);

} // namespace kronex::cli
