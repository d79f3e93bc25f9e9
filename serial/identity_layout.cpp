#include "identity_layout.h"

#include <cstdio>

namespace kronex {

std::string serialText(const std::uint8_t* identity) {
    char text[9];
    std::snprintf(text, sizeof text, "29%02X%02X%02X", identity[0], identity[1], identity[2]);
    return text;
}

} // namespace kronex
