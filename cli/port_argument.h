// A port as a technician types it: "12", "COM12" or "com12". Decimal only, so
// that a leading zero or "0x" can never turn into another port.
#pragma once

#include <optional>
#include <string>

namespace kronex::cli {

// USB adapters are often numbered above COM16; Windows goes up to COM256.
inline constexpr int kHighestNamedPort = 256;

// The port number, or nothing when the text is not a port from 1 to 256.
std::optional<int> parsePortArgument(const std::string& text);

} // namespace kronex::cli
