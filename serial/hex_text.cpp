#include "hex_text.h"

namespace kronex {

std::int64_t HEX_PARA_INT(std::string_view text) {
    // Summing the binary expansion digit by digit gives the same value as
    // shifting in one nibble per kept digit; unsigned arithmetic keeps an
    // overlong text defined.
    std::uint64_t value = 0;
    for (const char c : text) {
        unsigned nibble;
        if (c >= '0' && c <= '9') {
            nibble = static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            nibble = static_cast<unsigned>(c - 'A' + 10);
        } else {
            continue;
        }
        value = (value << 4) | nibble;
    }
    return static_cast<std::int64_t>(value & 0x7FFF'FFFF'FFFF'FFFFULL);
}

} // namespace kronex
