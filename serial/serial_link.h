// The program's one link to the unit: its port and the framed exchange on it.
#pragma once

#include "link_exchange.h"
#include "serial_port.h"

namespace kronex {

struct SerialLink {
    explicit SerialLink(CommApi& api) : port(api), exchange(port) {}
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    SerialPort port;
    LinkExchange exchange;
};

} // namespace kronex
