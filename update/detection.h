// The start button: confirmation, the search for a unit on COM1 to COM16,
// the compatibility check and, on the first compatible unit, the update.
#pragma once

#include "workflow.h"

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
int CART_V2(MainWindowOps& window, LinkExchange& link, std::string& serial,
            std::optional<IdentityImage>* block = nullptr);

// The start button's click. After an update, whatever its outcome, the
// program is asked to end.
void sbATUClick(Workflow& w);

} // namespace kronex
