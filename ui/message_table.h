// What the message dialog shows for each message code.
#pragma once

#include "window_ops.h"

#include <span>
#include <string_view>

namespace kronex {

struct MessageEntry {
    MessageCode code;
    std::string_view name;
    std::string_view title;
    bool okEnabled;
    bool cancelEnabled;
    std::span<const std::string_view> lines; // in order; "" is an empty line
};

// The entry for `code`, or nullptr for a code the table does not hold.
const MessageEntry* findMessage(MessageCode code);

// Every entry, in code order.
std::span<const MessageEntry> messageTable();

} // namespace kronex
