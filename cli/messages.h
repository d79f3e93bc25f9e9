// The technician's language: every text kronex-update prints passes through
// tr(), which looks it up in the message catalogue (po/) of the language
// chosen at start. JSON keys and values do not: they stay English.
#pragma once

#include <initializer_list>
#include <string>

namespace kronex::cli {

// The text in the chosen language; the English text itself when the
// catalogue has none.
std::string tr(const char* english);

// Puts the values in place of "{1}", "{2}", ...
std::string fill(std::string text, std::initializer_list<std::string> values);

// "pt_BR" or "en": from --lang when given, else from the system's language.
void chooseLanguage(const std::string& lang);

} // namespace kronex::cli
