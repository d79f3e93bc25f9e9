// Hexadecimal text to number, as the release and the device commands use it.
#pragma once

#include <cstdint>
#include <string_view>

namespace kronex {

// Reads the upper-case hexadecimal digits of `text` ('0'-'9', 'A'-'F') as one
// number, most significant first; every other character (lower-case digits,
// blanks, signs) is dropped. Text without such a digit gives 0.
// With 16 or more kept digits the result is their value modulo 2^63, so it is
// never negative and its low bits are still the low bits of the digits.
std::int64_t HEX_PARA_INT(std::string_view text);

} // namespace kronex
