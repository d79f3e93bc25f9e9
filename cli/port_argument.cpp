#include "port_argument.h"

namespace kronex::cli {

std::optional<int> parsePortArgument(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 3) {
        std::string prefix = digits.substr(0, 3);
        for (char& c : prefix)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (prefix == "COM")
            digits = digits.substr(3);
    }
    if (digits.empty() || digits.size() > 3)
        return std::nullopt;
    int n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > kHighestNamedPort)
        return std::nullopt;
    return n;
}

} // namespace kronex::cli
