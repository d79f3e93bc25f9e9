// Finding the unit: the search on COM1 to COM16, the handshake and the
// compatibility check. The window's start button and kronex-update both
// search with these.
#pragma once

#include "session_observer.h"
#include "workflow.h"

#include <functional>
#include <string>

namespace kronex {

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;
inline constexpr int kTriesPerPort = 11;
inline constexpr std::uint8_t kAttentionByte = 0x87;

// One handshake try on the open port: 0xBC out, "C" back.
bool SINCRONIZA(SerialPort& port);

// Reads the unit's identity with the attention byte set: 0 when the unit
// can take the release, 1 when not (`serial` is then empty). `block`, when
// given, receives the whole identity block read.
int CART_V2(SessionObserver& observer, LinkExchange& link, std::string& serial,
            std::optional<IdentityImage>* block = nullptr);

// Asked to stop the search between two tries (Ctrl-C); empty: never.
using StopAsked = std::function<bool()>;

// Up to kTriesPerPort handshake tries on the open port. Each answered try
// goes to `answered` (its number, from 0), which says whether the search
// ends with it; true when one did.
bool tryHandshakes(SerialPort& port, const std::function<bool(int attempt)>& answered,
                   const StopAsked& stop = {});

// COMfirst to COMlast in order: each port is opened, whatever the system
// answers, and handed to `visit`, which says whether the search ends there.
// That port is left open and its number returned; the others are closed
// again. 0: the search found nothing.
int scanPorts(SerialPort& port, int first, int last, const std::function<bool(int n)>& visit,
              const StopAsked& stop = {});

} // namespace kronex
