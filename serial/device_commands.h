// The unit's update-mode commands, each one framed exchange (a program
// block: five), and the routines the update workflow calls on top of them.
#pragma once

#include "identity_layout.h"
#include "link_exchange.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kronex {

inline constexpr std::uint8_t kAck = 0xAA;
inline constexpr std::size_t kPageBytes = 512;
inline constexpr std::size_t kDataBlockBytes = 256;

inline constexpr std::uint8_t kReadReplyLength = 2 + kBlockBytes; // 0x82

// Target 1 sets bit 7 of the command byte; any other value means target 0.
bool CMD_EXECUTA(LinkExchange& link, int target);
bool CMD_APAGA(LinkExchange& link, int target, std::uint16_t address);
// Reads 128 bytes; true only for a complete 130-byte reply (length 0x82),
// whatever its status byte. `data` is filled only then.
bool CMD_LE_BLOCO(LinkExchange& link, int target, std::uint16_t address, std::uint8_t* data);
// Erases at `address`, then writes one 128-byte block (blocks == 1) or four.
// True only when the erase and every write frame were acknowledged; the
// first refusal or silence stops the write. The link's `erasePair` numbers
// the pair from the erase to the last write's end, so a stop can wait for it.
bool CMD_GRAVA_PAGINA(LinkExchange& link, int target, int blocks, std::uint16_t address,
                      const std::uint8_t* data);
// One 256-byte data block in two halves; the second is sent only when the
// first was acknowledged.
bool CMD_GRAVA_MEMORIA(LinkExchange& link, int blockNumber, const std::uint8_t* data);

// Reads the identity block; `serial` becomes its serialText, or empty when
// the read failed. `block`, when given, receives the 128 bytes read.
bool LE_IDENTIFICACAO(LinkExchange& link, std::string& serial, std::uint8_t* block = nullptr);
// One 512-byte program block from up to 1024 hexadecimal characters
// (missing pairs give 0x00).
bool GRAVA_PAGINA_HEX(LinkExchange& link, int target, std::uint16_t address, std::string_view hex);
// One 256-byte data block from up to 512 hexadecimal characters (the rest
// 0xFF). A longer text is refused with false and nothing is sent.
bool GRAVA_MEMORIA_HEX(LinkExchange& link, int blockNumber, std::string_view hex);

} // namespace kronex
