// The technician's language: every text kronex-update prints passes through
// tr(), which looks it up in the message catalogue (po/) of the language
// chosen at start (Portuguese from po/pt_BR.po, compiled in). JSON keys and values do not: they
// stay English.
#pragma once

#include <initializer_list>
#include <string>

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
