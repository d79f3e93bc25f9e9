#include "messages.h"

namespace kronex::cli {

std::string tr(const char* english) {
    return english;
}

std::string fill(std::string text, std::initializer_list<std::string> values) {
    int n = 1;
    for (const auto& v : values) {
        const std::string mark = "{" + std::to_string(n++) + "}";
        for (auto at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + v.size()))
            text.replace(at, mark.size(), v);
    }
    return text;
}

void chooseLanguage(const std::string&) {}

} // namespace kronex::cli
