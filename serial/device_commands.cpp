#include "device_commands.h"

#include "hex_text.h"

#include <algorithm>
#include <array>

namespace kronex {

namespace {

bool exchangeAndJudge(LinkExchange& link) {
    return link.ENVIA_QUADRO() && link.RECEBE_RESPOSTA() && link.reply[0] == kAck;
}

// Byte i of a hexadecimal text: the pair at 2i (an empty or one-digit piece
// past the end gives what HEX_PARA_INT makes of it).
std::uint8_t hexPair(std::string_view hex, std::size_t i) {
    const std::size_t at = 2 * i;
    const std::string_view piece = at < hex.size() ? hex.substr(at, 2) : std::string_view();
    return static_cast<std::uint8_t>(HEX_PARA_INT(piece) & 0xFF);
}

} // namespace

bool CMD_EXECUTA(LinkExchange& link, int target) {
    encodeFrame({kCmdRun, target}, link.frame.data());
    return exchangeAndJudge(link);
}

bool CMD_APAGA(LinkExchange& link, int target, std::uint16_t address) {
    encodeFrame({kCmdErase, target, address}, link.frame.data());
    return exchangeAndJudge(link);
}

bool CMD_LE_BLOCO(LinkExchange& link, int target, std::uint16_t address, std::uint8_t* data) {
    encodeFrame({kCmdRead, target, address}, link.frame.data());
    if (!link.ENVIA_QUADRO())
        return false;
    // A shorter reply would leave bytes of an earlier one in the buffer.
    if (!link.RECEBE_RESPOSTA() || link.replyLength != kReadReplyLength)
        return false;
    for (std::size_t i = 0; i < kBlockBytes; ++i)
        data[i] = CODIFICA_BYTE(link.reply[1 + i]);
    return true;
}

bool CMD_GRAVA_PAGINA(LinkExchange& link, int target, int blocks, std::uint16_t address,
                      const std::uint8_t* data) {
    struct Pair {
        LinkExchange& link;
        explicit Pair(LinkExchange& l) : link(l) { link.erasePair = ++link.erasePairs; }
        ~Pair() { link.erasePair = 0; }
    } pair(link);
    if (!CMD_APAGA(link, target, address))
        return false;
    const int frames = blocks == 1 ? 1 : 4;
    for (int k = 0; k < frames; ++k) {
        const auto at = static_cast<std::uint16_t>(address + k * kBlockBytes);
        encodeFrame({kCmdWrite, target, at}, link.frame.data(),
                    data + static_cast<std::size_t>(k) * kBlockBytes);
        if (!exchangeAndJudge(link))
            return false;
    }
    return true;
}

bool CMD_GRAVA_MEMORIA(LinkExchange& link, int blockNumber, const std::uint8_t* data) {
    const auto block = static_cast<std::uint16_t>(blockNumber);
    encodeFrame({kCmdWriteData, 0, block, 0x00}, link.frame.data(), data);
    if (!exchangeAndJudge(link))
        return false;
    encodeFrame({kCmdWriteData, 0, block, 0x80}, link.frame.data(), data + kBlockBytes);
    return exchangeAndJudge(link);
}

bool LE_IDENTIFICACAO(LinkExchange& link, std::string& serial, std::uint8_t* whole) {
    std::array<std::uint8_t, kBlockBytes> block{};
    if (!CMD_LE_BLOCO(link, 0, kIdentityBlockAddress, block.data())) {
        serial.clear();
        return false;
    }
    if (whole)
        std::copy(block.begin(), block.end(), whole);
    serial = serialText(block.data());
    return true;
}

bool GRAVA_PAGINA_HEX(LinkExchange& link, int target, std::uint16_t address, std::string_view hex) {
    std::array<std::uint8_t, kPageBytes> bytes{};
    for (std::size_t i = 0; i < kPageBytes; ++i)
        bytes[i] = hexPair(hex, i);
    return CMD_GRAVA_PAGINA(link, target, 4, address, bytes.data());
}

bool GRAVA_MEMORIA_HEX(LinkExchange& link, int blockNumber, std::string_view hex) {
    if (hex.size() > 2 * kDataBlockBytes)
        return false;
    std::array<std::uint8_t, kDataBlockBytes> bytes;
    bytes.fill(0xFF);
    // An empty text still sets byte 0 (to 0x00).
    const std::size_t pairs = hex.empty() ? 1 : (hex.size() + 1) / 2;
    for (std::size_t i = 0; i < pairs; ++i)
        bytes[i] = hexPair(hex, i);
    return CMD_GRAVA_MEMORIA(link, blockNumber, bytes.data());
}

} // namespace kronex
