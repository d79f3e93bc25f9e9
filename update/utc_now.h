// The current time in UTC as ISO 8601, for records and traces that people
// on other PCs, in other time zones, read side by side.
#pragma once

#include <string>

namespace kronex {

// "2026-05-04T10:11:12Z", or with milliseconds "2026-05-04T10:11:12.345Z".
std::string utcNow(bool milliseconds = false);

} // namespace kronex
